#include <utility>

#include "segments/segments.h"

SegmentSource MergedRunSource(std::vector<char> binary, int length, int linkage) {
  SegmentSource source;
  source.mode = DetectionMode::kRuns;
  source.binary = std::move(binary);
  source.length = length;
  source.runs = StartMergedRunWalk(length, linkage);
  source.count = CountMergedSegments(source.binary.data(), length, linkage);
  return source;
}

SegmentSource WindowSource(std::vector<char> binary, WindowScores scores, bool merge, int linkage) {
  SegmentSource source;
  source.mode = DetectionMode::kWindow;
  source.binary = std::move(binary);
  source.length = scores.length;
  source.scores = std::move(scores);
  source.windows = StartWindowWalk(source.binary.data(), source.scores, merge, linkage);
  // One walk counts the segments, on a copy of the walk's state; the scores it leaves serve
  // the walk that writes them.
  WindowWalk counting = source.windows;
  for (Segment s; NextWindowSegment(source.binary.data(), &source.scores, &counting, &s);) {
    ++source.count;
  }
  return source;
}

bool NextSegment(SegmentSource* source, Segment* s) {
  if (source->mode == DetectionMode::kWindow) {
    return NextWindowSegment(source->binary.data(), &source->scores, &source->windows, s);
  }
  return NextMergedSegment(source->binary.data(), &source->runs, s);
}
