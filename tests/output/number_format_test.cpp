// The report's number formatting against printf itself.
#include "output/number_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace kestra;

namespace {

// The formatters the report uses print exactly the bytes of "%e" and "%lld": every binary
// exponent with its neighbours, the values that round up to a new decimal exponent, the
// boundaries of the digit counts, and random samples.
TEST(NumberFormat, PrintsAsPrintf) {
  std::mt19937_64 rng(2024);
  std::vector<double> reals = {0.0,     -0.0,         HUGE_VAL, -HUGE_VAL, std::nan(""),
                               DBL_MIN, DBL_TRUE_MIN, DBL_MAX,  1.0,       -std::nan("")};
  for (int e = -1074; e <= 1023; ++e) {
    const double x = std::ldexp(1.0, e);
    reals.insert(reals.end(), {x, std::nextafter(x, 0.0), std::nextafter(x, HUGE_VAL)});
  }
  for (int d = -310; d <= 308; ++d) {
    const double x = 9.9999995 * std::pow(10.0, d);  // a tie that rounds to the next power
    reals.insert(reals.end(), {x, std::nextafter(x, 0.0), std::nextafter(x, HUGE_VAL)});
  }
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    reals.insert(reals.end(), {x, static_cast<double>(rng() % 100000000) / 1e8});
  }
  int mismatches = 0;
  char fast[40], slow[400];
  for (const double x : reals) {
    *FormatSci(fast, x) = '\0';
    std::snprintf(slow, sizeof slow, "%e", x);
    if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
  }
  std::vector<long long> ints = {LLONG_MIN, LLONG_MAX, INT_MIN, INT_MAX};
  for (long long p = 1; p <= LLONG_MAX / 10; p *= 10) {
    for (const long long v : {p - 1, p, p + 1}) ints.insert(ints.end(), {v, -v});
  }
  for (int i = 0; i < 20000; ++i) ints.push_back(static_cast<long long>(rng()) >> (rng() % 64));
  for (const long long v : ints) {
    *FormatInt(fast, v) = '\0';
    std::snprintf(slow, sizeof slow, "%lld", v);
    if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
  }
  EXPECT_EQ(mismatches, 0);
}

// A counter counting up by one, or by steps small and large, shows the digits "%lld" shows,
// across every carry.
TEST(NumberFormat, CounterCountsAsPrintf) {
  std::mt19937_64 rng(5);
  for (const unsigned long long start :
       {0ULL, 1ULL, 95ULL, 99990ULL, 999999990ULL, 2147483600ULL}) {
    for (const int kind : {0, 1}) {
      DecimalCounter c;
      StartCounter(&c, start);
      char want[32];
      for (int i = 0; i < 3000; ++i) {
        std::snprintf(want, sizeof want, "%llu", static_cast<unsigned long long>(c.value));
        char got[32];
        ASSERT_EQ(std::string(got, WriteCounter(got, c)), want);
        if (kind == 0) {
          CountUp(&c);
        } else {
          AdvanceCounter(&c, rng() % 8 == 0 ? rng() % 100000 : rng() % 101);
        }
      }
    }
  }
}

}  // namespace
