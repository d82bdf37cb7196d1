#include "stats/binomial.h"

#include <cmath>

double factorial(int n) {
  double f = 1.0;
  for (int i = 1; i <= n; ++i) f *= static_cast<double>(i);
  return f;
}

double n_Choose_k(int k, int n) {
  double c = 1.0;
  for (int i = n - k + 1; i <= n; ++i) c *= static_cast<double>(i);
  return c / factorial(k);
}

double BinomialProb(int k, int n, double p) {
  return std::pow(1.0 - p, static_cast<double>(n - k)) *
         (std::pow(p, static_cast<double>(k)) * n_Choose_k(k, n));
}

double BPR(int k, int n, double p) {
  if (k == 0) return BinomialProb(0, n, p);
  // Past k = n + 1 the factor n - k + 1 keeps the chain at (signed) zero.
  return (static_cast<double>(n - k + 1) / static_cast<double>(k)) *
         ((p / (1.0 - p)) * BPR(k - 1, n, p));
}

double Fb(int k, int n, double p) {
  double sum = 0.0;
  for (int i = 0; i <= k; ++i) sum += BPR(i, n, p);
  return sum;
}

double NormalDensity(double x) { return std::exp(x * (x * -0.5)) * 0.3989422804014327; }

double trapzd(double (*func)(double), double a, double b, int n, double* s) {
  if (n == 1) {
    *s = (func(a) + func(b)) * (0.5 * (b - a));
    return *s;
  }
  int it = 1;
  for (int j = 1; j < n - 1; ++j) it <<= 1;
  const double tnm = it;
  const double del = (b - a) / tnm;
  double x = a + 0.5 * del;
  double sum = 0.0;
  for (int j = 0; j < it; ++j, x += del) sum = func(x) + sum;
  *s = 0.5 * (*s + (b - a) * sum / tnm);
  return *s;
}

double qsimp(double (*func)(double), double a, double b) {
  const double kEps = 2.220446049250313e-16;
  double os = -1e30;
  double ost = -1e30;
  double trap = 0.0;  // the trapezoid estimate carried between stages
  double s = 0.0;
  for (int j = 1; j <= 20; ++j) {
    const double st = trapzd(func, a, b, j, &trap);
    s = (4.0 * st - ost) / 3.0;
    if (j > 5 && (std::fabs(s - os) < kEps * std::fabs(os) || (s == 0.0 && os == 0.0))) {
      return s;
    }
    os = s;
    ost = st;
  }
  return s;
}

// With p at 0 or 1 every trial fails or succeeds for certain: the tails are exact.
static double CertainTail(int k, int n, double p, bool upper) {
  const int successes = p <= 0.0 ? 0 : n;
  if (upper) return k <= successes ? 1.0 : 0.0;
  return k >= successes ? 1.0 : 0.0;
}

static double ApproxTail(int k, int n, double p, int* valid, bool upper) {
  const double mean = static_cast<double>(n) * p;
  const double variance = (1.0 - p) * mean;
  *valid = variance < 5.0 ? 0 : 1;
  if (p <= 0.0 || p >= 1.0) {
    *valid = 0;
    return CertainTail(k, n, p, upper);
  }
  const double sd = std::sqrt(variance);
  if (upper) {
    const double z = ((k - 0.5) - mean) / sd;
    return qsimp(NormalDensity, z, z + 10);
  }
  const double z = ((k + 0.5) - mean) / sd;
  return qsimp(NormalDensity, z - 10, z);
}

double ApproxBinomial_P_GreaterThan_K(int k, int n, double p, int* valid) {
  return ApproxTail(k, n, p, valid, true);
}

double ApproxBinomial_P_LessThan_K(int k, int n, double p, int* valid) {
  return ApproxTail(k, n, p, valid, false);
}
