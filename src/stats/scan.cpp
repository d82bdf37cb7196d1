#include "stats/scan.h"

#include <cfloat>
#include <cmath>

namespace {

// b(i; m) and its running sum F(i; m) for i = 0, 1, 2, ... in turn: b(0; m) = (1-p)^m, then
// b(i; m) = ((m - i + 1) / i) * ((p / (1-p)) * b(i-1; m)), each F summed in ascending order,
// so a walk gives the same doubles however often it is repeated. When (1-p)^m
// underflows the recursion would start from 0; the terms are then taken from logarithms.
struct BinomialWalk {
  int m;
  bool from_logs;
  double b0, odds;            // b(0; m) and p / (1-p), for the recursion
  double lg_m, log_p, log_q;  // for the logarithms
  long i;                     // index of the current term, -1 before the first
  double b;                   // b(i; m)
  double F, F_1, F_2;         // F(i; m), F(i-1; m), F(i-2; m); 0 at negative indices
};

// (1-p)^m: the same power for the same m and p, so kept for the lengths met (an entry's
// segments share a few lengths and one probability). The same call makes the same double.
double NoSuccess(int m, double p, ScanWorkspace* ws) {
  // Short segments repeat; a long one is met once, and its table would be its length.
  if (m < 0 || m >= 65536) return std::pow(1.0 - p, static_cast<double>(m));
  if (!(ws->p == p)) {
    ws->p = p;
    ws->no_success.clear();
  }
  const std::size_t i = static_cast<std::size_t>(m);
  if (i >= ws->no_success.size()) ws->no_success.resize(i + 1, -1.0);
  if (ws->no_success[i] < 0.0) ws->no_success[i] = std::pow(1.0 - p, static_cast<double>(m));
  return ws->no_success[i];
}

BinomialWalk StartWalk(int m, double p, ScanWorkspace* ws) {
  BinomialWalk x{};  // every sum 0
  x.m = m;
  // b(0; m) is (1-p)^m times p^0 times the coefficient 1, both exactly 1: the power taken
  // once serves the underflow test and the start of the recursion alike.
  const double none = NoSuccess(m, p, ws);
  x.from_logs = none < DBL_MIN;
  x.odds = p / (1.0 - p);
  x.i = -1;
  if (x.from_logs) {
    x.lg_m = std::lgamma(m + 1);
    x.log_p = std::log(p);
    x.log_q = std::log1p(-p);
  } else {
    x.b0 = none;
  }
  return x;
}

// b(i; m) from logarithms, for a walk where (1-p)^m underflows.
double TermFromLogs(const BinomialWalk& x, long i) {
  return i > x.m ? 0.0
                 : std::exp(x.lg_m - std::lgamma(i + 1) - std::lgamma(x.m - i + 1) + i * x.log_p +
                            (x.m - i) * x.log_q);
}

// Moves the walk on by one index. Kept small: it runs once per term, millions of times.
inline void Step(BinomialWalk* x) {
  const long i = ++x->i;
  if (x->from_logs) {
    x->b = TermFromLogs(*x, i);
  } else if (i == 0) {
    x->b = x->b0;
  } else {
    x->b = (static_cast<double>(x->m - i + 1) / static_cast<double>(i)) * (x->odds * x->b);
  }
  x->F_2 = x->F_1;
  x->F_1 = x->F;
  x->F += x->b;
}

// Moves the walk forward to index i; a walk already there stays.
inline void WalkTo(long i, BinomialWalk* x) {
  while (x->i < i) Step(x);
}

}  // namespace

ScanTerms ComputeScanTerms(int k, int w, double p, ScanWorkspace* ws) {
  // The sums over r read b(2k-r; w) with the index falling while everything else rises.
  // Those terms, k+1 to 2k-2, are the only ones kept; the rest are walked again in order.
  const BinomialWalk start = StartWalk(w, p, ws);
  BinomialWalk first = start;
  WalkTo(k - 1, &first);
  const double Fk1 = first.F, Fk2 = first.F_1, Fk3 = first.F_2;
  WalkTo(k, &first);
  const double b = first.b;
  std::vector<double>& above = ws->b_above_k;
  if (k > 2 && above.size() < static_cast<size_t>(k - 2)) above.resize(k - 2);
  for (long i = k + 1; i <= 2L * k - 2; ++i) {
    Step(&first);
    above[i - k - 1] = first.b;
  }

  const double dk1 = k - 1;
  const double dk2 = k - 2;
  const double dw = w;
  const double wp = dw * p;
  double A3 = 0.0, A4 = 0.0;
  // In the sums the walk over w stands at r and the one over w-1 at r-3.
  BinomialWalk again = start;
  WalkTo(1, &again);
  BinomialWalk shorter = StartWalk(w - 1, p, ws);
  for (int r = 2; r <= k - 1; ++r) {
    Step(&again);
    const double b_high = above[k - r - 1];
    A3 += b_high * (again.F_1 * again.F_1);
    A4 += (b_high * again.b) * (static_cast<double>(r - 1) * again.F_2 - wp * shorter.F);
    Step(&shorter);
  }
  WalkTo(k - 3, &shorter);
  const double F1k3 = shorter.F, F1k4 = shorter.F_1;
  BinomialWalk shortest = StartWalk(w - 2, p, ws);
  WalkTo(k - 5, &shortest);
  const double F2k5 = shortest.F;

  ScanTerms t;
  t.A3 = A3;
  t.A4 = A4;
  t.Q2 = Fk1 * Fk1 - (dk1 * b) * Fk2 + (wp * b) * F1k3;
  t.A1 = ((2.0 * b) * Fk1) * (dk1 * Fk2 - wp * F1k3);
  t.A2 = (0.5 * (b * b)) * ((dk1 * dk2) * Fk3 - (((2.0 * dk2) * dw) * p) * F1k4 +
                            ((dw * static_cast<double>(w - 1)) * (p * p)) * F2k5);
  t.Q3 = (((Fk1 * Fk1 * Fk1 - t.A1) + t.A2) + t.A3) - t.A4;
  return t;
}

double ScanPValue(int k, int w, int N, double p, ScanWorkspace* ws) {
  // A window always holds at least 0 successes; with p at 0 or 1 the answer is certain.
  if (k <= 0) return 1.0;
  if (p <= 0.0) return 0.0;
  if (p >= 1.0) return k <= w ? 1.0 : 0.0;  // no window holds more than w successes
  const ScanTerms t = ComputeScanTerms(k, w, p, ws);
  // Far below w * p the terms underflow or cancel to nothing and Q3 / Q2 means nothing; such
  // a depleted stretch is anything but significant.
  if (!(t.Q2 > 0.0) || !(t.Q3 > 0.0)) return 1.0;
  const int m = N / w + (N % w != 0 ? 1 : 0);
  const double R = t.Q2 * std::pow(t.Q3 / t.Q2, static_cast<double>(m - 2));
  return 1.0 - R > 0.0 ? 1.0 - R : 0.0;
}

double ScanPValue(int k, int w, int N, double p) {
  ScanWorkspace ws;
  return ScanPValue(k, w, N, p, &ws);
}
