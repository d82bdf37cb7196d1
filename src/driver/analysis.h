// One entry's analysis: its composition, the checks that depend on its letters, the special
// bits, the linkage distance and random estimation. It prints nothing and touches no
// process-wide state, so that entries can be analysed on several threads at once; the
// encoding goes a stretch at a time, so that the stretches of a long entry can be encoded on
// several.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/settings.h"

struct EntryAnalysis {
  int length = 0;
  int64_t counts[4] = {0, 0, 0, 0};      // A, T, G, C among the letters
  int64_t specials = 0;                  // special residues among them
  double frequencies[4] = {0, 0, 0, 0};  // A, T, G, C: the user's where given, else its own
  double special_probability = 0.0;      // probability of a special residue at a position
  int linkage = 0;                       // the linkage distance in effect (estimated with -K)
  LongestLengthCounts random_longest;    // longest merged lengths of the random sequences
};

// Words of bits that growing leaves as they are, for the threads encoding the stretches to
// write (and so touch) them first, each its own.
template <class T>
struct UntouchedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UntouchedAllocator<U>;
  };
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class V>
  void construct(U* p, V&& v) {
    ::new (static_cast<void*>(p)) U(std::forward<V>(v));
  }
};
using BitWords = std::vector<uint64_t, UntouchedAllocator<uint64_t>>;

// Sizes the bits for n letters, in huge pages: the words after the letters' are 0, the others
// are left for the stretches to write (ClearWords).
void PrepareBits(int64_t n, BitWords* bits);
// Sets the words of positions [from, to) to 0; `from` is a multiple of 64, and so is `to`
// unless it ends the letters.
void ClearWords(uint64_t* bits, int64_t from, int64_t to);
// Upper-cases letters [from, to) in place, sets their special bits and adds their A, T, G, C
// and special residues to the counts given.
void EncodeStretch(const Settings& s, char* letters, int64_t from, int64_t to, uint64_t* bits,
                   int64_t counts[4], int64_t* specials);
// Once every stretch is encoded: the checks that depend on the letters (there must be some
// A, T, G or C first), the special-residue probability and the linkage distance.
// `settings_failure`, when given, comes after the composition check, as a bad switch does for
// the first entry alone.
std::optional<Failure> CheckEntry(const Settings& s, const std::optional<Failure>& settings_failure,
                                  EntryAnalysis* a);
// With -S or -B: the longest merged lengths of random sequences drawn from a generator seeded
// with `seed`; progress(k) comes before the k-th, every 1000.
void EstimateRandom(const Settings& s, int64_t seed, const uint64_t* bits,
                    const std::function<void(int)>& progress, EntryAnalysis* a);
// The seed the clock gives: a run with --seed set to it draws the same numbers.
int64_t ClockSeed();
// What the report's first lines show for an analysed entry.
ReportHeader HeaderOf(const Settings& s, const EntryAnalysis& a);
// The segments that open in cells [from, to) of the entry; window mode scores its windows in
// `scores`, kept by the thread from one walk to the next.
SegmentWalk SegmentsOf(const Settings& s, const EntryAnalysis& a, const uint64_t* bits,
                       int64_t from, int64_t to, WindowScores* scores);
// Whether the entry can be cut into stretches of `cells`: in window mode a stretch looks back
// at the windows that may join its first segment, which must stay few.
bool CanCut(const Settings& s, const EntryAnalysis& a, int64_t cells);
