#include "random/estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sequence/composition.h"

using namespace kestra;

namespace {

// The value of the draw that follows `draws` draws from a fresh seed of 1.
double DrawAfter(int draws) {
  RandomGenerator g(1);
  for (int i = 0; i < draws; ++i) Draw(&g, 1.0);
  return Draw(&g, 1.0);
}

// The counts CountLongestMergedLengths makes for cells of '1' and '0'.
LongestLengthCounts Count(RandomGenerator* g, const std::string& cells, int n, RandomSource how,
                          int count, int E, const char* set = "A") {
  std::vector<uint64_t> bits(static_cast<std::size_t>(n) / 64 + 2);
  PackBits(cells.data(), n, bits.data());
  return CountLongestMergedLengths(g, bits.data(), n,
                                   {how, count, E, set, {0.25, 0.25, 0.25, 0.25}}, [](int) {});
}

// A shuffle draws a partner for each position in turn, drawing again when it draws the
// position itself; it keeps the letters, and leaves one position alone.
TEST(Estimate, ShuffleDrawsAndSwaps) {
  RandomGenerator g(1);
  std::string two = "10", one = "1";
  ShuffleBinary(&g, &two[0], 2);  // 0 swaps with 1, then 1 with 0, whatever the draws
  ShuffleBinary(&g, &one[0], 1);  // draws nothing
  EXPECT_EQ(two + one, "101");
  // Each of the two positions draws until it draws the other; 0 is drawn first once here.
  EXPECT_EQ(Draw(&g, 1.0), DrawAfter(3));
  std::string letters = "1101000011101";
  const std::string before = letters;
  ShuffleBinary(&g, &letters[0], static_cast<int>(letters.size()));
  EXPECT_NE(letters, before);
  EXPECT_TRUE(std::is_permutation(letters.begin(), letters.end(), before.begin()));
}

// The counts are those of merging each random sequence: shuffles of a sequence of one run of
// specials keep it one run; generated sequences without a special residue have none. The
// table reaches the longest length met, beyond any fixed size.
TEST(Estimate, CountsOfLongestLengths) {
  RandomGenerator g(3);
  const LongestLengthCounts all =
      Count(&g, std::string(12000, '1') + "0", 12000, RandomSource::kShuffle, 2, 5);
  ASSERT_EQ(all.counts.size(), 12001u);
  EXPECT_EQ(all.counts[12000], 2u);
  EXPECT_EQ(EmpiricalPValue(all, 12000), 1.0);
  EXPECT_EQ(Count(&g, std::string(501, '0'), 500, RandomSource::kGenerate, 4, 5, "N").counts,
            std::vector<uint32_t>{4});
  // Fractions summed from the length up, as a table of count/N would sum them.
  LongestLengthCounts d;
  d.counts = {0, 0, 0, 1, 2, 1, 1};
  d.sequences = 5;
  const double fifth = 1.0 / 5;
  EXPECT_EQ(EmpiricalPValue(d, 4), 2.0 / 5 + fifth + fifth);
  EXPECT_EQ(EmpiricalPValue(d, 7), 0.0);
  EXPECT_EQ(EmpiricalPValue(d, 0), ((0.0 + 0.0 + 0.0 + fifth) + 2.0 / 5 + fifth) + fifth);
}

}  // namespace
