#include "stats/normal.h"

#include <cmath>

namespace kestra {

double NormalDensity(double x) { return std::exp(x * (x * -0.5)) * 0.3989422804014327; }

double TrapezoidStage(double a, double b, int n, double* estimate) {
  if (n == 1) {
    *estimate = (NormalDensity(a) + NormalDensity(b)) * (0.5 * (b - a));
    return *estimate;
  }
  int it = 1;
  for (int j = 1; j < n - 1; ++j) it <<= 1;
  const double tnm = it;
  const double del = (b - a) / tnm;
  double x = a + 0.5 * del;
  double sum = 0.0;
  for (int j = 0; j < it; ++j, x += del) sum = NormalDensity(x) + sum;
  *estimate = 0.5 * (*estimate + (b - a) * sum / tnm);
  return *estimate;
}

double SimpsonIntegral(double a, double b) {
  const double kEps = 2.220446049250313e-16;
  double os = -1e30;
  double ost = -1e30;
  double trapezoid = 0.0;
  double s = 0.0;
  for (int j = 1; j <= 20; ++j) {
    const double st = TrapezoidStage(a, b, j, &trapezoid);
    s = (4.0 * st - ost) / 3.0;
    if (j > 5 && (std::fabs(s - os) < kEps * std::fabs(os) || (s == 0.0 && os == 0.0))) {
      return s;
    }
    os = s;
    ost = st;
  }
  return s;
}

double NormalIntegral(double a, double b) {
  constexpr double kRootHalf = 0.7071067811865476;
  // Arranged so that the smaller tail is never taken from a value near 1.
  if (a >= 0.0) return 0.5 * std::erfc(a * kRootHalf) - 0.5 * std::erfc(b * kRootHalf);
  if (b <= 0.0) return 0.5 * std::erfc(-b * kRootHalf) - 0.5 * std::erfc(-a * kRootHalf);
  return (1.0 - 0.5 * std::erfc(b * kRootHalf)) - 0.5 * std::erfc(-a * kRootHalf);
}

bool PrintsAlikeWithin(double v, double bound) {
  if (!(v >= 1e-300 && v < 1e300)) return false;
  // The seven digits "%e" prints, scaled to [10^6, 10^7): they change where t crosses a half.
  const double e = std::floor(std::log10(v));
  const double t = v * std::pow(10.0, 6.0 - e);
  if (!(t >= 1e6 && t < 1e7)) return false;  // a power of ten, and log10 rounded the wrong way
  // The bound, and the few roundings in working t out (3 units in the last place of t).
  return std::fabs((t - std::floor(t)) - 0.5) > bound * t + 1e-8;
}

double PrintedIntegral(double a, double b) {
  // Where the density at the end nearer 0 is a normal double, so is the integral, and the
  // bound below holds; elsewhere (and then seldom) the integration is done.
  const double nearest = a > 0.0 ? a : (b < 0.0 ? -b : 0.0);
  if (nearest <= 37.0 && b - a <= 10.0) {
    const double closed = NormalIntegral(a, b);
    if (PrintsAlikeWithin(closed, kSimpsonError)) return closed;
  }
  return SimpsonIntegral(a, b);
}

// With p at 0 or 1 every trial fails or succeeds for certain: the tails are exact.
static double CertainTail(int k, int n, double p, bool upper) {
  const int successes = p <= 0.0 ? 0 : n;
  if (upper) return k <= successes ? 1.0 : 0.0;
  return k >= successes ? 1.0 : 0.0;
}

static double Tail(int k, int n, double p, bool* valid, bool upper) {
  const double mean = static_cast<double>(n) * p;
  const double variance = (1.0 - p) * mean;
  *valid = !(variance < 5.0);
  if (p <= 0.0 || p >= 1.0) {
    *valid = false;
    return CertainTail(k, n, p, upper);
  }
  const double sd = std::sqrt(variance);
  if (upper) {
    const double z = ((k - 0.5) - mean) / sd;
    return PrintedIntegral(z, z + 10);
  }
  const double z = ((k + 0.5) - mean) / sd;
  return PrintedIntegral(z - 10, z);
}

double NormalUpperTail(int k, int n, double p, bool* valid) { return Tail(k, n, p, valid, true); }

double NormalLowerTail(int k, int n, double p, bool* valid) { return Tail(k, n, p, valid, false); }

}  // namespace kestra
