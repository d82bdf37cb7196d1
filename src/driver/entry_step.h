// What every run does with an entry, whichever run it is (the first entry alone, every
// entry on several threads, the whole-run fuzz target): analyse it and write its report
// block, masked copy and BED lines. A long entry is cut into stretches that the threads of a
// pool encode and format apart, each stretch's output written in order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "driver/analysis.h"
#include "driver/work_pool.h"
#include "sequence/fasta.h"

// What a stretch of an entry gives: its buffers (when formatted apart), its scorer and counts.
// Side by side in a vector, one a thread: apart by more than a cache line, so that threads
// writing their own do not share one.
struct alignas(128) StretchSlot {
  TextSink report, fasta, bed;
  SegmentScorer scorer;
  WindowScores windows;
  int64_t counts[4] = {0, 0, 0, 0};
  int64_t specials = 0, segments = 0, masked = 0;
};

struct EntryWork {
  const Settings* settings;
  int64_t seed;                       // of the random sequences of -S and -B
  std::function<void(int)> progress;  // before the k-th random sequence, every 1000
  // After the checks on the entry's letters, before detection (the first entry alone prints
  // its linkage distance and opens its outputs there).
  std::function<void(const EntryAnalysis&)> encoded;
  WorkPool* pool = nullptr;  // threads that take stretches; none: this thread does all
  int64_t stretch = 0;       // cells of a stretch (a multiple of 320); 0: a default
  // Called before stretches written by several threads reach the sinks: once it returns, the
  // sinks must write straight to their files (whoever formats a stretch writes it out).
  std::function<void()> before_writing_apart;
  // The slots of stretches formatted apart, one a thread of the pool and one for the others
  // (PoolLane), shared by the entries of a run: a thread makes one stretch at a time. Sized
  // before the threads start; none: each entry's scratch has its own.
  std::vector<StretchSlot>* lanes = nullptr;
};

// What an entry came to: skipped (with the failure that skipped it), or analysed.
struct EntryOutcome {
  std::optional<Failure> failure;
  int linkage = 0;
  int64_t segments = 0;
  int64_t masked = 0;        // positions masked
  bool normal_valid = true;  // the overall test's normal approximation holds
};

// What a thread keeps from one entry to the next, so that entries allocate nothing new: the
// special and mask bits, and the slot of the stretches it does in order.
struct EntryScratch {
  BitWords bits, mask;
  std::vector<StretchSlot> stretches;  // one a thread, when `lanes` are not given
};

// Analyses the entry (whose reading ended with `status`) and writes its outputs into the
// sinks given; a skipped entry's masked FASTA record is its letters as they stand (upper-cased
// unless the case is kept). `settings_failure`, when set, stops the entry after its
// composition, as the first entry alone reports a bad switch.
EntryOutcome ProcessEntry(const EntryWork& work, FastaEntry* entry, FastaStatus status,
                          const std::optional<Failure>& settings_failure, const EntrySinks& sinks,
                          EntryScratch* scratch);
// The failure the reading of an entry stands for, if any.
std::optional<Failure> ReadFailure(FastaStatus status);
