#include "segments/segments.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
#include <emmintrin.h>
#endif

// Bit j set when cell j of p[0..n-1] is '1' (n at most 64).
static uint64_t SpecialBits(const char* p, int64_t n) {
  uint64_t bits = 0;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
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
static int64_t WalkMergedRuns(const char* binary, int length, int max_separation, OnOpen on_open) {
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
  const int64_t last =
      WalkMergedRuns(binary, length, max_separation, [&longest](bool opens, int64_t closed) {
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
