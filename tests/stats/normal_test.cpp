#include "stats/normal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace kestra;

namespace {

// Both tails, the validity bound (a variance of 5, n 20 and p 0.5, is still valid), tails
// far out where the density underflows, and p at 0 and 1, where the tails are exact.
TEST(Normal, Tails) {
  const struct {
    bool upper;
    int k, n;
    double p;
    const char* want;  // printed with %e
    int valid;
  } cases[] = {
      {true, 300, 1000, 0.25, "1.501919e-04", 1},  {false, 230, 1000, 0.25, "7.721185e-02", 1},
      {true, 250, 1000, 0.25, "5.145641e-01", 1},  {false, 250, 1000, 0.25, "5.145641e-01", 1},
      {true, 5, 10, 0.25, "7.206352e-02", 0},      {true, 10, 20, 0.5, "5.884684e-01", 1},
      {true, 1000, 1000, 0.25, "0.000000e+00", 1}, {false, 1000, 1000, 0.25, "0.000000e+00", 1},
      {true, 0, 50, 0.0, "1.000000e+00", 0},       {true, 1, 50, 0.0, "0.000000e+00", 0},
      {false, 0, 50, 0.0, "1.000000e+00", 0},      {true, 50, 50, 1.0, "1.000000e+00", 0},
      {true, 51, 50, 1.0, "0.000000e+00", 0},      {false, 49, 50, 1.0, "0.000000e+00", 0},
      {false, 50, 50, 1.0, "1.000000e+00", 0},
  };
  for (const auto& c : cases) {
    bool valid = false;
    const double q =
        c.upper ? NormalUpperTail(c.k, c.n, c.p, &valid) : NormalLowerTail(c.k, c.n, c.p, &valid);
    char printed[64];
    std::snprintf(printed, sizeof printed, "%e", q);
    EXPECT_EQ(printed + std::to_string(valid), c.want + std::to_string(c.valid))
        << c.k << " of " << c.n << ", p " << c.p << (c.upper ? ", upper" : ", lower");
  }
}

}  // namespace
