// Segments of a sequence: the record, runs of special residues merged by linkage distance,
// the scanning window, and the walk over the segments of a piece of positions that the
// report writes from. Every walk reads the special bits: bit i of word i / 64 is set when
// position i + 1 holds a special residue; the bits past the last position are 0, and one
// word of 0 follows them.
#pragma once

#include <cstdint>
#include <vector>

#include "base/detection_mode.h"
#include "stats/scan.h"

namespace kestra {

inline bool SpecialAt(const uint64_t* bits, int64_t cell) {
  return (bits[cell >> 6] >> (cell & 63)) & 1;
}
// Set bits of a word, without a library call on machines that lack the instruction.
inline int64_t BitCount(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<int64_t>((x * 0x0101010101010101ULL) >> 56);
}
// Special residues in cells [from, to).
int64_t CountSpecials(const uint64_t* bits, int64_t from, int64_t to);

// One segment; positions are 1-based, both ends included.
struct Span {
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

// The merged runs that open in cells [from, to), in ascending order of start; the last may
// reach past `to`. Read 64 cells at a time: a run opens a segment when the `linkage` cells
// before it hold no special residue, so the runs that join one are never visited. The walk
// holds no pointer: each step is given the bits.
struct MergedRunWalk {
  int64_t length;
  int64_t linkage;
  int64_t to;
  int64_t check_word;     // from this word on, the walk may have nothing more to give
  int64_t word;           // the word whose opening runs are being visited
  uint64_t opens;         // cells of that word where a segment opens, not yet visited
  int64_t ones;           // special residues in the words before `word` (from the first read)
  int64_t last_one;       // cell of the last special residue before `word`; very low if none
  bool open;              // a segment is in progress
  int64_t open_start;     // its first cell
  int64_t ones_at_start;  // special residues before it (counted as `ones`)
};
MergedRunWalk StartMergedRunWalk(const uint64_t* bits, int64_t length, int linkage, int64_t from,
                                 int64_t to);
// The next merged segment; false when there is none.
bool NextMergedSegment(const uint64_t* bits, MergedRunWalk* walk, Span* s);
// How many merged segments open in cells [from, to), counted a word at a time.
int64_t CountMergedSegments(const uint64_t* bits, int64_t length, int linkage, int64_t from,
                            int64_t to);
// The length of the longest merged segment of the sequence, 0 when there is none.
int LongestMergedLength(const uint64_t* bits, int64_t length, int linkage);

// Window mode. The p-value of a window depends on its count alone (the width, the length
// and the probability are fixed), so each count met is scored once.
enum class WindowVerdict : unsigned char { kUnscored, kRecorded, kPassed };
struct WindowScores {
  int width = 0;
  int length = 0;
  double special_probability = -1.0;
  double record_below = 0.0;           // a window is recorded when its p-value lies below it
  std::vector<double> p;               // by count
  std::vector<WindowVerdict> verdict;  // by count
  ScanWorkspace workspace;
};
// Readies `scores` for windows of these settings. What it scored for the same ones (another
// piece of the entry, an earlier walk) stands: a count is scored once a thread and entry.
void PrepareWindowScores(WindowScores* scores, int width, int length, double special_probability,
                         double record_below);
// The recorded windows whose start lies in cells [from, to), slid from `from` on; with
// `merge`, each joins the segment in progress by the linkage rule, and the segments that open
// in [from, to) are given, the last maybe reaching past `to`.
struct WindowWalk {
  bool merge;
  int linkage;
  int64_t to;
  int64_t j;              // 0-based start of the next window to score
  int64_t k;              // special residues of window j
  int64_t ones;           // special residues from `from` up to cell j
  bool open;              // a merged segment is in progress
  bool owned;             // it opened in [from, to), so this walk gives it
  Span current;           // that segment
  int64_t ones_at_start;  // special residues before its start (counted as `ones`)
  int64_t ones_at_end;    // special residues up to its end
};
// Starts at `from`; with merging, a segment that opened before `from` and that the windows
// from `from` on still join is followed but not given (the walk of the piece before gives
// it). The windows before `from` that could join are scored to find it: up to width +
// linkage of them.
WindowWalk StartWindowWalk(const uint64_t* bits, WindowScores* scores, bool merge, int linkage,
                           int64_t from, int64_t to);
// The next recorded window, or with merging the next merged segment; false at the end.
bool NextWindowSegment(const uint64_t* bits, WindowScores* scores, WindowWalk* walk, Span* s);

// The segments of a piece that a report lists, walked as they are written so that no list
// of them is kept: merged runs (runs mode) or recorded windows (window mode). It holds no
// pointer to the bits: each step is given them. Window mode scores its windows in the
// caller's table, which walks of the same settings may share one after another.
struct SegmentWalk {
  DetectionMode mode = DetectionMode::kRuns;
  MergedRunWalk runs{};
  WindowScores* scores = nullptr;
  WindowWalk windows{};
};
SegmentWalk MergedRunSegments(const uint64_t* bits, int64_t length, int linkage, int64_t from,
                              int64_t to);
SegmentWalk WindowSegments(const uint64_t* bits, WindowScores* scores, bool merge, int linkage,
                           int64_t from, int64_t to);
// The next segment in report order; false past the last one.
bool NextSegment(const uint64_t* bits, SegmentWalk* walk, Span* s);

}  // namespace kestra
