// What every run does with an entry, whichever run it is (the first entry alone, every
// entry on several threads, the whole-run fuzz target): analyse it and write its report
// block, masked copy and BED lines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "driver/analysis.h"
#include "sequence/fasta.h"

struct EntryWork {
  const Settings* settings;
  int64_t seed;                       // of the random sequences of -S and -B
  std::function<void(int)> progress;  // before the k-th random sequence, every 1000
  // After the checks on the entry's letters, before detection (the first entry alone prints
  // its linkage distance and opens its outputs there).
  std::function<void(const EntryAnalysis&)> encoded;
};

// What an entry came to: skipped (with the failure that skipped it), or analysed.
struct EntryOutcome {
  std::optional<Failure> failure;
  int linkage = 0;
  EntryCounts counts;
};

// Analyses the entry (whose reading ended with `status`) and writes its outputs into the
// sinks given; a skipped entry's masked FASTA record is its letters as they stand (upper-cased
// unless the case is kept). `settings_failure`, when set, stops the entry after its
// composition, as the first entry alone reports a bad switch. The scorer is scratch kept from
// one entry to the next.
EntryOutcome ProcessEntry(const EntryWork& work, FastaEntry* entry, FastaStatus status,
                          const std::optional<Failure>& settings_failure, const EntrySinks& sinks,
                          SegmentScorer* scorer);
// The failure the reading of an entry stands for, if any.
std::optional<Failure> ReadFailure(FastaStatus status);
