#include "sequence/composition.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(Composition, CaseAndSetOrder) {
  char seq[] = "aacgtn\x80\xe9zb";
  UpperCase(seq, 9);
  EXPECT_STREQ(seq, "AACGTN\x80\xe9Zb");  // ASCII letters only, and only the first n
  // The set's frequencies are summed in set order, which decides the last bit.
  const double f[4] = {0.1, 0.2, 0.3, 0.4};  // A T G C
  EXPECT_EQ(SpecialProbability("ATG", f), 0.6000000000000001);
  EXPECT_EQ(SpecialProbability("GTA", f), 0.6);
}

TEST(Composition, FrequenciesMatchRunningSums) {
  const struct {
    std::string seq;
    long n;
  } cases[] = {{AllBytesAndMix(), 5256},
               {"G", 1},
               {"ACGT", -1},
               {"acgt", 4},
               {std::string(5000, 'A') + "C", 5001}};  // a run past 255 in every 8-bit lane
  for (const auto& c : cases) {
    // Straightforward version: one lookup and one added 1.0 per nucleotide.
    double count[4] = {0, 0, 0, 0}, valid = 0, got[4];
    for (long i = 0; i < c.n; ++i) {
      const int index = std::string("ATGC").find(c.seq[i]) == std::string::npos
                            ? -1
                            : static_cast<int>(std::string("ATGC").find(c.seq[i]));
      if (index >= 0) count[index] += 1.0, valid += 1.0;
    }
    ASSERT_EQ(NucleotideFrequencies(c.seq.data(), c.n, got), valid > 0) << c.seq.substr(0, 9);
    for (int i = 0; valid > 0 && i < 4; ++i) EXPECT_EQ(got[i], count[i] / valid) << i;
  }
}

TEST(Composition, SpecialSetFromText) {
  const char* cases[][2] = {{"aTgA", "ATG"}, {"AB", "A"},    {"12", ""},
                            {"U", ""},       {"a\xe1", "A"}, {"JOZ*b", ""}};
  for (const auto& c : cases) EXPECT_EQ(ParseResidueSet(c[0]), c[1]) << "from \"" << c[0] << "\"";
  EXPECT_EQ(ParseResidueSet("WIYFLVMCAGHPSTNQDEKRwiyflvmcaghpstnqdekrX"), "WIYFLVMCAGHPSTNQDEKR");
}

TEST(Composition, BinarySequenceMatchesPerLetterLookup) {
  // Every byte value, for a small set and one beyond eight letters. Only the first L cells
  // are looked at, and cell L is always '0' though the letter after them is in the set.
  const std::string mixed = AllBytesAndMix() + "A";
  const std::size_t L = mixed.size() - 1;
  for (const std::string set : {"ACN", "WIYFLVMCAGT"}) {
    std::string dst(L + 2, '#');
    EncodeBinary(mixed.data(), static_cast<int>(L), set, dst.data());
    for (std::size_t k = 0; k < L; ++k) {
      ASSERT_EQ(dst[k], set.find(mixed[k]) != std::string::npos ? '1' : '0') << k;
    }
    EXPECT_EQ(dst.substr(L), "0#");
  }
}

TEST(Composition, LinkageDistanceEstimate) {
  const struct {
    double p;
    int want;  // 0: rejected, the distance left as it was
  } cases[] = {{0.5, 1},        {0.4, 2},   {1.0 / 3, 2}, {0.25, 3},     {0.1, 7},
               {0.05, 13},      {0.01, 67}, {1.5, 1},     {4.0 / 15, 2},  // 2.5 goes to 2
               {2.0 / 22.5, 8},                                           // 7.5 goes to 8
               {0.0, 0},        {1e-12, 0}, {-0.0, 0}};
  for (const auto& c : cases) {
    int distance = 0;
    EXPECT_EQ(EstimateLinkageDistance(c.p, &distance), c.want != 0) << "p = " << c.p;
    EXPECT_EQ(distance, c.want) << "p = " << c.p;
  }
}

}  // namespace
