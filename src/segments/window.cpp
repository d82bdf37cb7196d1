#include "segments/segments.h"

WindowScores MakeWindowScores(int W, int length, double P_special, double min_p_val) {
  return WindowScores{W, length, P_special, min_p_val, {}, {}, ScanWorkspace{}};
}

// Scores a count met for the first time. The tables grow to the largest count met, not to W.
static void ScoreCount(WindowScores* s, int64_t k) {
  const std::size_t i = static_cast<std::size_t>(k);
  if (i >= s->p.size()) {
    s->p.resize(i + 1, 0.0);
    s->state.resize(i + 1, 0);
  }
  s->p[i] = P_scan_ge_K_in_W_N(static_cast<int>(k), s->W, s->length, s->P_special, &s->ws);
  s->state[i] = s->p[i] < s->min_p_val ? 1 : 2;
}

WindowWalk StartWindowWalk(const char* binary, WindowScores* scores, bool merge,
                           int max_separation) {
  WindowWalk w{binary, scores, merge, max_separation, 0, 0, 0, false, {}, 0, 0};
  for (int i = 0; i < scores->W && i < scores->length; ++i) w.k += binary[i] == '1';
  return w;
}

// Slides from window w->j to the next recorded one; false when none is left. Most windows
// are not recorded, so this loop keeps its state in registers and looks up one byte a window.
static bool SlideToRecorded(WindowWalk* w) {
  WindowScores* s = w->scores;
  const char* b = w->binary;
  const int64_t W = s->W, last = int64_t{s->length} - W;
  int64_t j = w->j, k = w->k, ones = w->ones;
  bool found = false;
  for (; j <= last; ++j) {
    if (static_cast<std::size_t>(k) >= s->state.size() || s->state[k] == 0) ScoreCount(s, k);
    if (s->state[k] == 1) {
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
static FRAGMENT ClosedSegment(const WindowWalk& w) {
  FRAGMENT f = w.current;
  f.len = f.end - f.start + 1;
  f.n_special = static_cast<int>(w.ones_at_end - w.ones_at_start);
  return f;
}

bool SlideWindowP(WindowWalk* w, FRAGMENT* f) {
  const int W = w->scores->W;
  if (W < 1) return false;
  while (SlideToRecorded(w)) {
    const FRAGMENT window{static_cast<int>(w->j + 1), static_cast<int>(w->j + W), W,
                          static_cast<int>(w->k), w->scores->p[w->k]};
    const int64_t ones_at_start = w->ones, ones_at_end = w->ones + w->k;
    const int64_t leaving = w->binary[w->j] == '1';
    w->k += (w->binary[w->j + W] == '1') - leaving;
    w->ones += leaving;
    ++w->j;
    if (!w->merge) {
      *f = window;
      return true;
    }
    // Windows come in ascending order of start and all end W - 1 after it, so a joining
    // window always carries the segment's end forward.
    if (w->open && int64_t{window.start} - w->max_separation <= w->current.end) {
      w->current.end = window.end;
      w->ones_at_end = ones_at_end;
      continue;
    }
    const bool had = w->open;
    if (had) *f = ClosedSegment(*w);
    w->open = true;
    w->current = window;
    w->ones_at_start = ones_at_start;
    w->ones_at_end = ones_at_end;
    if (had) return true;
  }
  if (!w->open) return false;
  *f = ClosedSegment(*w);
  w->open = false;
  return true;
}

int CountWindowRecords(WindowWalk walk) {
  int count = 0;
  for (FRAGMENT f; SlideWindowP(&walk, &f);) ++count;
  return count;
}
