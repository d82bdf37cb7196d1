// Segments of the sequence: the record, runs of special residues, merging by linkage
// distance and the scanning window.
#pragma once

#include <cstdint>
#include <vector>

#include "stats/scan.h"

// One segment; positions are 1-based, both ends included.
struct FRAGMENT {
  int start;
  int end;
  int len;        // end - start + 1
  int n_special;  // '1' cells of the binary sequence from start to end
  double p_val;   // p-value of the window the record was made from (window mode)
};

// Runs of '1' in the binary sequence merged by linkage distance: a run joins the segment
// before it when its start minus that segment's end is at most max_separation.

// The length of the longest merged segment, 0 when there is none.
int LongestMergedLength(const char* binary, int length, int max_separation);
// How many merged segments there are.
int CountMergedRuns(const char* binary, int length, int max_separation);

// The merged segments one at a time, in ascending order of start, read from the binary
// sequence 64 cells at a time.
struct MergedRuns {
  const char* binary;
  int length;
  int max_separation;
  int64_t base;           // 0-based index of the cell of bit 0 of `bits`
  uint64_t bits;          // '1' cells of the current word
  uint64_t starts;        // run starts of the current word not yet visited
  int64_t start;          // 1-based start of the merged segment in progress; 0 for none
  int64_t end;            // last special position before the current word
  int64_t ones;           // special positions before the current word
  int64_t ones_at_start;  // special positions before the segment in progress
};
MergedRuns StartMergedRuns(const char* binary, int length, int max_separation);
// The next merged run in ascending order of start; false when there is none.
bool NextMergedRun(MergedRuns* runs, FRAGMENT* f);

// Window mode. The p-value of a window depends on its count alone (W, the length and the
// probability are fixed), so each distinct count is scored once; the scores are kept
// between walks over the same sequence.
struct WindowScores {
  int W;
  int length;
  double P_special;
  double min_p_val;         // a window is recorded when its p-value lies below it
  std::vector<double> p;    // by count
  std::vector<char> state;  // by count: 0 not scored yet, 1 recorded, 2 not recorded
  ScanWorkspace ws;
};
WindowScores MakeWindowScores(int W, int length, double P_special, double min_p_val);

// The recorded windows of W positions, slid from the first position on; with `merge`, each
// joins the segment in progress when its start minus the segment's end is at most
// max_separation. Records come out as the window slides, so nothing grows with their number.
struct WindowWalk {
  const char* binary;
  WindowScores* scores;
  bool merge;
  int max_separation;
  int64_t j;              // 0-based start of the next window to score
  int64_t k;              // '1' cells of window j
  int64_t ones;           // '1' cells before position j
  bool open;              // a merged segment is in progress
  FRAGMENT current;       // that segment
  int64_t ones_at_start;  // '1' cells before its start
  int64_t ones_at_end;    // '1' cells up to its end
};
WindowWalk StartWindowWalk(const char* binary, WindowScores* scores, bool merge,
                           int max_separation);
// The next record: a recorded window, or with merging a merged segment; false at the end.
bool SlideWindowP(WindowWalk* walk, FRAGMENT* f);
// How many records a walk from the start gives.
int CountWindowRecords(WindowWalk walk);
