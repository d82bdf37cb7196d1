#include <algorithm>
#include <climits>

#include "segments/segments.h"

namespace kestra {

namespace {

constexpr int64_t kNone = INT64_MIN / 4;  // a cell before any: no special residue seen

int64_t HighestBit(uint64_t word) { return 63 - __builtin_clzll(word); }

// Bits 0..r of a word: none for r < 0, all for r >= 63.
uint64_t BitsUpTo(int64_t r) {
  if (r < 0) return 0;
  return r >= 63 ? ~uint64_t{0} : (uint64_t{2} << r) - 1;
}

// The bits of `word` that stand above its lowest set bit.
uint64_t AboveLowest(uint64_t word) { return ~(((word & (0 - word)) << 1) - 1); }

// For each cell of the word: whether any of the n cells just before it, within the word,
// holds a special residue (1 <= n <= 63): the union of the word shifted by 1 to n, built by
// doubling.
uint64_t AnyInCellsBefore(uint64_t word, int n) {
  uint64_t covered = word << 1, result = 0;
  for (int width = 1, offset = 0, left = n; left > 0; width *= 2) {
    if (left & width) {
      result |= covered << offset;
      offset += width;
      left -= width;
    }
    covered |= covered << width;
  }
  return result;
}

// The cells of `word` (word w) where a merged segment opens: a special residue with none in
// the `linkage` cells before it (any run opens one when the linkage is 1 or less: runs always
// have a cell between them). `last_one` is the cell of the last special residue before the
// word.
uint64_t OpensInWord(uint64_t word, int64_t w, int64_t linkage, int64_t last_one) {
  const int64_t n = std::max<int64_t>(linkage, 1);
  // A special residue earlier in the word lies within 63 cells; one before the word reaches
  // the cells up to last_one + n.
  const uint64_t within = n < 64 ? AnyInCellsBefore(word, static_cast<int>(n)) : AboveLowest(word);
  return word & ~(within | BitsUpTo(last_one + n - 64 * w));
}

// The cell of the last special residue before `cell`, looking back at most `reach` cells.
int64_t LastOneBefore(const uint64_t* bits, int64_t cell, int64_t reach) {
  const int64_t stop = std::max<int64_t>(0, cell - reach) / 64;
  for (int64_t w = cell / 64; w >= stop; --w) {
    uint64_t word = bits[w];
    if (w == cell / 64) word &= BitsUpTo(cell % 64 - 1);
    if (word != 0) return 64 * w + HighestBit(word);
  }
  return kNone;
}

Span MergedSegment(int64_t first_cell, int64_t last_cell, int64_t specials) {
  const int start = static_cast<int>(first_cell + 1);
  const int end = static_cast<int>(last_cell + 1);
  return Span{start, end, end - start + 1, static_cast<int>(specials)};
}

int64_t WordsOf(int64_t length) { return (length + 63) / 64; }

}  // namespace

int64_t CountSpecials(const uint64_t* bits, int64_t from, int64_t to) {
  int64_t n = 0;
  for (int64_t w = from / 64; 64 * w < to; ++w) {
    uint64_t word = bits[w];
    if (64 * w < from) word &= ~BitsUpTo(from % 64 - 1);
    if (64 * w + 64 > to) word &= BitsUpTo(to - 64 * w - 1);
    n += BitCount(word);
  }
  return n;
}

MergedRunWalk StartMergedRunWalk(const uint64_t* bits, int64_t length, int linkage, int64_t from,
                                 int64_t to) {
  MergedRunWalk r{};
  r.length = length;
  r.linkage = linkage;
  r.to = std::min(to, length);
  r.check_word = std::min(WordsOf(length), (r.to + 63) / 64);
  r.word = from / 64;
  r.last_one = LastOneBefore(bits, 64 * r.word, std::max(linkage, 1));
  r.opens = from < r.to
                ? OpensInWord(bits[r.word], r.word, linkage, r.last_one) & ~BitsUpTo(from % 64 - 1)
                : 0;
  if (from >= r.to) r.word = WordsOf(length);  // nothing opens here
  return r;
}

namespace {

// Whether the walk has nothing left to give before word r->word: it is past the last cell,
// or past the piece with no segment in progress, or with one that no later run can join (a
// special residue from that word on lies more than the linkage distance after its last one).
// So a piece inside a long gap costs its own words, not the rest of the gap.
bool NothingMoreFrom(const MergedRunWalk& r) {
  if (r.word < r.check_word) return false;  // before the piece's end: one comparison a word
  if (r.word >= WordsOf(r.length)) return true;
  const int64_t cell = 64 * r.word;
  return !r.open || cell > r.last_one + std::max<int64_t>(r.linkage, 1);
}

}  // namespace

bool NextMergedSegment(const uint64_t* bits, MergedRunWalk* r, Span* s) {
  for (;;) {
    while (r->opens == 0) {
      // The word is done: past it, or past the last cell, the segment in progress ends.
      if (r->word < WordsOf(r->length)) {
        const uint64_t word = bits[r->word];
        if (word != 0) r->last_one = 64 * r->word + HighestBit(word);
        r->ones += BitCount(word);
        ++r->word;
      }
      if (NothingMoreFrom(*r)) {
        r->word = WordsOf(r->length);
        if (!r->open) return false;
        *s = MergedSegment(r->open_start, r->last_one, r->ones - r->ones_at_start);
        r->open = false;
        return true;
      }
      r->opens = OpensInWord(bits[r->word], r->word, r->linkage, r->last_one);
    }
    const int j = __builtin_ctzll(r->opens);
    const int64_t cell = 64 * r->word + j;
    const uint64_t before = bits[r->word] & BitsUpTo(j - 1);
    const int64_t last = before != 0 ? 64 * r->word + HighestBit(before) : r->last_one;
    const int64_t ones = r->ones + BitCount(before);
    const bool had = r->open;
    const Span closed = MergedSegment(r->open_start, last, ones - r->ones_at_start);
    if (cell >= r->to) {
      // Past the piece: the segment in progress ends before it, and the walk with it.
      r->opens = 0;
      r->word = WordsOf(r->length);
      r->open = false;
    } else {
      r->opens &= r->opens - 1;
      r->open = true;
      r->open_start = cell;
      r->ones_at_start = ones;
    }
    if (had) {
      *s = closed;
      return true;
    }
    if (cell >= r->to) return false;
  }
}

int64_t CountMergedSegments(const uint64_t* bits, int64_t length, int linkage, int64_t from,
                            int64_t to) {
  to = std::min(to, length);
  if (from >= to) return 0;
  int64_t last_one = LastOneBefore(bits, from - from % 64, std::max(linkage, 1));
  int64_t count = 0;
  for (int64_t w = from / 64; 64 * w < to; ++w) {
    uint64_t opens = OpensInWord(bits[w], w, linkage, last_one);
    if (64 * w < from) opens &= ~BitsUpTo(from % 64 - 1);
    if (64 * w + 64 > to) opens &= BitsUpTo(to - 64 * w - 1);
    count += BitCount(opens);
    if (bits[w] != 0) last_one = 64 * w + HighestBit(bits[w]);
  }
  return count;
}

int LongestMergedLength(const uint64_t* bits, int64_t length, int linkage) {
  MergedRunWalk walk = StartMergedRunWalk(bits, length, linkage, 0, length);
  int longest = 0;
  for (Span s; NextMergedSegment(bits, &walk, &s);) longest = std::max(longest, s.length);
  return longest;
}

}  // namespace kestra
