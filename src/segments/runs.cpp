#include <algorithm>
#include <cstdint>

#include "segments/segments.h"

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

MergedRunWalk StartMergedRunWalk(int length, int linkage) {
  return MergedRunWalk{length, linkage, -64, 0, 0, 0, 0, 0, 0};
}

// The record of a merged segment from position start to end (1-based) holding n special
// positions.
static Segment MergedSegment(int64_t start, int64_t end, int64_t n) {
  const int s = static_cast<int>(start);
  const int e = static_cast<int>(end);
  return Segment{s, e, e - s + 1, static_cast<int>(n)};
}

bool NextMergedSegment(const char* binary, MergedRunWalk* r, Segment* f) {
  for (;;) {
    while (r->starts == 0) {
      if (r->bits != 0) r->end = LastPosition(r->base, r->bits);
      r->ones += CountBits(r->bits);
      const uint64_t carry = r->bits >> 63;  // the word ended inside a run
      r->base += 64;
      if (r->base >= r->length) {
        if (r->start == 0) return false;
        *f = MergedSegment(r->start, r->end, r->ones - r->ones_at_start);
        r->start = 0;
        return true;
      }
      r->bits = SpecialBits(binary + r->base, std::min<int64_t>(64, r->length - r->base));
      r->starts = r->bits & ~((r->bits << 1) | carry);
    }
    const int j = __builtin_ctzll(r->starts);
    r->starts &= r->starts - 1;
    const uint64_t before = r->bits & ((uint64_t{1} << j) - 1);
    const int64_t last = before != 0 ? LastPosition(r->base, before) : r->end;
    const int64_t pos = r->base + j + 1;
    if (r->start != 0 && JoinsSegment(pos, last, r->linkage)) continue;
    const int64_t ones_before_pos = r->ones + CountBits(before);
    const int64_t closed = r->start;
    const int64_t closed_ones = ones_before_pos - r->ones_at_start;
    r->start = pos;
    r->ones_at_start = ones_before_pos;
    if (closed != 0) {
      *f = MergedSegment(closed, last, closed_ones);
      return true;
    }
  }
}

int LongestMergedLength(const char* binary, int length, int linkage) {
  MergedRunWalk walk = StartMergedRunWalk(length, linkage);
  int longest = 0;
  for (Segment s; NextMergedSegment(binary, &walk, &s);) longest = std::max(longest, s.length);
  return longest;
}

int CountMergedSegments(const char* binary, int length, int linkage) {
  MergedRunWalk walk = StartMergedRunWalk(length, linkage);
  int count = 0;
  for (Segment s; NextMergedSegment(binary, &walk, &s);) ++count;
  return count;
}
