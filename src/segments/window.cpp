#include <algorithm>

#include "segments/segments.h"

namespace kestra {

void PrepareWindowScores(WindowScores* s, int width, int length, double special_probability,
                         double record_below) {
  if (s->width == width && s->length == length && s->special_probability == special_probability &&
      s->record_below == record_below) {
    return;
  }
  s->width = width;
  s->length = length;
  s->special_probability = special_probability;
  s->record_below = record_below;
  s->p.clear();
  s->verdict.clear();
  s->workspace.keep_terms = true;  // every window has the same width
}

namespace {

// Scores a count met for the first time. The tables grow to the largest count met, not to
// the width.
void ScoreCount(WindowScores* s, int64_t k) {
  const std::size_t i = static_cast<std::size_t>(k);
  if (i >= s->verdict.size()) {
    s->p.resize(i + 1, 0.0);
    s->verdict.resize(i + 1, WindowVerdict::kUnscored);
  }
  s->p[i] =
      ScanPValue(static_cast<int>(k), s->width, s->length, s->special_probability, &s->workspace);
  s->verdict[i] = s->p[i] < s->record_below ? WindowVerdict::kRecorded : WindowVerdict::kPassed;
}

// Slides from window w->j to the next recorded one starting at `last` at the latest; false
// when there is none. Most windows are not recorded, so this loop keeps its state in
// registers and looks up one byte a window.
inline __attribute__((always_inline)) bool SlideToRecorded(const uint64_t* bits, WindowScores* s,
                                                           WindowWalk* w, int64_t last) {
  const int64_t W = s->width;
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
    // The cell past the last position is 0, so the cell entering the last window is there.
    const int64_t leaving = SpecialAt(bits, j);
    k += SpecialAt(bits, j + W) - leaving;
    ones += leaving;
  }
  w->j = j;
  w->k = k;
  w->ones = ones;
  return found;
}

// The segment in progress, its length and count taken from the cells it spans.
Span ClosedSegment(const WindowWalk& w) {
  Span s = w.current;
  s.length = s.end - s.start + 1;
  s.specials = static_cast<int>(w.ones_at_end - w.ones_at_start);
  return s;
}

// The windows that still matter from w->j on: those starting before the end of the piece,
// and past it those that could join the segment in progress, if it started in the piece (one
// that started before is an earlier piece's to follow).
int64_t LastWindowThatMatters(const WindowScores& s, const WindowWalk& w) {
  int64_t last = w.to - 1;
  if (w.merge && w.open && w.owned) {
    last = std::max(last, int64_t{w.current.end} + w.linkage - 1);
  }
  return std::min(last, int64_t{s.length} - s.width);
}

// A segment of this piece's own begins with `window`; the special residues before its
// first and after its last position are `ones_at_start` and `ones_at_end`.
void BeginSegment(WindowWalk* w, const Span& window, int64_t ones_at_start, int64_t ones_at_end) {
  w->open = true;
  w->owned = true;
  w->current = window;
  w->ones_at_start = ones_at_start;
  w->ones_at_end = ones_at_end;
}

}  // namespace

WindowWalk StartWindowWalk(const uint64_t* bits, WindowScores* scores, bool merge, int linkage,
                           int64_t from, int64_t to) {
  const int64_t W = scores->width;
  WindowWalk w{};
  w.merge = merge;
  w.linkage = linkage;
  w.to = to;
  // A window starting at `from` on joins one that started at j when j + W reaches its start
  // minus the linkage distance: the last recorded window from there on is the segment's end.
  const int64_t first = merge ? std::max<int64_t>(0, from + 1 - linkage - W) : from;
  w.j = std::min<int64_t>(first, from);
  w.k = CountSpecials(bits, w.j, std::min<int64_t>(w.j + W, scores->length));
  while (w.j < from && SlideToRecorded(bits, scores, &w, from - 1)) {
    w.open = true;
    w.current.end = static_cast<int>(w.j + W);
    const int64_t leaving = SpecialAt(bits, w.j);
    w.k += SpecialAt(bits, w.j + W) - leaving;
    ++w.j;
  }
  w.ones = 0;  // counted from `from` on
  return w;
}

bool NextWindowSegment(const uint64_t* bits, WindowScores* scores, WindowWalk* w, Span* s) {
  const int W = scores->width;
  if (W < 1) return false;
  while (SlideToRecorded(bits, scores, w, LastWindowThatMatters(*scores, *w))) {
    const Span window{static_cast<int>(w->j + 1), static_cast<int>(w->j + W), W,
                      static_cast<int>(w->k)};
    const int64_t ones_at_start = w->ones, ones_at_end = w->ones + w->k;
    const int64_t start = w->j;
    const int64_t leaving = SpecialAt(bits, w->j);
    w->k += SpecialAt(bits, w->j + W) - leaving;
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
    const bool had = w->open && w->owned;
    const Span closed = ClosedSegment(*w);
    if (start >= w->to) {
      // Past the piece: the segment in progress ends before this window.
      w->open = false;
      w->j = int64_t{scores->length};
      if (had) *s = closed;
      return had;
    }
    BeginSegment(w, window, ones_at_start, ones_at_end);
    if (had) {
      *s = closed;
      return true;
    }
  }
  const bool had = w->open && w->owned;
  if (had) *s = ClosedSegment(*w);
  w->open = false;
  return had;
}

}  // namespace kestra
