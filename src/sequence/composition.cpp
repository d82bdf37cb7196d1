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

// Counts of A, T, G and C in seq[0..n-1] into counts[0..3].
static void CountNucleotides(const char* seq, long n, long counts[4]) {
  long i = 0;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
  // Sixteen letters at a time; the 8-bit lane counters are summed before they can overflow.
  const __m128i zero = _mm_setzero_si128();
  const __m128i letters[4] = {_mm_set1_epi8('A'), _mm_set1_epi8('T'), _mm_set1_epi8('G'),
                              _mm_set1_epi8('C')};
  while (n - i >= 16) {
    __m128i lanes[4] = {zero, zero, zero, zero};
    for (long end = i + 16 * std::min<long>((n - i) / 16, 255); i < end; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(seq + i));
      for (int k = 0; k < 4; ++k) lanes[k] = _mm_sub_epi8(lanes[k], _mm_cmpeq_epi8(v, letters[k]));
    }
    // Each half of a sum is at most 8 * 255, so its low 32 bits hold it, also on 32-bit x86.
    for (int k = 0; k < 4; ++k) {
      const __m128i sums = _mm_sad_epu8(lanes[k], zero);
      counts[k] += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
    }
  }
#endif
  long rest[kNotNucleotide + 1] = {};
  for (; i < n; ++i) ++rest[kNucleotideIndex[static_cast<unsigned char>(seq[i])]];
  for (int k = 0; k < 4; ++k) counts[k] += rest[k];
}

bool NucleotideFrequencies(const char* letters, long n, double freq[4]) {
  for (int i = 0; i < 4; ++i) freq[i] = 0.0;
  if (n <= 0) return false;
  long counts[4] = {0, 0, 0, 0};
  CountNucleotides(letters, n, counts);
  const long valid = counts[0] + counts[1] + counts[2] + counts[3];
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

void EncodeBinary(const char* letters, int n, const std::string& set, char* binary) {
  int k = 0;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
  // Small sets, sixteen letters at a time: '0' plus 1 where a letter of the set matches.
  if (set.size() <= 8) {
    const __m128i one = _mm_set1_epi8(1);
    const __m128i digit_zero = _mm_set1_epi8('0');
    for (; n - k >= 16; k += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(letters + k));
      __m128i match = _mm_setzero_si128();
      for (const char letter : set)
        match = _mm_or_si128(match, _mm_cmpeq_epi8(v, _mm_set1_epi8(letter)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(binary + k),
                       _mm_add_epi8(digit_zero, _mm_and_si128(match, one)));
    }
  }
#endif
  std::array<char, 256> code;
  code.fill('0');
  for (const char letter : set) code[static_cast<unsigned char>(letter)] = '1';
  for (; k < n; ++k) binary[k] = code[static_cast<unsigned char>(letters[k])];
  // The cell one past the last position stands for the sequence terminator.
  binary[n] = '0';
}
