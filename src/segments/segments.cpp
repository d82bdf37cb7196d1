#include "segments/segments.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Bit j set when cell j of p[0..n-1] is '1' (n at most 64).
static uint64_t SpecialBits(const char* p, int64_t n) {
  uint64_t bits = 0;
#if defined(__SSE2__)
  if (n == 64) {
    const __m128i one = _mm_set1_epi8('1');
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, one)));
      bits |= static_cast<uint64_t>(mask) << (16 * k);
    }
    return bits;
  }
#endif
  for (int64_t j = 0; j < n; ++j) bits |= static_cast<uint64_t>(p[j] == '1') << j;
  return bits;
}

// Number of set bits, without a library call on machines that lack the instruction.
static inline int64_t CountBits(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<int64_t>((x * 0x0101010101010101ULL) >> 56);
}

// 1-based position of the highest set bit of a nonzero word whose bit 0 is cell `base`.
static int64_t LastPosition(int64_t base, uint64_t bits) {
  return base + (63 - __builtin_clzll(bits)) + 1;
}

// Walks the run starts of binary[0..length-1] 64 cells at a time and calls
// on_open(closed_length) for every run that opens a merged segment; returns the length of
// the last segment. Only run starts can open one, so only they are visited. `end` starts far
// enough before position 1 that the first run always opens a segment; the segment that
// closes then has a negative length.
template <typename OnOpen>
static int64_t WalkMergedRuns(const char* binary, int length, int max_separation,
                              OnOpen on_open) {
  const int64_t E = max_separation;
  int64_t start = 0;                  // 1-based start of the merged segment in progress
  int64_t end = -(int64_t{1} << 40);  // its last special position so far
  uint64_t carry = 0;                 // 1 when the previous word ended with a '1'
  for (int64_t base = 0; base < length; base += 64) {
    const uint64_t bits = SpecialBits(binary + base, std::min<int64_t>(64, length - base));
    if (bits == 0) {
      carry = 0;
      continue;
    }
    uint64_t starts = bits & ~((bits << 1) | carry);
    while (starts != 0) {
      const int j = __builtin_ctzll(starts);
      starts &= starts - 1;
      const uint64_t before = bits & ((uint64_t{1} << j) - 1);
      const int64_t last = before != 0 ? LastPosition(base, before) : end;
      const int64_t pos = base + j + 1;
      const bool opens = pos - last > E;
      on_open(opens, last - start + 1);
      start = opens ? pos : start;
    }
    end = LastPosition(base, bits);
    carry = bits >> 63;
  }
  return end - start + 1;
}

int LongestMergedLength(const char* binary, int length, int max_separation) {
  int64_t longest = 0;
  const int64_t last = WalkMergedRuns(binary, length, max_separation,
                                      [&longest](bool opens, int64_t closed) {
                                        longest = opens ? std::max(longest, closed) : longest;
                                      });
  return static_cast<int>(std::max(longest, last));
}

int CountMergedRuns(const char* binary, int length, int max_separation) {
  int count = 0;
  WalkMergedRuns(binary, length, max_separation, [&count](bool opens, int64_t) { count += opens; });
  return count;
}

MergedRuns StartMergedRuns(const char* binary, int length, int max_separation) {
  return MergedRuns{binary, length, max_separation, -64, 0, 0, 0, 0, 0, 0};
}

// The record of a merged segment from position start to end (1-based) holding n special
// positions.
static FRAGMENT MergedRecord(int64_t start, int64_t end, int64_t n) {
  const int s = static_cast<int>(start);
  const int e = static_cast<int>(end);
  return FRAGMENT{s, e, e - s + 1, static_cast<int>(n), 0.0};
}

bool NextMergedRun(MergedRuns* r, FRAGMENT* f) {
  for (;;) {
    while (r->starts == 0) {
      if (r->bits != 0) r->end = LastPosition(r->base, r->bits);
      r->ones += CountBits(r->bits);
      const uint64_t carry = r->bits >> 63;  // the word ended inside a run
      r->base += 64;
      if (r->base >= r->length) {
        if (r->start == 0) return false;
        *f = MergedRecord(r->start, r->end, r->ones - r->ones_at_start);
        r->start = 0;
        return true;
      }
      r->bits = SpecialBits(r->binary + r->base, std::min<int64_t>(64, r->length - r->base));
      r->starts = r->bits & ~((r->bits << 1) | carry);
    }
    const int j = __builtin_ctzll(r->starts);
    r->starts &= r->starts - 1;
    const uint64_t before = r->bits & ((uint64_t{1} << j) - 1);
    const int64_t last = before != 0 ? LastPosition(r->base, before) : r->end;
    const int64_t pos = r->base + j + 1;
    // A run joins the segment in progress when its start minus the distance reaches its end.
    if (r->start != 0 && pos - r->max_separation <= last) continue;
    const int64_t ones_before_pos = r->ones + CountBits(before);
    const int64_t closed = r->start;
    const int64_t closed_ones = ones_before_pos - r->ones_at_start;
    r->start = pos;
    r->ones_at_start = ones_before_pos;
    if (closed != 0) {
      *f = MergedRecord(closed, last, closed_ones);
      return true;
    }
  }
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
