#include "stats/scan.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

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
    return ((2 * b(k, w)) * F(k - 1, w)) *
           ((k - 1) * F(k - 2, w) - (w * p) * F(k - 3, w - 1));
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

std::string E(double x, const char* format = "%e") {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, x);
  return buf;
}

TEST(Scan, TermsOfTheExample) {
  ScanWorkspace ws;
  const ScanTerms t = ComputeScanTerms(5, 10, 0.25, &ws);
  EXPECT_EQ(ws.b_w[5], 0.058399200439453125);
  EXPECT_EQ(ws.F_w[4], 0.9218730926513672);
  EXPECT_EQ(E(t.A1, "%.6e"), "1.724718e-01");
  EXPECT_EQ(E(t.A2, "%.6e"), "4.033163e-03");
  EXPECT_EQ(E(t.A3, "%.6e"), "1.064193e-02");
  EXPECT_EQ(E(t.A4, "%.6e"), "2.194510e-03");
  EXPECT_EQ(E(t.Q2, "%.6e"), "7.563058e-01");
  EXPECT_EQ(E(t.Q3, "%.6e"), "6.234626e-01");
}

TEST(Scan, KnownValues) {
  struct Case {
    const char* name;
    int k, w, N;
    double p;
    const char* printed;  // %e, or nullptr when `exact` holds the whole double
    double exact;
  };
  const Case cases[] = {
      {"m = 10", 5, 10, 100, 0.25, "8.387122e-01", 0},
      {"N = 91 shares m = 10", 5, 10, 91, 0.25, "8.387122e-01", 0},
      {"N = 95 shares m = 10", 5, 10, 95, 0.25, "8.387122e-01", 0},
      {"m = 11", 5, 10, 101, 0.25, "8.670420e-01", 0},
      {"m = 2 is 1 - Q2", 5, 10, 15, 0.25, "2.436942e-01", 0},
      {"m = 1 is 1 - Q2^2/Q3", 5, 10, 10, 0.25, "8.254577e-02", 0},
      {"k = 8", 8, 10, 100, 0.25, "1.941951e-02", 0},
      {"k = w", 10, 10, 100, 0.25, "6.532502e-05", 0},
      {"k = 1", 1, 10, 100, 0.25, nullptr, 0.9999999999996793},
      {"k = 2", 2, 10, 100, 0.25, nullptr, 0.9999999850883554},
      {"k = 3", 3, 10, 100, 0.25, nullptr, 0.9999155190535455},
      {"p = 0", 3, 10, 100, 0.0, nullptr, 0.0},
      {"negative result clamps to 0", 17, 17, 170, 0.1, nullptr, 0.0},
      {"window count 1", 1, 4, 19, 8.0 / 19, "9.999821e-01", 0},
      {"window count 2", 2, 4, 19, 8.0 / 19, "9.947997e-01", 0},
      {"window count 3", 3, 4, 19, 8.0 / 19, "8.383764e-01", 0},
      {"window count 4", 4, 4, 19, 8.0 / 19, "2.944302e-01", 0},
      {"segment of the 19-letter example", 7, 12, 19, 8.0 / 19, "5.077702e-01", 0},
      {"single-letter segment", 1, 1, 19, 8.0 / 19, "9.999691e-01", 0},
      {"k = 0 is never significant", 0, 10, 100, 0.25, nullptr, 1.0},
      {"p = 1, k within w", 4, 10, 100, 1.0, nullptr, 1.0},
  };
  for (const Case& c : cases) {
    const double got = P_scan_ge_K_in_W_N(c.k, c.w, c.N, c.p);
    if (c.printed != nullptr) {
      EXPECT_EQ(E(got), c.printed) << c.name;
    } else {
      EXPECT_EQ(got, c.exact) << c.name;
    }
  }
}

// Long segments: (1-p)^w underflows, yet a dense segment stays significant and a sparse one
// does not, and the result is a probability.
TEST(Scan, LongSegmentsKeepTheirMeaning) {
  struct Case {
    const char* name;
    int k, w, N;
    double p;
    bool significant;
  };
  const Case cases[] = {
      {"dense, p = 0.25", 1500, 3000, 4600000, 0.25, true},
      {"as expected, p = 0.25", 750, 3000, 4600000, 0.25, false},
      {"dense, p = 0.5", 900, 1200, 1000000, 0.5, true},
      {"sparse, p = 0.5", 500, 1200, 1000000, 0.5, false},
  };
  for (const Case& c : cases) {
    ASSERT_LT(std::pow(1.0 - c.p, c.w), DBL_MIN) << c.name;
    const double got = P_scan_ge_K_in_W_N(c.k, c.w, c.N, c.p);
    EXPECT_GE(got, 0.0) << c.name;
    EXPECT_LE(got, 1.0) << c.name;
    EXPECT_EQ(got < 0.05, c.significant) << c.name << " p-value " << got;
  }
}

// The table-driven evaluation gives exactly the doubles of the straightforward one.
TEST(Scan, FastEqualsStraightforward) {
  const double ps[] = {0.01, 0.1, 0.25, 8.0 / 19, 0.5, 0.7, 0.95};
  const int ws[] = {1, 2, 3, 4, 5, 7, 10, 16, 33, 60};
  ScanWorkspace workspace;
  int compared = 0;
  for (double p : ps) {
    for (int w : ws) {
      const Reference ref{w, p};
      for (int k = 0; k <= w; ++k) {
        for (int N : {w, w + 1, 2 * w, 3 * w - 1, 10 * w + 3, 100000}) {
          const double fast = P_scan_ge_K_in_W_N(k, w, N, p, &workspace);
          const double slow = ref.P(k, N);
          ASSERT_TRUE(fast == slow || (std::isnan(fast) && std::isnan(slow)))
              << "k=" << k << " w=" << w << " N=" << N << " p=" << p << ": " << fast
              << " vs " << slow;
          ++compared;
        }
        if (k >= 1 && p < 1.0) {
          const ScanTerms t = ComputeScanTerms(k, w, p, &workspace);
          ASSERT_EQ(t.Q2, ref.Q2(k));
          ASSERT_EQ(t.Q3, ref.Q3(k));
          ASSERT_EQ(t.A3, ref.A3(k));
          ASSERT_EQ(t.A4, ref.A4(k));
        }
      }
    }
  }
  EXPECT_GT(compared, 2000);
}

// Where (1-p)^m underflows for some of w, w-1, w-2 the terms come from logarithms.
TEST(Scan, FastEqualsStraightforwardAcrossUnderflow) {
  // At p = 0.5, (1-p)^m first drops below the smallest normal double at m = 1023.
  for (int w : {1022, 1023, 1024, 1025}) {
    const Reference ref{w, 0.5};
    for (int k : {1, 2, 5, 30}) {
      EXPECT_EQ(P_scan_ge_K_in_W_N(k, w, 50000, 0.5), ref.P(k, 50000)) << "w=" << w << " k=" << k;
    }
  }
}

}  // namespace
