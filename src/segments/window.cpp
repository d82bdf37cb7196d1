#include "segments/segments.h"

WindowScores MakeWindowScores(int width, int length, double special_probability,
                              double record_below) {
  return WindowScores{width, length, special_probability, record_below, {}, {}, ScanWorkspace{}};
}

// Scores a count met for the first time. The tables grow to the largest count met, not to
// the width.
static void ScoreCount(WindowScores* s, int64_t k) {
  const std::size_t i = static_cast<std::size_t>(k);
  if (i >= s->p.size()) {
    s->p.resize(i + 1, 0.0);
    s->verdict.resize(i + 1, WindowVerdict::kUnscored);
  }
  s->p[i] =
      ScanPValue(static_cast<int>(k), s->width, s->length, s->special_probability, &s->workspace);
  s->verdict[i] = s->p[i] < s->record_below ? WindowVerdict::kRecorded : WindowVerdict::kPassed;
}

WindowWalk StartWindowWalk(const char* binary, const WindowScores& scores, bool merge,
                           int linkage) {
  WindowWalk w{merge, linkage, 0, 0, 0, false, {}, 0, 0};
  for (int i = 0; i < scores.width && i < scores.length; ++i) w.k += binary[i] == '1';
  return w;
}

// Slides from window w->j to the next recorded one; false when none is left. Most windows
// are not recorded, so this loop keeps its state in registers and looks up one byte a window.
static bool SlideToRecorded(const char* b, WindowScores* s, WindowWalk* w) {
  const int64_t W = s->width, last = int64_t{s->length} - W;
  int64_t j = w->j, k = w->k, ones = w->ones;
  bool found = false;
  for (; j <= last; ++j) {
    const std::size_t count = static_cast<std::size_t>(k);
    if (count >= s->verdict.size() || s->verdict[count] == WindowVerdict::kUnscored) {
      ScoreCount(s, k);
    }
    if (s->verdict[count] == WindowVerdict::kRecorded) {
      found = true;
      break;
    }
    // Cell `length` is '0', so the cell entering the last window is always there to read.
    const int64_t leaving = b[j] == '1';
    k += (b[j + W] == '1') - leaving;
    ones += leaving;
  }
  w->j = j;
  w->k = k;
  w->ones = ones;
  return found;
}

// The merged segment in progress, its length and count taken from the cells it spans.
static Segment ClosedSegment(const WindowWalk& w) {
  Segment s = w.current;
  s.length = s.end - s.start + 1;
  s.specials = static_cast<int>(w.ones_at_end - w.ones_at_start);
  return s;
}

bool NextWindowSegment(const char* binary, WindowScores* scores, WindowWalk* w, Segment* s) {
  const int W = scores->width;
  if (W < 1) return false;
  while (SlideToRecorded(binary, scores, w)) {
    const Segment window{static_cast<int>(w->j + 1), static_cast<int>(w->j + W), W,
                         static_cast<int>(w->k)};
    const int64_t ones_at_start = w->ones, ones_at_end = w->ones + w->k;
    const int64_t leaving = binary[w->j] == '1';
    w->k += (binary[w->j + W] == '1') - leaving;
    w->ones += leaving;
    ++w->j;
    if (!w->merge) {
      *s = window;
      return true;
    }
    // Windows come in ascending order of start and all end W - 1 after it, so a joining
    // window always carries the segment's end forward.
    if (w->open && JoinsSegment(window.start, w->current.end, w->linkage)) {
      w->current.end = window.end;
      w->ones_at_end = ones_at_end;
      continue;
    }
    const bool had = w->open;
    if (had) *s = ClosedSegment(*w);
    w->open = true;
    w->current = window;
    w->ones_at_start = ones_at_start;
    w->ones_at_end = ones_at_end;
    if (had) return true;
  }
  if (!w->open) return false;
  *s = ClosedSegment(*w);
  w->open = false;
  return true;
}
