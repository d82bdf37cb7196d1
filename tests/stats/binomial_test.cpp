#include "stats/binomial.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(Binomial, EdgeValues) {
  const struct {
    const char* name;
    double got, want;
  } cases[] = {{"recursion", BPR(3, 10, 0.25), 0.25028228759765625},
               {"closed formula", BinomialProb(3, 10, 0.25), 0.25028228759765625},
               {"sum", Fb(2, 10, 0.25), 0.5255928039550781},
               {"sum to -1", Fb(-1, 10, 0.25), 0.0},
               {"k past n", BPR(11, 10, 0.25), 0.0},
               {"two past n", BPR(12, 10, 0.25), 0.0},
               {"p = 0, sum", Fb(4, 40, 0.0), 1.0}};
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(Binomial, NormalApproximation) {
  const struct {
    bool upper;
    int k, n;
    double p;
    const char* want;  // printed with %e
    int valid;         // a variance of 5 (n 20, p 0.5) is still valid
  } cases[] = {
      {true, 300, 1000, 0.25, "1.501919e-04", 1},  {false, 230, 1000, 0.25, "7.721185e-02", 1},
      {true, 250, 1000, 0.25, "5.145641e-01", 1},  {false, 250, 1000, 0.25, "5.145641e-01", 1},
      {true, 5, 10, 0.25, "7.206352e-02", 0},      {true, 10, 20, 0.5, "5.884684e-01", 1},
      {true, 1000, 1000, 0.25, "0.000000e+00", 1}, {false, 1000, 1000, 0.25, "0.000000e+00", 1},
      {true, 0, 1000, 0.25, "5.478190e-17", 1},    {true, 0, 50, 0.0, "1.000000e+00", 0},
      {true, 1, 50, 0.0, "0.000000e+00", 0},       {false, 0, 50, 0.0, "1.000000e+00", 0},
      {true, 50, 50, 1.0, "1.000000e+00", 0},      {true, 51, 50, 1.0, "0.000000e+00", 0},
      {false, 49, 50, 1.0, "0.000000e+00", 0},     {false, 50, 50, 1.0, "1.000000e+00", 0},
  };
  for (const auto& c : cases) {
    int valid = -1;
    const double q = c.upper ? ApproxBinomial_P_GreaterThan_K(c.k, c.n, c.p, &valid)
                             : ApproxBinomial_P_LessThan_K(c.k, c.n, c.p, &valid);
    char printed[64];
    std::snprintf(printed, sizeof printed, "%e", q);
    EXPECT_EQ(printed + std::to_string(valid), c.want + std::to_string(c.valid))
        << c.k << " of " << c.n << ", p " << c.p << (c.upper ? ", upper" : ", lower");
  }
}

}  // namespace
