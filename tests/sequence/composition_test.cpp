#include "sequence/composition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(Composition, ExampleSequence) {
  char seq[] = "aacgtn\x80\xe9z{";
  Conv2Upper(seq, 9);
  EXPECT_STREQ(seq, "AACGTN\x80\xe9Z{");  // ASCII letters only, and only the first n
  double freq[4];
  ASSERT_TRUE(ComputeNTfreq(seq, 6, freq));
  EXPECT_EQ(std::vector<double>(freq, freq + 4), std::vector<double>({0.4, 0.2, 0.2, 0.2}));
  EXPECT_EQ(ComputeResiduePNT("A", freq), 0.4);
  char binary[7];
  Seq2binary(seq, 6, "A", binary);
  EXPECT_EQ(std::string(binary, 7), "1100000");
}

TEST(Composition, FrequenciesMatchRunningSums) {
  const struct {
    std::string seq;
    long n;
    bool ok;
  } cases[] = {{AllBytesAndMix(), 5256, true},
               {"G", 1, true},
               {"", 0, false},
               {"ACGT", -1, false},
               {"NN--N", 5, false},
               {"acgt", 4, false}};
  for (const auto& c : cases) {
    // Straightforward version: one lookup and one added 1.0 per nucleotide.
    double count[4] = {0, 0, 0, 0}, valid = 0, got[4];
    for (long i = 0; i < c.n; ++i) {
      const int index = FindLetter(c.seq[i], 4, kNucleotides);
      if (index >= 0) count[index] += 1.0, valid += 1.0;
    }
    ASSERT_EQ(ComputeNTfreq(c.seq.data(), c.n, got), c.ok) << c.seq.substr(0, 9);
    for (int i = 0; c.ok && i < 4; ++i) EXPECT_EQ(got[i], count[i] / valid) << "cell " << i;
  }
}

TEST(Composition, SpecialSetFromText) {
  const struct {
    const char *src, *want;
  } cases[] = {
      {"gc", "GC"},    {"AAA", "A"},
      {"AX", "A"},     {"AB", "A"},
      {"12", ""},      {"ACGT", "ACGT"},
      {"aTgA", "ATG"}, {"U", ""},
      {"N", "N"},      {"a\xe1", "A"},
      {"JOZ*b", ""},   {"WIYFLVMCAGHPSTNQDEKRwiyflvmcaghpstnqdekrX", "WIYFLVMCAGHPSTNQDEKR"}};
  for (const auto& c : cases) EXPECT_EQ(CopyAA(c.src), c.want) << "from \"" << c.src << "\"";
}

TEST(Composition, SpecialProbabilitySumsInSetOrder) {
  const double freq[4] = {0.1, 0.7, 0.15, 0.05};  // A T G C
  const struct {
    const char* set;
    double want;
  } cases[] = {{"", 0.0},
               {"N", 0.0},
               {"TNW", 0.7},
               {"GCA", ((0.0 + 0.15) + 0.05) + 0.1},
               {"ACG", ((0.0 + 0.1) + 0.05) + 0.15}};
  for (const auto& c : cases) EXPECT_EQ(ComputeResiduePNT(c.set, freq), c.want) << c.set;
}

TEST(Composition, BinarySequence) {
  const struct {
    std::string seq;
    int length;
    const char* set;
    std::string want;
  } cases[] = {{"ANNA-", 5, "N", "011000"},
               {"ACGT", 4, "", "00000"},
               {"AAAA", 2, "A", "110"},  // the last cell is '0' even over a special letter
               {"", 0, "A", "0"},
               {"aAcC", 4, "AC", "01010"}};
  for (const auto& c : cases) {
    std::string dst(c.want.size() + 1, '#');
    Seq2binary(c.seq.data(), c.length, c.set, dst.data());
    EXPECT_EQ(dst, c.want + "#") << c.seq << " with set " << c.set;
  }
  // Every byte value against the per-letter lookup, for a small set and a large one.
  const std::string mixed = AllBytesAndMix();
  for (const std::string set : {"ACN", "WIYFLVMCAGT"}) {
    std::string dst(mixed.size() + 1, '#');
    Seq2binary(mixed.data(), static_cast<int>(mixed.size()), set, dst.data());
    for (std::size_t k = 0; k < mixed.size(); ++k) {
      ASSERT_EQ(dst[k], AA2binary(mixed[k], set.c_str(), static_cast<int>(set.size()))) << k;
    }
    EXPECT_EQ(dst.back(), '0');
  }
}

TEST(Composition, LinkageDistanceEstimate) {
  const struct {
    double p;
    bool ok;
    int want;
  } cases[] = {{0.5, true, 1},        {0.4, true, 2},     {1.0 / 3, true, 2},  {0.25, true, 3},
               {0.2, true, 3},        {0.1, true, 7},     {0.05, true, 13},    {0.01, true, 67},
               {0.8, true, 1},        {1.5, true, 1},     {4.0 / 15, true, 2},  // 2.5 goes to 2
               {2.0 / 22.5, true, 8},                                           // 7.5 goes to 8
               {0.0, false, -5},      {1e-12, false, -5}, {-0.0, false, -5}};
  for (const auto& c : cases) {
    int distance = -5;
    EXPECT_EQ(EstimateLinkageDistance(c.p, &distance), c.ok) << "p = " << c.p;
    EXPECT_EQ(distance, c.want) << "p = " << c.p;
  }
}

}  // namespace
