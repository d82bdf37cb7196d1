#include "stats/scan.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace kestra {

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

// What the approximation is put together from, however b and F were had.
struct SumsOfTerms {
  double Fk1, Fk2, Fk3;  // F(k-1; w), F(k-2; w), F(k-3; w)
  double b;              // b(k; w)
  double A3, A4;
  double F1k3, F1k4;  // F(k-3; w-1), F(k-4; w-1)
  double F2k5;        // F(k-5; w-2)
};

ScanTerms Assemble(int k, int w, double p, const SumsOfTerms& s) {
  const double dk1 = k - 1;
  const double dk2 = k - 2;
  const double dw = w;
  const double wp = dw * p;
  const double b = s.b, Fk1 = s.Fk1, Fk2 = s.Fk2;
  ScanTerms t;
  t.A3 = s.A3;
  t.A4 = s.A4;
  t.Q2 = Fk1 * Fk1 - (dk1 * b) * Fk2 + (wp * b) * s.F1k3;
  t.A1 = ((2.0 * b) * Fk1) * (dk1 * Fk2 - wp * s.F1k3);
  t.A2 = (0.5 * (b * b)) * ((dk1 * dk2) * s.Fk3 - (((2.0 * dk2) * dw) * p) * s.F1k4 +
                            ((dw * static_cast<double>(w - 1)) * (p * p)) * s.F2k5);
  t.Q3 = (((Fk1 * Fk1 * Fk1 - t.A1) + t.A2) + t.A3) - t.A4;
  return t;
}

// Makes the table hold b(i; m) and F(i; m) up to index `last` (nothing for last < 0), walking
// on from where it stopped: the steps of one walk, so the doubles of one walk.
void ExtendTable(BinomialTable* t, int m, double p, long last, ScanWorkspace* ws) {
  if (t->m != m || !(t->p == p)) {
    const BinomialWalk start = StartWalk(m, p, ws);
    t->m = m;
    t->p = p;
    t->from_logs = start.from_logs;
    t->b0 = start.b0;
    t->odds = start.odds;
    t->lg_m = start.lg_m;
    t->log_p = start.log_p;
    t->log_q = start.log_q;
    t->b.clear();
    t->F.clear();
  }
  if (static_cast<long>(t->b.size()) > last) return;
  BinomialWalk x{m, t->from_logs, t->b0, t->odds, t->lg_m, t->log_p, t->log_q, -1, 0, 0, 0, 0};
  if (!t->b.empty()) {
    x.i = static_cast<long>(t->b.size()) - 1;
    x.b = t->b.back();
    x.F = t->F.back();
  }
  t->b.reserve(static_cast<std::size_t>(last) + 1);
  t->F.reserve(static_cast<std::size_t>(last) + 1);
  while (x.i < last) {
    Step(&x);
    t->b.push_back(x.b);
    t->F.push_back(x.F);
  }
}

// F(i) of a table, 0 at a negative index.
double FAt(const BinomialTable& t, long i) {
  return i < 0 ? 0.0 : t.F[static_cast<std::size_t>(i)];
}

// From tables kept in the workspace: for repeated calls with one w and p (every window of a
// scan has the same width), each term is worked out once, whichever k asks for it.
ScanTerms TermsFromTables(int k, int w, double p, ScanWorkspace* ws) {
  const BinomialTable &W = ws->tables[0], &W1 = ws->tables[1], &W2 = ws->tables[2];
  ExtendTable(&ws->tables[0], w, p, std::max(2L * k - 2, long{k}), ws);
  ExtendTable(&ws->tables[1], w - 1, p, k - 3, ws);
  ExtendTable(&ws->tables[2], w - 2, p, k - 5, ws);
  const double* b = W.b.data();
  const double* F = W.F.data();
  const double wp = static_cast<double>(w) * p;
  double A3 = 0.0, A4 = 0.0;
  for (int r = 2; r <= k - 1; ++r) {
    const double b_high = b[2 * k - r];
    A3 += b_high * (F[r - 1] * F[r - 1]);
    A4 += (b_high * b[r]) * (static_cast<double>(r - 1) * F[r - 2] - wp * FAt(W1, r - 3));
  }
  return Assemble(k, w, p,
                  {FAt(W, k - 1), FAt(W, k - 2), FAt(W, k - 3), b[k], A3, A4, FAt(W1, k - 3),
                   FAt(W1, k - 4), FAt(W2, k - 5)});
}

// By walks that keep only b(k+1; w) .. b(2k-2; w): for counts too large for tables.
ScanTerms TermsFromWalks(int k, int w, double p, ScanWorkspace* ws) {
  const BinomialWalk start = StartWalk(w, p, ws);
  BinomialWalk first = start;
  WalkTo(k - 1, &first);
  SumsOfTerms s{};
  s.Fk1 = first.F;
  s.Fk2 = first.F_1;
  s.Fk3 = first.F_2;
  WalkTo(k, &first);
  s.b = first.b;
  std::vector<double>& above = ws->b_above_k;
  if (k > 2 && above.size() < static_cast<size_t>(k - 2)) above.resize(k - 2);
  for (long i = k + 1; i <= 2L * k - 2; ++i) {
    Step(&first);
    above[i - k - 1] = first.b;
  }
  const double wp = static_cast<double>(w) * p;
  // In the sums the walk over w stands at r and the one over w-1 at r-3.
  BinomialWalk again = start;
  WalkTo(1, &again);
  BinomialWalk shorter = StartWalk(w - 1, p, ws);
  for (int r = 2; r <= k - 1; ++r) {
    Step(&again);
    const double b_high = above[k - r - 1];
    s.A3 += b_high * (again.F_1 * again.F_1);
    s.A4 += (b_high * again.b) * (static_cast<double>(r - 1) * again.F_2 - wp * shorter.F);
    Step(&shorter);
  }
  WalkTo(k - 3, &shorter);
  s.F1k3 = shorter.F;
  s.F1k4 = shorter.F_1;
  BinomialWalk shortest = StartWalk(w - 2, p, ws);
  WalkTo(k - 5, &shortest);
  s.F2k5 = shortest.F;
  return Assemble(k, w, p, s);
}

}  // namespace

ScanTerms ComputeScanTerms(int k, int w, double p, ScanWorkspace* ws) {
  if (ws->keep_terms && k >= 0 && 2L * k <= ws->table_limit) return TermsFromTables(k, w, p, ws);
  return TermsFromWalks(k, w, p, ws);
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

}  // namespace kestra
