// One entry's analysis: composition, the checks that depend on its letters, the binary
// sequence, detection and random estimation. It prints nothing and touches no process-wide
// state, so that entries can be analysed on several threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver/settings.h"

struct EntryAnalysis {
  int length = 0;
  double frequencies[4] = {0, 0, 0, 0};  // A, T, G, C: the user's where given, else its own
  double special_probability = 0.0;      // probability of a special residue at a position
  int linkage = 0;                       // the linkage distance in effect (estimated with -K)
  std::vector<char> binary;              // '1'/'0' a position, plus a final '0'
  SegmentSource segments;                // what the report lists, walked as it is written
  LongestLengthCounts random_longest;    // longest merged lengths of the random sequences
};

// Upper-cases the letters in place and takes their composition; fails when they hold no
// A, T, G or C.
std::optional<Failure> TakeComposition(std::string* letters, EntryAnalysis* a);
// The checks that depend on the letters, the binary sequence, the special-residue
// probability and the linkage distance.
std::optional<Failure> EncodeEntry(const Settings& s, const std::string& letters, EntryAnalysis* a);
// The segments (the binary sequence moves into them), and with -S or -B the longest merged
// lengths of random sequences drawn from a generator seeded with `seed`; progress(k) comes
// before the k-th, every 1000.
void DetectSegments(const Settings& s, int64_t seed, const std::function<void(int)>& progress,
                    EntryAnalysis* a);
// The seed the clock gives: a run with --seed set to it draws the same numbers.
int64_t ClockSeed();
// What the report's first lines show for an analysed entry.
ReportHeader HeaderOf(const Settings& s, const EntryAnalysis& a);
// The entry as its outputs show it; `unmasked` is where the masked copy starts from.
EntryText TextOf(const Settings& s, const EntryAnalysis& a, const std::string& header,
                 const std::string& letters, const std::string& unmasked);
