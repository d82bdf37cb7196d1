// The normal approximation to the tails of the binomial distribution, by integrating the
// standard normal density with Simpson's rule. Pure functions of their arguments.
#pragma once

// Standard normal density at x.
double NormalDensity(double x);
// Stage n of the extended trapezoidal rule for the integral of the density from a to b;
// *estimate carries the result of stage n - 1 in and that of stage n out.
double TrapezoidStage(double a, double b, int n, double* estimate);
// Simpson's rule from successive trapezoid stages, up to 20 stages.
double SimpsonIntegral(double a, double b);

// P(X >= k) and P(X <= k) for X ~ Bin(n, p), by the normal approximation with a continuity
// correction, integrated over 10 standard deviations. *valid is false when the variance is
// below 5 (or p is 0 or 1, where the exact tail is returned).
double NormalUpperTail(int k, int n, double p, bool* valid);
double NormalLowerTail(int k, int n, double p, bool* valid);
