// The binomial distribution by its plain formulas, the reference the scan statistic's fast
// walk is held to: b(k; n, p) by the recursion from b(0; n, p) and F(k; n, p) by summing it.
#pragma once

#include <cmath>

namespace reference {

// b(0; n, p) = (1-p)^n: the closed formula at k = 0, where p^0 and the coefficient are 1.
inline double BinomialNone(int n, double p) {
  return std::pow(1.0 - p, static_cast<double>(n)) * (std::pow(p, 0.0) * 1.0);
}

// b(k; n, p) = ((n - k + 1) / k) * ((p / (1-p)) * b(k-1; n, p)); past k = n + 1 the factor
// n - k + 1 keeps the chain at (signed) zero.
inline double Binomial(int k, int n, double p) {
  if (k == 0) return BinomialNone(n, p);
  return (static_cast<double>(n - k + 1) / static_cast<double>(k)) *
         ((p / (1.0 - p)) * Binomial(k - 1, n, p));
}

// F(k; n, p) = b(0; n, p) + ... + b(k; n, p) in ascending order; 0 for negative k.
inline double Cumulative(int k, int n, double p) {
  double sum = 0.0;
  for (int i = 0; i <= k; ++i) sum += Binomial(i, n, p);
  return sum;
}

}  // namespace reference
