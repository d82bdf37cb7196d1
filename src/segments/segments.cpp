#include "segments/segments.h"

#include <algorithm>
#include <cstdint>

int ComputeN(const char* binary, int from, int to) {
  int n = 0;
  for (int i = from; i <= to; ++i) n += binary[i] == '1';
  return n;
}

// A run of '1' covering 0-based indices begin..end_index.
static FRAGMENT RunRecord(const char* binary, int begin, int end_index) {
  FRAGMENT f;
  f.start = begin + 1;
  f.end = end_index + 1;
  f.len = end_index - begin + 1;
  f.n_special = ComputeN(binary, begin, end_index);
  f.p_val = 0.0;
  return f;
}

int FindRuns(const char* binary, int length, SegmentList* list) {
  if (length <= 0) return 0;
  int longest = 0;
  int begin = 0;
  for (int i = 1; i < length; ++i) {
    if (binary[i] == binary[begin]) continue;
    if (binary[begin] == '1') {
      list->push_back(RunRecord(binary, begin, i - 1));
      longest = std::max(longest, list->back().len);
    }
    begin = i;
  }
  if (binary[begin] == '1') {
    list->push_back(RunRecord(binary, begin, length - 1));
    longest = std::max(longest, list->back().len);
  }
  return longest;
}

// A later record joins the current one when its start minus the linkage distance reaches
// the current end; wide arithmetic keeps a very negative distance from wrapping around.
static bool Joins(const FRAGMENT& current, const FRAGMENT& later, int max_separation) {
  return static_cast<int64_t>(later.start) - max_separation <= current.end;
}

int LongestMergedLength(const char* binary, int length, int max_separation) {
  int longest = 0;
  int start = 0;  // 1-based start of the merged segment in progress, 0 before the first run
  int end = 0;    // its last special position
  for (int pos = 1; pos <= length; ++pos) {
    if (binary[pos - 1] != '1') continue;
    const bool run_begins = pos == 1 || binary[pos - 2] != '1';
    if (run_begins && (start == 0 || static_cast<int64_t>(pos) - max_separation > end)) {
      if (start != 0) longest = std::max(longest, end - start + 1);
      start = pos;
    }
    end = pos;
  }
  if (start != 0) longest = std::max(longest, end - start + 1);
  return longest;
}

int MergeSegmentsDiscrete(const char* binary, SegmentList* list, int max_separation) {
  // The list is in ascending order of start, so once a record fails to join, every later
  // one fails too: one walk that folds joining records into the current one suffices.
  SegmentList& v = *list;
  size_t kept = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (kept > 0 && Joins(v[kept - 1], v[i], max_separation)) {
      FRAGMENT& current = v[kept - 1];
      if (v[i].end > current.end) current.end = v[i].end;
    } else {
      v[kept++] = v[i];
    }
  }
  v.resize(kept);
  int longest = 0;
  for (FRAGMENT& f : v) {
    f.len = f.end - f.start + 1;
    f.n_special = ComputeN(binary, f.start - 1, f.end - 1);
    longest = std::max(longest, f.len);
  }
  return longest;
}
