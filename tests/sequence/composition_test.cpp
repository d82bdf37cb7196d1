#include "sequence/composition.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Straightforward composition: one lookup and one added 1.0 per nucleotide.
bool ReferenceNTfreq(const char* seq, long n, double freq[4]) {
  double count[4] = {0.0, 0.0, 0.0, 0.0};
  double valid = 0.0;
  for (long i = 0; i < n; ++i) {
    const int index = FindLetter(seq[i], 4, kNucleotides);
    if (index >= 0) {
      count[index] += 1.0;
      valid += 1.0;
    }
  }
  if (n <= 0 || valid == 0.0) return false;
  for (int i = 0; i < 4; ++i) freq[i] = count[i] / valid;
  return true;
}

// Every byte value once, then a mix weighted towards nucleotides.
std::string AllBytesAndMix() {
  std::string s;
  for (int c = 0; c < 256; ++c) s.push_back(static_cast<char>(c));
  unsigned state = 7;
  for (int i = 0; i < 5000; ++i) {
    state = state * 1103515245u + 12345u;
    s.push_back("AATTGGCCCNa-\r\x90"[(state >> 16) % 14]);
  }
  return s;
}

TEST(Composition, ExampleSequence) {
  char seq[] = "aacgtn";
  Conv2Upper(seq, 6);
  EXPECT_STREQ(seq, "AACGTN");
  double freq[4];
  ASSERT_TRUE(ComputeNTfreq(seq, 6, freq));
  EXPECT_EQ(freq[0], 2.0 / 5.0);  // A
  EXPECT_EQ(freq[1], 1.0 / 5.0);  // T
  EXPECT_EQ(freq[2], 1.0 / 5.0);  // G
  EXPECT_EQ(freq[3], 1.0 / 5.0);  // C
  EXPECT_EQ(ComputeResiduePNT("A", freq), 0.4);
  char binary[7];
  Seq2binary(seq, 6, "A", binary);
  EXPECT_EQ(std::string(binary, 7), "1100000");
}

TEST(Composition, FrequenciesMatchRunningSums) {
  const std::string mixed = AllBytesAndMix();
  struct Case {
    const char* name;
    std::string seq;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"mixed bytes", mixed, true},
      {"one letter", "G", true},
      {"empty", "", false},
      {"only N and dash", "NN--N", false},
      {"lower case does not count", "acgt", false},
  };
  for (const Case& c : cases) {
    double got[4] = {-1, -1, -1, -1};
    double want[4] = {0, 0, 0, 0};
    const long n = static_cast<long>(c.seq.size());
    EXPECT_EQ(ComputeNTfreq(c.seq.data(), n, got), c.ok) << c.name;
    EXPECT_EQ(ReferenceNTfreq(c.seq.data(), n, want), c.ok) << c.name;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], want[i]) << c.name << ", cell " << i;
  }
  double freq[4];
  EXPECT_FALSE(ComputeNTfreq("ACGT", -1, freq)) << "negative length";
}

TEST(Composition, UpperCasesAsciiLettersOnly) {
  char buf[] = "acgt-n\r\x80\xe9zZ{`";
  Conv2Upper(buf, 12);
  EXPECT_EQ(std::string(buf), "ACGT-N\r\x80\xe9ZZ{`");
  char partial[] = "acgt";
  Conv2Upper(partial, 2);
  EXPECT_STREQ(partial, "ACgt");
}

TEST(Composition, LetterLookups) {
  struct Case {
    const char* name;
    int got;
    int want;
  };
  const std::vector<Case> cases = {
      {"first residue", ConvToInt('W'), 0},
      {"last residue", ConvToInt('R'), 19},
      {"X is no residue", ConvToInt('X'), 20},
      {"lower case is no residue", ConvToInt('a'), 20},
      {"high byte is no residue", ConvToInt('\xc1'), 20},
      {"nucleotide index", FindLetter('C', 4, kNucleotides), 3},
      {"search limited to n", FindLetter('C', 3, kNucleotides), -1},
      {"exists", AAExists('T', "GT", 2), 1},
      {"absent", AAExists('A', "GT", 2), 0},
      {"binary one", AA2binary('G', "GT", 2), '1'},
      {"binary zero beyond n", AA2binary('T', "GT", 1), '0'},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(Composition, SpecialSetFromText) {
  struct Case {
    const char* src;
    const char* want;
  };
  const std::vector<Case> cases = {
      {"gc", "GC"},     {"AAA", "A"},      {"AX", "A"},       {"AB", "A"},
      {"12", ""},       {"", ""},          {"ACGT", "ACGT"},  {"aTgA", "ATG"},
      {"U", ""},        {"N", "N"},        {"a\xe1", "A"},    {"JOZ*b", ""},
      {"WIYFLVMCAGHPSTNQDEKRwiyflvmcaghpstnqdekrX", "WIYFLVMCAGHPSTNQDEKR"},
  };
  for (const Case& c : cases) EXPECT_EQ(CopyAA(c.src), c.want) << "from \"" << c.src << "\"";
}

TEST(Composition, SpecialProbabilitySumsSetNucleotides) {
  const double freq[4] = {0.1, 0.7, 0.15, 0.05};  // A T G C
  struct Case {
    const char* set;
    double want;
  };
  const std::vector<Case> cases = {
      {"", 0.0},
      {"N", 0.0},
      {"A", 0.1},
      {"GCA", ((0.0 + 0.15) + 0.05) + 0.1},
      {"ACG", ((0.0 + 0.1) + 0.05) + 0.15},
      {"TNW", 0.7},
  };
  for (const Case& c : cases) EXPECT_EQ(ComputeResiduePNT(c.set, freq), c.want) << c.set;
  const double user[4] = {0.3, 0.3, 0.2, 0.2};
  EXPECT_EQ(ComputeResiduePNT("AT", user), 0.6);
}

TEST(Composition, BinarySequence) {
  struct Case {
    const char* name;
    std::string seq;
    int length;
    const char* set;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"N marked", "ANNA-", 5, "N", "011000"},
      {"empty set", "ACGT", 4, "", "00000"},
      {"last cell is 0 even over a special letter", "AAAA", 2, "A", "110"},
      {"empty sequence", "", 0, "A", "0"},
      {"no letter matches by case", "aAcC", 4, "AC", "01010"},
  };
  for (const Case& c : cases) {
    std::string dst(c.want.size() + 1, '#');
    Seq2binary(c.seq.data(), c.length, c.set, dst.data());
    EXPECT_EQ(dst, c.want + "#") << c.name;
  }
  // Every byte value against the per-letter lookup.
  const std::string mixed = AllBytesAndMix();
  const std::string set = "ACN";
  std::string dst(mixed.size() + 1, '#');
  Seq2binary(mixed.data(), static_cast<int>(mixed.size()), set, dst.data());
  for (std::size_t k = 0; k < mixed.size(); ++k) {
    ASSERT_EQ(dst[k], AA2binary(mixed[k], set.c_str(), 3)) << "byte " << k;
  }
  EXPECT_EQ(dst.back(), '0');
  // With the N set marked, the N positions add nothing to the probability.
  const double freq[4] = {0.25, 0.25, 0.25, 0.25};
  EXPECT_EQ(ComputeResiduePNT("N", freq), 0.0);
}

TEST(Composition, LinkageDistanceEstimate) {
  struct Case {
    double p;
    bool ok;
    int want;
  };
  const std::vector<Case> cases = {
      {0.5, true, 1},    {0.4, true, 2},    {1.0 / 3.0, true, 2}, {0.25, true, 3},
      {0.2, true, 3},    {0.1, true, 7},    {0.05, true, 13},     {0.01, true, 67},
      {0.8, true, 1},    {1.5, true, 1},    {2.0 / 3.0, true, 1}, {4.0 / 15.0, true, 2},
      {2.0 / 22.5, true, 8},  // 2.5 and 7.5: an exact half goes to the even neighbour
      {0.0, false, -5},  {1e-12, false, -5}, {-0.0, false, -5},
  };
  for (const Case& c : cases) {
    int distance = -5;
    EXPECT_EQ(EstimateLinkageDistance(c.p, &distance), c.ok) << "p = " << c.p;
    EXPECT_EQ(distance, c.want) << "p = " << c.p;
  }
}

}  // namespace
