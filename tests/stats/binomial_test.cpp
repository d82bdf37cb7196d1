#include "stats/binomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string E(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%e", x);
  return buf;
}

TEST(Binomial, TermsAndSums) {
  EXPECT_EQ(factorial(0), 1.0);
  EXPECT_EQ(factorial(-3), 1.0);
  EXPECT_EQ(factorial(5), 120.0);
  EXPECT_EQ(n_Choose_k(3, 10), 120.0);
  EXPECT_EQ(n_Choose_k(0, 7), 1.0);
  EXPECT_EQ(BPR(3, 10, 0.25), 0.25028228759765625);
  EXPECT_EQ(BinomialProb(3, 10, 0.25), 0.25028228759765625);
  EXPECT_EQ(Fb(2, 10, 0.25), 0.5255928039550781);
  EXPECT_EQ(Fb(-1, 10, 0.25), 0.0);
  EXPECT_EQ(BPR(11, 10, 0.25), 0.0);
  EXPECT_EQ(BPR(12, 10, 0.25), 0.0);
  EXPECT_TRUE(std::signbit(BPR(12, 10, 0.25)));  // the chain past n keeps a signed zero
  for (int n : {1, 5, 40}) {
    EXPECT_EQ(BPR(0, n, 0.0), 1.0);
    EXPECT_EQ(BPR(3, n, 0.0), 0.0);
    EXPECT_EQ(Fb(4, n, 0.0), 1.0);
  }
  const double table[] = {0.5, 0.25, 0.125, 0.0625, 1.0, 2.0};
  EXPECT_EQ(CumulativeProb(5, 3, table), 0.0);
  EXPECT_EQ(CumulativeProb(1, 3, table), 0.4375);
}

TEST(Binomial, NormalApproximation) {
  struct Case {
    const char* name;
    bool upper;
    int k, n;
    double p;
    const char* expected;  // printed with %e
    int valid;
  };
  const Case cases[] = {
      {"upper tail, valid", true, 300, 1000, 0.25, "1.501919e-04", 1},
      {"lower tail, valid", false, 230, 1000, 0.25, "7.721185e-02", 1},
      {"upper at the mean", true, 250, 1000, 0.25, "5.145641e-01", 1},
      {"lower at the mean", false, 250, 1000, 0.25, "5.145641e-01", 1},
      {"small variance", true, 5, 10, 0.25, "7.206352e-02", 0},
      {"variance exactly 5 is valid", true, 10, 20, 0.5, nullptr, 1},
      {"far upper bound underflows", true, 1000, 1000, 0.25, "0.000000e+00", 1},
      {"lower tail misses the far side", false, 1000, 1000, 0.25, "0.000000e+00", 1},
      {"upper tail from far below", true, 0, 1000, 0.25, "5.478190e-17", 1},
      {"p = 0, upper, k = 0", true, 0, 50, 0.0, "1.000000e+00", 0},
      {"p = 0, upper, k = 1", true, 1, 50, 0.0, "0.000000e+00", 0},
      {"p = 0, lower, k = 0", false, 0, 50, 0.0, "1.000000e+00", 0},
      {"p = 1, upper, k = n", true, 50, 50, 1.0, "1.000000e+00", 0},
      {"p = 1, upper, k > n", true, 51, 50, 1.0, "0.000000e+00", 0},
      {"p = 1, lower, k < n", false, 49, 50, 1.0, "0.000000e+00", 0},
      {"p = 1, lower, k = n", false, 50, 50, 1.0, "1.000000e+00", 0},
  };
  for (const Case& c : cases) {
    int valid = -1;
    const double q = c.upper ? ApproxBinomial_P_GreaterThan_K(c.k, c.n, c.p, &valid)
                             : ApproxBinomial_P_LessThan_K(c.k, c.n, c.p, &valid);
    if (c.expected != nullptr) {
      EXPECT_EQ(E(q), c.expected) << c.name;
    }
    EXPECT_EQ(valid, c.valid) << c.name;
  }
}

// Simpson's rule stops early only when two stages agree to the last bit or both are 0.
TEST(Binomial, SimpsonStopsOnExactZeros) {
  static int calls;
  calls = 0;
  auto counting_zero = [](double) -> double {
    ++calls;
    return 0.0;
  };
  EXPECT_EQ(qsimp(counting_zero, 0.0, 1.0), 0.0);
  EXPECT_EQ(calls, 33);  // stages 1 to 6: 2 + 1 + 2 + 4 + 8 + 16
  calls = 0;
  auto counting_density = [](double x) -> double {
    ++calls;
    return NormalDensity(x);
  };
  const double z = ((300 - 0.5) - 250.0) / std::sqrt(187.5);
  qsimp(counting_density, z, z + 10);
  EXPECT_EQ(calls, 524289);  // the estimates keep moving: all 20 stages run
}

}  // namespace
