#include "stats/scan.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

using namespace kestra;

namespace {

// Straightforward transcription of the approximation: every b and F rebuilt by recursion.
struct Reference {
  int w;
  double p;

  bool Underflows(int m) const { return std::pow(1.0 - p, static_cast<double>(m)) < DBL_MIN; }
  // b(i; m, p) by the recursion from b(0; m, p) = (1-p)^m, the closed formula at i = 0 where
  // p^0 and the coefficient are 1 (past i = m + 1 the factor m - i + 1 keeps the chain at
  // signed zero); from logarithms where (1-p)^m is no normal double.
  double Chain(int i, int m) const {
    if (i == 0) return std::pow(1.0 - p, static_cast<double>(m)) * (std::pow(p, 0.0) * 1.0);
    return (static_cast<double>(m - i + 1) / static_cast<double>(i)) *
           ((p / (1.0 - p)) * Chain(i - 1, m));
  }
  double b(int i, int m) const {
    if (!Underflows(m)) return Chain(i, m);
    if (i > m) return 0.0;
    return std::exp(std::lgamma(m + 1) - std::lgamma(i + 1) - std::lgamma(m - i + 1) +
                    i * std::log(p) + (m - i) * std::log1p(-p));
  }
  // F(i; m, p) = b(0; m, p) + ... + b(i; m, p) in ascending order; 0 for negative i.
  double F(int i, int m) const {
    double sum = 0.0;
    for (int j = 0; j <= i; ++j) sum += b(j, m);
    return sum;
  }
  double Q2(int k) const {
    return F(k - 1, w) * F(k - 1, w) - ((k - 1) * 1.0 * b(k, w)) * F(k - 2, w) +
           ((w * p) * b(k, w)) * F(k - 3, w - 1);
  }
  double A1(int k) const {
    return ((2 * b(k, w)) * F(k - 1, w)) * ((k - 1) * F(k - 2, w) - (w * p) * F(k - 3, w - 1));
  }
  double A2(int k) const {
    return (0.5 * (b(k, w) * b(k, w))) *
           ((static_cast<double>(k - 1) * (k - 2)) * F(k - 3, w) -
            (((2.0 * (k - 2)) * w) * p) * F(k - 4, w - 1) +
            ((static_cast<double>(w) * (w - 1)) * (p * p)) * F(k - 5, w - 2));
  }
  double A3(int k) const {
    double sum = 0.0;
    for (int r = 2; r <= k - 1; ++r) sum += b(2 * k - r, w) * (F(r - 1, w) * F(r - 1, w));
    return sum;
  }
  double A4(int k) const {
    double sum = 0.0;
    for (int r = 2; r <= k - 1; ++r) {
      sum += (b(2 * k - r, w) * b(r, w)) * ((r - 1) * F(r - 2, w) - (w * p) * F(r - 3, w - 1));
    }
    return sum;
  }
  double Q3(int k) const {
    return (((F(k - 1, w) * F(k - 1, w) * F(k - 1, w) - A1(k)) + A2(k)) + A3(k)) - A4(k);
  }
  // 1 - R as the formula leaves it, unclamped, from Q2 and Q3 worked out once.
  double OneMinusR(double q2, double q3, int N) const {
    const int m = N / w + (N % w != 0 ? 1 : 0);
    return 1.0 - q2 * std::pow(q3 / q2, m - 2.0);
  }
};

// The p-value owed, from the straightforward terms: 1 for k <= 0 and for a depleted stretch,
// where Q2 or Q3 is not above 0 (or not a number); else 1 - R, or 0 where that is not above 0.
double Owed(const Reference& ref, int k, int N, double q2, double q3) {
  if (k <= 0 || !(q2 > 0.0 && q3 > 0.0)) return 1.0;
  const double raw = ref.OneMinusR(q2, q3, N);
  return raw > 0.0 ? raw : 0.0;
}

// N = 91 to 100 make m = 10 windows, 101 makes 11, 15 makes 2 (1 - Q2), 10 makes 1
// (1 - Q2^2/Q3); k = 0, k = w, p = 0 and 1; a negative result clamped to 0. (The values of the
// 19-letter example are pinned end to end.)
TEST(Scan, KnownValues) {
  const std::tuple<int, int, int, double, const char*> cases[] = {
      {5, 10, 100, 0.25, "8.387122e-01"},  {5, 10, 91, 0.25, "8.387122e-01"},
      {5, 10, 101, 0.25, "8.670420e-01"},  {5, 10, 15, 0.25, "2.436942e-01"},
      {5, 10, 10, 0.25, "8.254577e-02"},   {8, 10, 100, 0.25, "1.941951e-02"},
      {10, 10, 100, 0.25, "6.532502e-05"}, {4, 4, 19, 8.0 / 19, "2.944302e-01"},
      {0, 10, 100, 0.25, "1.000000e+00"},  {3, 10, 100, 0.0, "0.000000e+00"},
      {4, 10, 100, 1.0, "1.000000e+00"},   {17, 17, 170, 0.1, "0.000000e+00"}};
  for (const auto& [k, w, N, p, want] : cases) {
    char got[32];
    std::snprintf(got, sizeof got, "%e", ScanPValue(k, w, N, p));
    EXPECT_STREQ(got, want) << k << " in " << w << " of " << N;
  }
}

// The fast evaluation gives exactly the doubles of the straightforward one, term by term and
// for the p-value, across k, w, p and the number of windows.
TEST(Scan, FastEqualsStraightforward) {
  std::vector<std::tuple<int, double, int>> cases;  // w, p, k
  for (double p : {0.01, 0.1, 0.25, 8.0 / 19, 0.5, 0.7, 0.95}) {
    for (int w : {1, 2, 3, 4, 5, 7, 10, 16, 33, 60}) {
      for (int k = 0; k <= w; ++k) cases.emplace_back(w, p, k);
    }
  }
  // Longer tables; at p = 0.5, (1-p)^m first drops below the smallest normal double at
  // m = 1023, so w, w-1 and w-2 fall on either side; counts so far below w * p that Q2 or Q3
  // is 0 or, by cancellation, just below (Q3 < 0 at w = 200, k = 17; Q2 < 0 at w = 400, k = 25).
  for (int k : {120, 150, 200}) cases.emplace_back(400, 0.25, k);
  for (int w : {1022, 1023, 1024, 1025}) {
    for (int k : {1, 2, 5, 30, 200}) cases.emplace_back(w, 0.5, k);
  }
  for (int k = 12; k <= 20; ++k) cases.emplace_back(200, 0.8, k);
  for (int k = 23; k <= 27; ++k) cases.emplace_back(400, 0.7, k);
  // The terms walked afresh at every call, and kept in tables from one call to the next (as
  // the windows of a scan ask, with k rising or falling), walked for counts beyond them.
  std::vector<std::tuple<int, double, int>> falling(cases.rbegin(), cases.rend());
  for (const long table_limit : {-1L, ScanWorkspace().table_limit, 0L, 9L}) {
    for (const auto* order : {&cases, &falling}) {
      ScanWorkspace workspace;
      workspace.keep_terms = table_limit >= 0;
      workspace.table_limit = table_limit;
      for (const auto& [w, p, k] : *order) {
        const Reference ref{w, p};
        const double q2 = ref.Q2(k), q3 = ref.Q3(k);
        SCOPED_TRACE(testing::Message()
                     << "k=" << k << " w=" << w << " p=" << p << " limit " << table_limit);
        for (int N : {w, w + 1, 2 * w, 3 * w - 1, 10 * w + 3, 100000}) {
          ASSERT_EQ(ScanPValue(k, w, N, p, &workspace), Owed(ref, k, N, q2, q3)) << N;
        }
        if (k == 0) continue;
        const ScanTerms t = ComputeScanTerms(k, w, p, &workspace);
        const double terms[] = {t.Q2, t.Q3, t.A1, t.A2, t.A3, t.A4},
                     slow[] = {q2, q3, ref.A1(k), ref.A2(k), ref.A3(k), ref.A4(k)};
        for (int i = 0; i < 6; ++i) ASSERT_EQ(terms[i], slow[i]) << "term " << i;
      }
    }
  }
}

// A count far below w * p drives Q2 and Q3 to 0 or, by cancellation, just below. Read through
// Q3 / Q2, that would make the stretch most significant (0) for some numbers of windows m; it
// scores 1 for every m. From the nearest count with both terms above 0 on, 1 - R stands, and
// there it is 1 as well.
TEST(Scan, DepletedStretchIsNotSignificant) {
  // p, k, N (w = 1000, so m = N / 1000), whether Q2 and Q3 are both above 0. At p = 0.8,
  // k = 409 has Q2 = Q3 = 0, k = 410 and 487 Q3 = 0, k = 488 Q3 < 0; at 0.97, 793 has Q3 = 0.
  const std::tuple<double, int, int, bool> cases[] = {
      {0.8, 487, 1000, false},  {0.8, 488, 1000, false},   {0.8, 489, 1000, true},
      {0.97, 793, 1000, false}, {0.97, 794, 1000, true},   {0.8, 409, 2000, false},
      {0.8, 489, 2000, true},   {0.8, 409, 3000, false},   {0.8, 410, 3000, false},
      {0.8, 489, 3000, true},   {0.8, 409, 100000, false}, {0.8, 489, 100000, true}};
  ScanWorkspace ws;
  for (const auto& [p, k, N, positive] : cases) {
    const ScanTerms t = ComputeScanTerms(k, 1000, p, &ws);
    EXPECT_EQ(t.Q2 > 0.0 && t.Q3 > 0.0, positive) << "p=" << p << " k=" << k;
    EXPECT_EQ(ScanPValue(k, 1000, N, p, &ws), 1.0) << "p=" << p << " k=" << k << " N=" << N;
  }
}

// Long segments, where the terms come from logarithms, keep their meaning.
TEST(Scan, AcrossUnderflow) {
  // k, w, N, p, significant: dense segments stay significant, as many as expected do not.
  const std::tuple<int, int, int, double, bool> cases[] = {{1500, 3000, 4600000, 0.25, true},
                                                           {750, 3000, 4600000, 0.25, false},
                                                           {900, 1200, 1000000, 0.5, true},
                                                           {500, 1200, 1000000, 0.5, false}};
  for (const auto& [k, w, N, p, significant] : cases) {
    const double got = ScanPValue(k, w, N, p);
    EXPECT_TRUE(got >= 0.0 && got <= 1.0 && (got < 0.05) == significant) << k << ": " << got;
  }
}

}  // namespace
