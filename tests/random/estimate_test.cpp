#include "random/estimate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "random/generator.h"
#include "segments/segments.h"

namespace {

// The value of the draw that follows `draws` draws from a fresh init_ran1(1).
double DrawAfter(int draws) {
  init_ran1(1);
  for (int i = 0; i < draws; ++i) ran1(1.0);
  return ran1(1.0);
}

// The distribution EstimateRandomPM makes for a binary sequence of n cells, from `seed`.
std::vector<double> Estimate(int64_t seed, std::string binary, int n, int how, int count, int E,
                             const char* set = "A") {
  init_ran1(seed);
  std::vector<double> dist;
  EstimateRandomPM(&binary[0], n, {how, count, E, set, {0.25, 0.25, 0.25, 0.25}}, &dist);
  return dist;
}

TEST(Estimate, ShuffleDrawsAndSwaps) {
  init_ran1(1);
  std::string abc = "ABC";
  ShuffleSequenceRegular(&abc[0], 3);
  EXPECT_EQ(abc, "BAC");
  const double next = ran1(1.0);
  EXPECT_EQ(next, DrawAfter(5));  // two draws hit the position itself
  std::string two = "10", one = "1";
  init_ran1(1);
  ShuffleSequenceRegular(&two[0], 2);  // 0 swaps with 1, then 1 with 0
  ShuffleSequenceRegular(&one[0], 1);
  EXPECT_EQ(two + one, "101");
  const double after = ran1(1.0);
  EXPECT_EQ(after, DrawAfter(3));  // the first draw hits position 0; one position draws nothing
}

TEST(Estimate, ShuffleModeExample) {
  init_ran1(1);
  std::string s = "1101000011";
  ShuffleSequenceRegular(&s[0], 10);
  ShuffleSequenceRegular(&s[0], 10);
  const char* seen[] = {"1101110000", "1001011100", "1010011100", "0110010110", "0111100100"};
  const int longest[] = {6, 5, 3, 4, 4};
  for (int k = 0; k < 5; ++k) {
    ShuffleSequenceRegular(&s[0], 10);
    EXPECT_EQ(s, seen[k]);
    EXPECT_EQ(LongestMergedLength(s.data(), 10, 2), longest[k]);
  }
  const double next = ran1(1.0);
  std::vector<double> expected(10001, 0.0);
  expected[3] = expected[5] = expected[6] = 0.2;
  expected[4] = 0.4;
  EXPECT_EQ(Estimate(1, "11010000110", 10, 2, 5, 2), expected);
  EXPECT_EQ(ran1(1.0), next);  // two shuffles before the five counted, as above
}

TEST(Estimate, GenerationModeExample) {
  const double freq[4] = {0.25, 0.25, 0.25, 0.25};
  double bounds[5];
  SetIntervalsNT(freq, bounds);
  init_ran1(1);
  std::vector<char> pool(kPoolSize + 1, '\0');
  GenerateRandomSequenceNT(pool.data(), kPoolSize, bounds);
  EXPECT_EQ(std::string(pool.data(), 10), "TCACGAGGCT");
  for (const char* letters : {"CGGCGGGAGTCT", "GGCCCTTCCTGT", "TGTTTCAATTTG"}) {
    std::string drawn(12, ' ');
    GenerateSequence(&drawn[0], 12, pool.data(), kPoolSize);
    EXPECT_EQ(drawn, letters);
  }
  std::vector<double> expected(10001, 0.0);
  expected[0] = expected[1] = expected[2] = 1.0 / 3;
  EXPECT_EQ(Estimate(1, std::string(13, '0'), 12, 1, 3, 1), expected);
}

TEST(Estimate, DistributionCoversLongSequences) {
  // Every position special: each shuffle leaves it as it is, and the largest merged length,
  // 12000, has a slot of its own.
  std::vector<double> dist = Estimate(3, std::string(12000, '1') + "0", 12000, 2, 2, 5);
  ASSERT_EQ(dist.size(), 12001u);
  EXPECT_EQ(dist[12000], 1.0);
  EXPECT_EQ(dist[10000], 0.0);
  // Generated from frequencies that hold no special residue: every length is 0.
  EXPECT_EQ(Estimate(3, std::string(501, '0'), 500, 1, 4, 5, "N")[0], 1.0);
}

TEST(Estimate, ProgressEveryThousandSequences) {
  testing::internal::CaptureStdout();
  Estimate(5, "01100", 4, 2, 2500, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "N=1000\nN=2000\n");
}

}  // namespace
