#include "segments/segments.h"

namespace kestra {

SegmentWalk MergedRunSegments(const uint64_t* bits, int64_t length, int linkage, int64_t from,
                              int64_t to) {
  SegmentWalk walk;
  walk.mode = DetectionMode::kRuns;
  walk.runs = StartMergedRunWalk(bits, length, linkage, from, to);
  return walk;
}

SegmentWalk WindowSegments(const uint64_t* bits, WindowScores* scores, bool merge, int linkage,
                           int64_t from, int64_t to) {
  SegmentWalk walk;
  walk.mode = DetectionMode::kWindow;
  walk.scores = scores;
  walk.windows = StartWindowWalk(bits, scores, merge, linkage, from, to);
  return walk;
}

bool NextSegment(const uint64_t* bits, SegmentWalk* walk, Span* s) {
  if (walk->mode == DetectionMode::kWindow) {
    return NextWindowSegment(bits, walk->scores, &walk->windows, s);
  }
  return NextMergedSegment(bits, &walk->runs, s);
}

}  // namespace kestra
