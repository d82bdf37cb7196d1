// Binomial terms, their cumulative sums and the normal approximation to the binomial tails.
// Pure functions of their arguments.
#pragma once

double factorial(int n);
// Binomial coefficient of n over k.
double n_Choose_k(int k, int n);
// b(k; n, p) by the closed formula.
double BinomialProb(int k, int n, double p);
// b(k; n, p) by the recursion from b(0; n, p); 0 for every k above n.
double BPR(int k, int n, double p);
// F(k; n, p): b(0; n, p) + ... + b(k; n, p) in ascending order; 0 for negative k.
double Fb(int k, int n, double p);

// Standard normal density at x.
double NormalDensity(double x);
// Stage n of the extended trapezoidal rule; *s carries the estimate between stages.
double trapzd(double (*func)(double), double a, double b, int n, double* s);
// Simpson's rule from successive trapezoid stages, up to 20 stages.
double qsimp(double (*func)(double), double a, double b);

// Normal approximation of P(X >= k) for X ~ Bin(n, p). *valid is 0 when the variance is
// below 5 (or p is 0 or 1, where the exact tail is returned), else 1.
double ApproxBinomial_P_GreaterThan_K(int k, int n, double p, int* valid);
// Normal approximation of P(X <= k); *valid as above.
double ApproxBinomial_P_LessThan_K(int k, int n, double p, int* valid);
