// Sequence preparation: letter lookups, composition, the special-residue set, the special
// probability, the linkage-distance estimate and the binary sequence.
#include "sequence/composition.h"

#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestra {

const char kNucleotides[] = "ATGC";

namespace {

// The letters a special-residue set may hold.
const char kResidues[] = "WIYFLVMCAGHPSTNQDEKR";
constexpr int kNotNucleotide = 4;

// Index of each byte in kNucleotides, kNotNucleotide for any other byte (lower case included:
// the sequence is upper-cased before its composition is taken).
constexpr std::array<unsigned char, 256> MakeNucleotideIndex() {
  std::array<unsigned char, 256> index{};
  for (auto& cell : index) cell = kNotNucleotide;
  constexpr char kOrder[] = "ATGC";  // kNucleotides, readable at compile time
  for (int i = 0; i < 4; ++i) index[static_cast<unsigned char>(kOrder[i])] = i;
  return index;
}
constexpr std::array<unsigned char, 256> kNucleotideIndex = MakeNucleotideIndex();

// No locale is set: only a to z change.
char AsciiUpper(char ch) {
  const unsigned char c = static_cast<unsigned char>(ch);
  return static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}

}  // namespace

int NucleotideIndex(char letter) {
  const int index = kNucleotideIndex[static_cast<unsigned char>(letter)];
  return index == kNotNucleotide ? -1 : index;
}

std::string ParseResidueSet(const char* text) {
  std::string set;
  for (; *text != '\0'; ++text) {
    const char letter = AsciiUpper(*text);
    if (std::strchr(kResidues, letter) != nullptr && set.find(letter) == std::string::npos) {
      set += letter;
    }
  }
  return set;
}

SpecialTable MakeSpecialTable(const std::string& set) {
  SpecialTable table{};
  for (const char letter : set) table[static_cast<unsigned char>(letter)] = true;
  return table;
}

void UpperCase(char* letters, long n) {
  for (long i = 0; i < n; ++i) letters[i] = AsciiUpper(letters[i]);
}

#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
// Sixteen letters: upper-cased in place, their A, T, G and C added to the lanes of
// counts[0..3] (one count a lane, summed before a lane can overflow), and a bit each for those
// of the set (at most eight letters).
static uint32_t EncodeSixteen(char* at, const __m128i* set, int set_size, __m128i counts[4]) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const __m128i from_a = _mm_sub_epi8(v, _mm_set1_epi8('a'));
  const __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8(25)), from_a);
  v = _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8('a' - 'A')));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
  const char order[] = "ATGC";
  for (int k = 0; k < 4; ++k) {
    counts[k] = _mm_sub_epi8(counts[k], _mm_cmpeq_epi8(v, _mm_set1_epi8(order[k])));
  }
  __m128i special = _mm_setzero_si128();
  for (int i = 0; i < set_size; ++i) special = _mm_or_si128(special, _mm_cmpeq_epi8(v, set[i]));
  return static_cast<uint32_t>(_mm_movemask_epi8(special));
}

static int64_t LaneSum(__m128i lanes) {
  const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
  return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
}
#endif

void EncodeLetters(char* letters, int64_t from, int64_t to, const std::string& set, uint64_t* bits,
                   int64_t counts[4]) {
  int64_t i = from;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
  if (set.size() <= 8) {
    __m128i set_letters[8];
    for (std::size_t k = 0; k < set.size(); ++k) set_letters[k] = _mm_set1_epi8(set[k]);
    const int set_size = static_cast<int>(set.size());
    while (to - i >= 64) {
      __m128i lanes[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(),
                          _mm_setzero_si128()};
      // At most 255 blocks of 64 before the 8-bit lanes are summed: four adds a lane a block.
      for (int64_t end = i + 64 * std::min<int64_t>((to - i) / 64, 63); i < end; i += 64) {
        uint64_t word = 0;
        for (int q = 0; q < 4; ++q) {
          word |= uint64_t{EncodeSixteen(letters + i + 16 * q, set_letters, set_size, lanes)}
                  << (16 * q);
        }
        bits[i / 64] = word;
      }
      for (int k = 0; k < 4; ++k) counts[k] += LaneSum(lanes[k]);
    }
  }
#endif
  const SpecialTable special = MakeSpecialTable(set);
  for (; i < to; ++i) {
    const char letter = AsciiUpper(letters[i]);
    letters[i] = letter;
    const unsigned char c = static_cast<unsigned char>(letter);
    const int index = kNucleotideIndex[c];
    if (index != kNotNucleotide) ++counts[index];
    if (i % 64 == 0) bits[i / 64] = 0;
    bits[i / 64] |= uint64_t{special[c]} << (i % 64);
  }
}

bool FrequenciesOf(const int64_t counts[4], double freq[4]) {
  for (int i = 0; i < 4; ++i) freq[i] = 0.0;
  const int64_t valid = counts[0] + counts[1] + counts[2] + counts[3];
  if (valid == 0) return false;
  // Integer counts below 2^53 convert exactly, so these are the doubles a running sum of
  // 1.0 per letter would give.
  for (int i = 0; i < 4; ++i) freq[i] = static_cast<double>(counts[i]) / static_cast<double>(valid);
  return true;
}

double SpecialProbability(const std::string& set, const double freq[4]) {
  double sum = 0.0;
  for (const char letter : set) {
    const int index = NucleotideIndex(letter);
    if (index >= 0) sum += freq[index];
  }
  return sum;
}

bool EstimateLinkageDistance(double p, int* distance) {
  const double x = 2.0 / (p * 3.0);
  // The lower bound only keeps the int conversion defined for a negative probability.
  if (!std::isfinite(x) || x > 2147483647.0 || x < -2147483648.0) return false;
  // Printing with no decimals rounds an exact half to the even neighbour.
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", x);
  const int rounded = static_cast<int>(std::strtod(text, nullptr));
  *distance = rounded == 0 ? 1 : rounded;
  return true;
}

void UnpackBits(const uint64_t* bits, int64_t n, char* cells) {
  for (int64_t i = 0; i < n; ++i) cells[i] = (bits[i / 64] >> (i % 64)) & 1 ? '1' : '0';
}

void PackBits(const char* cells, int64_t n, uint64_t* bits) {
  int64_t i = 0;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
  const __m128i one = _mm_set1_epi8('1');
  for (; n - i >= 64; i += 64) {
    uint64_t word = 0;
    for (int q = 0; q < 4; ++q) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i + 16 * q));
      word |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, one)))}
              << (16 * q);
    }
    bits[i / 64] = word;
  }
#endif
  for (; i < n; ++i) {
    if (i % 64 == 0) bits[i / 64] = 0;
    bits[i / 64] |= uint64_t{cells[i] == '1'} << (i % 64);
  }
  bits[(n + 63) / 64] = 0;  // the word of 0 past the last cell
}

}  // namespace kestra
