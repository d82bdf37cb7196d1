// Segments of the sequence: the record, runs of special residues, merging by linkage
// distance and the scanning window.
#pragma once

#include <cstdint>
#include <vector>

// One segment; positions are 1-based, both ends included.
struct FRAGMENT {
  int start;
  int end;
  int len;        // end - start + 1
  int n_special;  // '1' cells of the binary sequence from start to end
  double p_val;   // p-value of the window the record was made from (window mode)
};

// Segments in ascending order of start.
using SegmentList = std::vector<FRAGMENT>;

// Number of '1' cells at 0-based indices from..to (both included); 0 when to < from.
int ComputeN(const char* binary, int from, int to);
// Appends one record per maximal run of '1' to list; returns the longest run, 0 if none.
int FindRuns(const char* binary, int length, SegmentList* list);
// Merges records whose start minus the current end is at most max_separation, in place,
// then recounts len and n_special; returns the largest len, 0 for an empty list.
int MergeSegmentsDiscrete(const char* binary, SegmentList* list, int max_separation);
// What FindRuns followed by MergeSegmentsDiscrete returns, in one pass without a list.
int LongestMergedLength(const char* binary, int length, int max_separation);
// How many records FindRuns followed by MergeSegmentsDiscrete leaves, without a list.
int CountMergedRuns(const char* binary, int length, int max_separation);

// The records FindRuns followed by MergeSegmentsDiscrete makes, one at a time, read from
// the binary sequence 64 cells at a time.
struct MergedRuns {
  const char* binary;
  int length;
  int max_separation;
  int64_t base;     // 0-based index of the cell of bit 0 of `bits`
  uint64_t bits;    // '1' cells of the current word
  uint64_t starts;  // run starts of the current word not yet visited
  int64_t start;    // 1-based start of the merged segment in progress; 0 for none
  int64_t end;      // last special position before the current word
  int64_t ones;     // special positions before the current word
  int64_t ones_at_start;  // special positions before the segment in progress
};
MergedRuns StartMergedRuns(const char* binary, int length, int max_separation);
// The next merged run in ascending order of start; false when there is none.
bool NextMergedRun(MergedRuns* runs, FRAGMENT* f);

// Appends every window of W positions whose scan-statistic p-value lies below min_p_val;
// returns the largest count of special residues in any window.
int SlideWindowP(const char* binary, int length, int W, double min_p_val, double P_special,
                 SegmentList* list);
