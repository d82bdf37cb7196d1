#include "random/generator.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestra;

namespace {

std::vector<double> Draws(int64_t seed, int n, double scale = 1.0) {
  RandomGenerator g(seed);
  std::vector<double> out;
  for (int i = 0; i < n; ++i) out.push_back(Draw(&g, scale));
  return out;
}

// How seeds relate to streams: a seed and its negative give one stream, a scaled draw is the
// unit draw times the scale, and the seed past the largest folds onto a zero state that
// restarts from 1 (one draw of 0 inside the seeding, then the stream of seed 1 one draw
// behind). The values themselves are pinned end to end, by the reports of -S and -B.
TEST(Generator, SeedsAndStreams) {
  const std::vector<double> one = Draws(1, 4);
  EXPECT_EQ(Draws(-1, 4), one);
  EXPECT_EQ(Draws(1, 1, 7.0)[0], one[0] * 7.0);
  const std::vector<double> folded = Draws(kLargestSeed + 1, 4);
  EXPECT_EQ(std::vector<double>(folded.begin() + 1, folded.end()),
            std::vector<double>(one.begin(), one.end() - 1));
  EXPECT_NE(Draws(2, 4), one);
  EXPECT_NE(Draws(kLargestSeed, 4), one);
  for (const double u : Draws(kLargestSeed, 1000)) EXPECT_TRUE(u > 0.0 && u < 1.0) << u;
}

}  // namespace
