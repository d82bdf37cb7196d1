#include "random/estimate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Ran1 Seeded(int64_t seed) {
  Ran1 g;
  init_ran1(&g, seed);
  return g;
}

// The value of the draw that follows `draws` draws from a fresh seed of 1.
double DrawAfter(int draws) {
  Ran1 g = Seeded(1);
  for (int i = 0; i < draws; ++i) ran1(&g, 1.0);
  return ran1(&g, 1.0);
}

// The counts EstimateRandomPM makes for a binary sequence of n cells.
RandomMaxCounts Estimate(Ran1* g, std::string binary, int n, int how, int count, int E,
                         const char* set = "A") {
  return EstimateRandomPM(g, &binary[0], n, {how, count, E, set, {0.25, 0.25, 0.25, 0.25}},
                          [](int) {});
}

TEST(Estimate, ShuffleDrawsAndSwaps) {
  Ran1 g = Seeded(1);
  std::string abc = "ABC";
  ShuffleSequenceRegular(&g, &abc[0], 3);
  EXPECT_EQ(abc, "BAC");
  EXPECT_EQ(ran1(&g, 1.0), DrawAfter(5));  // two draws hit the position itself
  std::string two = "10", one = "1";
  g = Seeded(1);
  ShuffleSequenceRegular(&g, &two[0], 2);  // 0 swaps with 1, then 1 with 0
  ShuffleSequenceRegular(&g, &one[0], 1);
  EXPECT_EQ(two + one, "101");
  EXPECT_EQ(ran1(&g, 1.0),
            DrawAfter(3));  // the first draw hits position 0; one position draws nothing
}

TEST(Estimate, ShuffleModeExample) {
  Ran1 g = Seeded(1);
  std::string s = "1101000011";
  ShuffleSequenceRegular(&g, &s[0], 10);
  ShuffleSequenceRegular(&g, &s[0], 10);
  const char* seen[] = {"1101110000", "1001011100", "1010011100", "0110010110", "0111100100"};
  for (int k = 0; k < 5; ++k) {
    ShuffleSequenceRegular(&g, &s[0], 10);
    EXPECT_EQ(s, seen[k]);
  }
  const double next = ran1(&g, 1.0);
  g = Seeded(1);
  const RandomMaxCounts d = Estimate(&g, "11010000110", 10, 2, 5, 2);
  EXPECT_EQ(d.counts, (std::vector<uint32_t>{0, 0, 0, 1, 2, 1, 1}));  // lengths 6, 5, 3, 4, 4
  EXPECT_EQ(ran1(&g, 1.0), next);  // two shuffles before the five counted, as above
  // Fractions summed from the length up, as a table of count/N would sum them.
  const double fifth = 1.0 / 5;
  EXPECT_EQ(EmpiricalPValue(d, 4), 2.0 / 5 + fifth + fifth);
  EXPECT_EQ(EmpiricalPValue(d, 6), fifth);
  EXPECT_EQ(EmpiricalPValue(d, 7), 0.0);
}

TEST(Estimate, GenerationModeExample) {
  const double freq[4] = {0.25, 0.25, 0.25, 0.25};
  double bounds[5];
  SetIntervalsNT(freq, bounds);
  Ran1 g = Seeded(1);
  std::vector<char> pool(kPoolSize + 1, '\0');
  GenerateRandomSequenceNT(&g, pool.data(), kPoolSize, bounds);
  EXPECT_EQ(std::string(pool.data(), 10), "TCACGAGGCT");
  for (const char* letters : {"CGGCGGGAGTCT", "GGCCCTTCCTGT", "TGTTTCAATTTG"}) {
    std::string drawn(12, ' ');
    GenerateSequence(&g, &drawn[0], 12, pool.data(), kPoolSize);
    EXPECT_EQ(drawn, letters);
  }
  g = Seeded(1);
  EXPECT_EQ(Estimate(&g, std::string(13, '0'), 12, 1, 3, 1).counts,
            (std::vector<uint32_t>{1, 1, 1}));
}

TEST(Estimate, CountsSizedToTheLongestSeen) {
  // Every position special: each shuffle leaves it as it is, and the largest merged length,
  // 12000, has a slot of its own.
  Ran1 g = Seeded(3);
  const RandomMaxCounts all = Estimate(&g, std::string(12000, '1') + "0", 12000, 2, 2, 5);
  ASSERT_EQ(all.counts.size(), 12001u);
  EXPECT_EQ(all.counts[12000], 2u);
  EXPECT_EQ(EmpiricalPValue(all, 12000), 1.0);
  // Generated from frequencies that hold no special residue: every length is 0.
  EXPECT_EQ(Estimate(&g, std::string(501, '0'), 500, 1, 4, 5, "N").counts,
            std::vector<uint32_t>{4});
}

}  // namespace
