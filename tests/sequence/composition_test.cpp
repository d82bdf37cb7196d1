#include "sequence/composition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace kestra;

namespace {

// Every byte value once, then a mix weighted towards nucleotides.
std::string AllBytesAndMix() {
  std::string s;
  for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  for (unsigned i = 0, state = 7; i < 5000; ++i) {
    state = state * 1103515245u + 12345u;
    s += "AATTGGCCCNa-\r\x90"[(state >> 16) % 14];
  }
  return s;
}

// A set keeps the residue letters of its text, upper-cased, once each, in order: not other
// letters, digits, punctuation or high bytes. Its frequencies are summed in set order, which
// decides the last bit.
TEST(Composition, SpecialSetAndItsProbability) {
  const char* cases[][2] = {{"aTgA", "ATG"}, {"JOZ*Bb12U", ""}, {"a\xe1", "A"}};
  for (const auto& c : cases) EXPECT_EQ(ParseResidueSet(c[0]), c[1]) << "from \"" << c[0] << "\"";
  const double f[4] = {0.1, 0.2, 0.3, 0.4};  // A T G C
  EXPECT_EQ(SpecialProbability("ATG", f), 0.6000000000000001);
  EXPECT_EQ(SpecialProbability("GTA", f), 0.6);
}

// The letters encoded a stretch at a time, as the vector path does them and with the letters
// it leaves to the scalar one, against one letter at a time: upper case, counts and bits.
TEST(Composition, EncodingMatchesLetterByLetter) {
  const std::string mixed = AllBytesAndMix() + std::string(5000, 'A') + "C";  // a run past 255
  for (const std::string set : {"ACN", "A", "", "WIYFLVMCAGT"}) {
    for (const int64_t stretch : {int64_t{64}, int64_t{6400}, int64_t{1} << 20}) {
      std::string letters = mixed;
      const int64_t n = static_cast<int64_t>(letters.size());
      std::vector<uint64_t> bits(n / 64 + 2, ~uint64_t{0});
      int64_t counts[4] = {0, 0, 0, 0};
      for (int64_t from = 0; from < n; from += stretch) {
        EncodeLetters(&letters[0], from, std::min(n, from + stretch), set, bits.data(), counts);
      }
      int64_t want[4] = {0, 0, 0, 0};
      for (int64_t i = 0; i < n; ++i) {
        const char upper = mixed[i] >= 'a' && mixed[i] <= 'z' ? mixed[i] - ('a' - 'A') : mixed[i];
        ASSERT_EQ(letters[i], upper) << i;
        const std::size_t nucleotide = std::string("ATGC").find(upper);
        if (upper != '\0' && nucleotide != std::string::npos) ++want[nucleotide];
        const bool special = upper != '\0' && set.find(upper) != std::string::npos;
        ASSERT_EQ((bits[i / 64] >> (i % 64)) & 1, special ? 1u : 0u) << i << " set " << set;
      }
      EXPECT_EQ(bits[(n - 1) / 64] >> ((n - 1) % 64 + 1) << 1, 0u);  // nothing past the end
      for (int k = 0; k < 4; ++k) EXPECT_EQ(counts[k], want[k]) << k;
      std::string cells(static_cast<std::size_t>(n), ' ');
      std::vector<uint64_t> again(bits.size(), ~uint64_t{0});
      UnpackBits(bits.data(), n, &cells[0]);
      PackBits(cells.data(), n, again.data());
      again.back() = bits.back() = 0;
      ASSERT_NE(n % 64, 0);  // so that every word is compared, the last but one holding bits
      EXPECT_EQ(again, bits);
    }
  }
}

// 2/(3p) rounded half to even (2.5 at p = 4/15 goes to 2, 7.5 at 2/22.5 to 8), at least 1;
// refused, the distance left as it was, when not finite or beyond int.
TEST(Composition, LinkageDistanceEstimate) {
  const std::pair<double, int> cases[] = {{0.25, 3},     {0.01, 67},      {1.5, 1},
                                          {4.0 / 15, 2}, {2.0 / 22.5, 8}, {0.0, 0},
                                          {1e-12, 0},    {-0.0, 0}};  // 0: refused
  for (const auto& [p, want] : cases) {
    int distance = 0;
    EXPECT_EQ(EstimateLinkageDistance(p, &distance), want != 0) << "p = " << p;
    EXPECT_EQ(distance, want) << "p = " << p;
  }
}

}  // namespace
