// Segments of a sequence: the record, runs of special residues merged by linkage distance,
// the scanning window, and the walk over an entry's segments that the report writes from.
// Every walk reads the binary sequence: one cell per position, '1' where a special residue
// stands, '0' elsewhere, plus a '0' cell past the last position.
#pragma once

#include <cstdint>
#include <vector>

#include "stats/scan.h"

// One segment; positions are 1-based, both ends included.
struct Segment {
  int start;
  int end;
  int length;    // end - start + 1
  int specials;  // special residues from start to end
};

// The linkage rule: a run (or a recorded window) that starts at `start` joins the segment
// that so far ends at `end` when its start minus the linkage distance is at most that end.
inline bool JoinsSegment(int64_t start, int64_t end, int64_t linkage) {
  return start - linkage <= end;
}

// The merged runs of '1' cells one at a time, in ascending order of start, read 64 cells at
// a time. The walk holds no pointer: each step is given the binary sequence.
struct MergedRunWalk {
  int length;
  int linkage;
  int64_t base;           // 0-based index of the cell of bit 0 of `bits`
  uint64_t bits;          // '1' cells of the current word
  uint64_t starts;        // run starts of the current word not yet visited
  int64_t start;          // 1-based start of the segment in progress; 0 for none
  int64_t end;            // last special position before the current word
  int64_t ones;           // special positions before the current word
  int64_t ones_at_start;  // special positions before the segment in progress
};
MergedRunWalk StartMergedRunWalk(int length, int linkage);
// The next merged segment; false when there is none.
bool NextMergedSegment(const char* binary, MergedRunWalk* walk, Segment* s);
// The length of the longest merged segment (0 when there is none), and how many there are.
int LongestMergedLength(const char* binary, int length, int linkage);
int CountMergedSegments(const char* binary, int length, int linkage);

// Window mode. The p-value of a window depends on its count alone (the width, the length
// and the probability are fixed), so each count met is scored once.
enum class WindowVerdict : unsigned char { kUnscored, kRecorded, kPassed };
struct WindowScores {
  int width;
  int length;
  double special_probability;
  double record_below;                 // a window is recorded when its p-value lies below it
  std::vector<double> p;               // by count
  std::vector<WindowVerdict> verdict;  // by count
  ScanWorkspace workspace;
};
WindowScores MakeWindowScores(int width, int length, double special_probability,
                              double record_below);
// The recorded windows, slid from the first position on; with `merge`, each joins the
// segment in progress by the linkage rule. Records come out as the window slides.
struct WindowWalk {
  bool merge;
  int linkage;
  int64_t j;              // 0-based start of the next window to score
  int64_t k;              // '1' cells of window j
  int64_t ones;           // '1' cells before position j
  bool open;              // a merged segment is in progress
  Segment current;        // that segment
  int64_t ones_at_start;  // '1' cells before its start
  int64_t ones_at_end;    // '1' cells up to its end
};
WindowWalk StartWindowWalk(const char* binary, const WindowScores& scores, bool merge, int linkage);
// The next recorded window, or with merging the next merged segment; false at the end.
bool NextWindowSegment(const char* binary, WindowScores* scores, WindowWalk* walk, Segment* s);

// The segments an entry's report lists, walked as they are written so that no list of them
// is kept. It owns what it walks (the binary sequence, the window scores), so a copy walks on
// its own.
enum class DetectionMode { kRuns, kWindow };
struct SegmentSource {
  DetectionMode mode = DetectionMode::kRuns;
  std::vector<char> binary;
  int length = 0;
  MergedRunWalk runs{};
  WindowScores scores{};
  WindowWalk windows{};
  int count = 0;  // how many segments there are
};
SegmentSource MergedRunSource(std::vector<char> binary, int length, int linkage);
SegmentSource WindowSource(std::vector<char> binary, WindowScores scores, bool merge, int linkage);
// The next segment in report order; false past the last one.
bool NextSegment(SegmentSource* source, Segment* s);
