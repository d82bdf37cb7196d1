#include "stats/scan.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "stats/binomial.h"

// b(i; m) for i = 0..top into b. Each term comes from the previous one by the operations of
// the recursion of BPR in the same order, so the doubles equal BPR(i, m, p). When (1-p)^m
// underflows the recursion would start from 0; the terms are then taken from logarithms.
static void FillBinomialTerms(int m, double p, long top, std::vector<double>* b) {
  b->resize(static_cast<size_t>(std::max(top + 1, 0L)));
  if (top < 0) return;
  if (std::pow(1.0 - p, static_cast<double>(m)) < DBL_MIN) {
    const double lg_m = std::lgamma(m + 1);
    for (long i = 0; i <= top; ++i) {
      (*b)[i] = i > m ? 0.0
                      : std::exp(lg_m - std::lgamma(i + 1) - std::lgamma(m - i + 1) +
                                 i * std::log(p) + (m - i) * std::log1p(-p));
    }
    return;
  }
  (*b)[0] = BinomialProb(0, m, p);
  for (long i = 1; i <= top; ++i) {
    (*b)[i] = (static_cast<double>(m - i + 1) / static_cast<double>(i)) *
              ((p / (1.0 - p)) * (*b)[i - 1]);
  }
}

// F(i; m) for i = 0..top: the running sum of b(i; m) in ascending order, from 0.
static void FillCumulative(const std::vector<double>& b, long top, std::vector<double>* F) {
  F->resize(static_cast<size_t>(std::max(top + 1, 0L)));
  double sum = 0.0;
  for (long i = 0; i <= top; ++i) {
    sum += b[i];
    (*F)[i] = sum;
  }
}

// F at index i of a table, 0 below index 0.
static double At(const std::vector<double>& F, long i) { return i < 0 ? 0.0 : F[i]; }

ScanTerms ComputeScanTerms(int k, int w, double p, ScanWorkspace* ws) {
  // b(i; w) is needed up to index 2k-2 (and k), F(i; w) up to k-1, F(i; w-1) up to k-3,
  // F(i; w-2) up to k-5.
  const long top_b = std::max<long>(k, 2L * k - 2);
  FillBinomialTerms(w, p, top_b, &ws->b_w);
  FillCumulative(ws->b_w, k - 1, &ws->F_w);
  FillBinomialTerms(w - 1, p, k - 3, &ws->b_other);
  FillCumulative(ws->b_other, k - 3, &ws->F_w1);
  FillBinomialTerms(w - 2, p, k - 5, &ws->b_other);
  FillCumulative(ws->b_other, k - 5, &ws->F_w2);

  const std::vector<double>& bw = ws->b_w;
  const std::vector<double>& F = ws->F_w;
  const std::vector<double>& F1 = ws->F_w1;
  const std::vector<double>& F2 = ws->F_w2;
  const double b = bw[k];
  const double dk1 = k - 1;
  const double dk2 = k - 2;
  const double dw = w;
  const double wp = dw * p;

  ScanTerms t;
  const double Fk1 = At(F, k - 1);
  t.Q2 = Fk1 * Fk1 - (dk1 * b) * At(F, k - 2) + (wp * b) * At(F1, k - 3);
  t.A1 = ((2.0 * b) * Fk1) * (dk1 * At(F, k - 2) - wp * At(F1, k - 3));
  t.A2 = (0.5 * (b * b)) * ((dk1 * dk2) * At(F, k - 3) - (((2.0 * dk2) * dw) * p) * At(F1, k - 4) +
                            ((dw * static_cast<double>(w - 1)) * (p * p)) * At(F2, k - 5));
  t.A3 = 0.0;
  t.A4 = 0.0;
  for (int r = 2; r <= k - 1; ++r) {
    const double Fr1 = At(F, r - 1);
    t.A3 += bw[2L * k - r] * (Fr1 * Fr1);
  }
  for (int r = 2; r <= k - 1; ++r) {
    t.A4 += (bw[2L * k - r] * bw[r]) *
            (static_cast<double>(r - 1) * At(F, r - 2) - wp * At(F1, r - 3));
  }
  t.Q3 = (((Fk1 * Fk1 * Fk1 - t.A1) + t.A2) + t.A3) - t.A4;
  return t;
}

double P_scan_ge_K_in_W_N(int k, int w, int N, double p, ScanWorkspace* ws) {
  // A window always holds at least 0 successes; with p at 0 or 1 the answer is certain.
  if (k <= 0) return 1.0;
  if (p <= 0.0) return 0.0;
  if (p >= 1.0) return k <= w ? 1.0 : 0.0;  // no window holds more than w successes
  const ScanTerms t = ComputeScanTerms(k, w, p, ws);
  const int m = N / w + (N % w != 0 ? 1 : 0);
  const double R = t.Q2 * std::pow(t.Q3 / t.Q2, static_cast<double>(m - 2));
  return 1.0 - R > 0.0 ? 1.0 - R : 0.0;
}

double P_scan_ge_K_in_W_N(int k, int w, int N, double p) {
  ScanWorkspace ws;
  return P_scan_ge_K_in_W_N(k, w, N, p, &ws);
}
