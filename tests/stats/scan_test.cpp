#include "stats/scan.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

#include "stats/binomial.h"

namespace {

// Straightforward transcription of the approximation: every b and F rebuilt by recursion.
struct Reference {
  int w;
  double p;

  bool Underflows(int m) const { return std::pow(1.0 - p, static_cast<double>(m)) < DBL_MIN; }
  double b(int i, int m) const {
    if (!Underflows(m)) return BPR(i, m, p);
    if (i > m) return 0.0;
    return std::exp(std::lgamma(m + 1) - std::lgamma(i + 1) - std::lgamma(m - i + 1) +
                    i * std::log(p) + (m - i) * std::log1p(-p));
  }
  double F(int i, int m) const {
    if (!Underflows(m)) return Fb(i, m, p);
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
  double P(int k, int N) const {
    if (k <= 0) return 1.0;
    if (p <= 0.0) return 0.0;
    if (p >= 1.0) return k <= w ? 1.0 : 0.0;
    const int m = N / w + (N % w != 0 ? 1 : 0);
    const double R = Q2(k) * std::pow(Q3(k) / Q2(k), m - 2.0);
    return 1.0 - R > 0.0 ? 1.0 - R : 0.0;
  }
};

std::string E(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%e", x);
  return buf;
}

TEST(Scan, TermsOfTheExample) {
  ScanWorkspace ws;
  const ScanTerms t = ComputeScanTerms(5, 10, 0.25, &ws);
  EXPECT_EQ(ws.b_w[5], 0.058399200439453125);
  EXPECT_EQ(ws.F_w[4], 0.9218730926513672);
  const double got[] = {t.A1, t.A2, t.A3, t.A4, t.Q2, t.Q3};
  const char* want[] = {"1.724718e-01", "4.033163e-03", "1.064193e-02",
                        "2.194510e-03", "7.563058e-01", "6.234626e-01"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(E(got[i]), want[i]) << "term " << i;
}

// N = 91 to 100 make m = 10 windows, 101 makes 11, 15 makes 2 (1 - Q2), 10 makes 1
// (1 - Q2^2/Q3); k from 1 to w; p = 0 and 1; a negative result clamped to 0; the window
// counts and segments of the 19-letter example.
TEST(Scan, KnownValues) {
  // k, w, N, p, and the p-value as printed with %e or as an exact double.
  const std::tuple<int, int, int, double, const char*> printed[] = {
      {5, 10, 100, 0.25, "8.387122e-01"},   {5, 10, 91, 0.25, "8.387122e-01"},
      {5, 10, 101, 0.25, "8.670420e-01"},   {5, 10, 15, 0.25, "2.436942e-01"},
      {5, 10, 10, 0.25, "8.254577e-02"},    {8, 10, 100, 0.25, "1.941951e-02"},
      {10, 10, 100, 0.25, "6.532502e-05"},  {1, 4, 19, 8.0 / 19, "9.999821e-01"},
      {2, 4, 19, 8.0 / 19, "9.947997e-01"}, {3, 4, 19, 8.0 / 19, "8.383764e-01"},
      {4, 4, 19, 8.0 / 19, "2.944302e-01"}, {7, 12, 19, 8.0 / 19, "5.077702e-01"},
      {1, 1, 19, 8.0 / 19, "9.999691e-01"}};
  const std::tuple<int, int, int, double, double> exact[] = {{1, 10, 100, 0.25, 0.9999999999996793},
                                                             {2, 10, 100, 0.25, 0.9999999850883554},
                                                             {3, 10, 100, 0.25, 0.9999155190535455},
                                                             {0, 10, 100, 0.25, 1.0},
                                                             {3, 10, 100, 0.0, 0.0},
                                                             {4, 10, 100, 1.0, 1.0},
                                                             {17, 17, 170, 0.1, 0.0}};
  for (const auto& [k, w, N, p, want] : printed) {
    EXPECT_EQ(E(P_scan_ge_K_in_W_N(k, w, N, p)), want) << k << " in " << w << " of " << N;
  }
  for (const auto& [k, w, N, p, want] : exact) {
    EXPECT_EQ(P_scan_ge_K_in_W_N(k, w, N, p), want) << k << " in " << w << " of " << N;
  }
}

// The table-driven evaluation gives exactly the doubles of the straightforward one.
TEST(Scan, FastEqualsStraightforward) {
  ScanWorkspace workspace;
  for (double p : {0.01, 0.1, 0.25, 8.0 / 19, 0.5, 0.7, 0.95}) {
    for (int w : {1, 2, 3, 4, 5, 7, 10, 16, 33, 60}) {
      const Reference ref{w, p};
      for (int k = 0; k <= w; ++k) {
        for (int N : {w, w + 1, 2 * w, 3 * w - 1, 10 * w + 3, 100000}) {
          const double fast = P_scan_ge_K_in_W_N(k, w, N, p, &workspace);
          const double slow = ref.P(k, N);
          ASSERT_TRUE(fast == slow || (std::isnan(fast) && std::isnan(slow)))
              << "k=" << k << " w=" << w << " N=" << N << " p=" << p << ": " << fast << " vs "
              << slow;
        }
        if (k == 0) continue;
        const ScanTerms t = ComputeScanTerms(k, w, p, &workspace);
        const double terms[] = {t.Q2, t.Q3, t.A1, t.A2, t.A3, t.A4},
                     slow[] = {ref.Q2(k), ref.Q3(k), ref.A1(k), ref.A2(k), ref.A3(k), ref.A4(k)};
        for (int i = 0; i < 6; ++i) ASSERT_EQ(terms[i], slow[i]) << "term " << i << " k=" << k;
      }
    }
  }
}

// Where (1-p)^m underflows for some of w, w-1, w-2 the terms come from logarithms: the same
// doubles as the straightforward version, and long segments keep their meaning.
TEST(Scan, AcrossUnderflow) {
  // At p = 0.5, (1-p)^m first drops below the smallest normal double at m = 1023.
  for (int w : {1022, 1023, 1024, 1025}) {
    const Reference ref{w, 0.5};
    for (int k : {1, 2, 5, 30}) {
      EXPECT_EQ(P_scan_ge_K_in_W_N(k, w, 50000, 0.5), ref.P(k, 50000)) << "w=" << w << " k=" << k;
    }
  }
  // k, w, N, p, significant: dense segments stay significant, as many as expected do not.
  const std::tuple<int, int, int, double, bool> cases[] = {{1500, 3000, 4600000, 0.25, true},
                                                           {750, 3000, 4600000, 0.25, false},
                                                           {900, 1200, 1000000, 0.5, true},
                                                           {500, 1200, 1000000, 0.5, false}};
  for (const auto& [k, w, N, p, significant] : cases) {
    const double got = P_scan_ge_K_in_W_N(k, w, N, p);
    EXPECT_TRUE(got >= 0.0 && got <= 1.0 && (got < 0.05) == significant) << k << ": " << got;
  }
}

}  // namespace
