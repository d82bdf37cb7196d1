// The p-value of each segment an entry's report lists: the scan statistic with the segment's
// length as the window, or, when random sequences were drawn, the empirical one from their
// longest merged lengths. Within an entry either depends on nothing but the segment's count
// and length, and runs mode meets the same short segments over and over: each distinct pair
// is scored, and its "%e" text made, once.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "random/estimate.h"
#include "stats/scan.h"

namespace kestra {

// A p-value and the text "%e" makes of it.
struct PValue {
  double p;
  int size;
  char text[32];
};
PValue MakePValue(double p);

struct SegmentScorer {
  int length = 0;  // the entry's length
  double special_probability = 0.0;
  const LongestLengthCounts* empirical = nullptr;  // set: empirical p-values
  // Pairs met, by (count, length): small ones in an array (size 0 where not yet scored),
  // which allocates nothing an entry, the rest in a map.
  std::unordered_map<uint64_t, PValue> known;
  std::vector<PValue> small;
  std::vector<int> small_used;  // slots of `small` filled, to empty them again cheaply
  ScanWorkspace workspace;
};

// Readies the scorer for an entry (or a piece of one), keeping the storage of the one before
// and, for the scan statistic of the same length and probability, what it scored.
void StartScoring(SegmentScorer* scorer, int length, double special_probability,
                  const LongestLengthCounts* empirical);
// The p-value of a segment of `length` positions holding `specials` special residues.
const PValue& ScoreSegment(SegmentScorer* scorer, int specials, int length);

}  // namespace kestra
