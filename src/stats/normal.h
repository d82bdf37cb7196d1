// The normal approximation to the tails of the binomial distribution, by integrating the
// standard normal density with Simpson's rule. Pure functions of their arguments.
#pragma once

namespace kestra {

// Standard normal density at x.
double NormalDensity(double x);
// Stage n of the extended trapezoidal rule for the integral of the density from a to b;
// *estimate carries the result of stage n - 1 in and that of stage n out.
double TrapezoidStage(double a, double b, int n, double* estimate);
// Simpson's rule from successive trapezoid stages, up to 20 stages.
double SimpsonIntegral(double a, double b);

// The integral of the density from a to b in closed form, Phi(b) - Phi(a), from erfc
// arranged so that no digits cancel: within 2e-13 of the true value, relatively, where it is
// a normal double.
double NormalIntegral(double a, double b);

// How far SimpsonIntegral(a, b) may lie from the true integral, relatively, for b - a <= 10
// and an integral that is a normal double. It rounds 2^18 positive terms into one sum at the
// last stage, 2^17 at the one before: a naive sum of m terms is within (m - 1) u of the exact
// sum (u = 2^-53), and the stages weigh in as 2^-(20 - k), so the last trapezoid estimate is
// within 2^17 u 4/3 (2e-11), the one before within 5e-12, and Simpson's (4 T20 - T19) / 3
// within 2.8e-11. The density's roundings (below 3e-13 for |x| <= 47), the drift of the
// points (exact but where x crosses a power of two: below 1e-12) and Simpson's own error at
// 2^19 intervals (below 1e-14) stay far below, as does the closed form's 2e-13.
constexpr double kSimpsonError = 4e-11;
// Whether every value within `bound` (relatively) of v prints alike with "%e": no rounding
// boundary of its seven digits lies that close.
bool PrintsAlikeWithin(double v, double bound);
// What SimpsonIntegral(a, b) prints with "%e", at the cost of a formula: the closed form,
// wherever every value within kSimpsonError of it prints alike; else the integration itself.
double PrintedIntegral(double a, double b);

// P(X >= k) and P(X <= k) for X ~ Bin(n, p), by the normal approximation with a continuity
// correction, integrated over 10 standard deviations. *valid is false when the variance is
// below 5 (or p is 0 or 1, where the exact tail is returned). The value prints with "%e" as
// the integration's does.
double NormalUpperTail(int k, int n, double p, bool* valid);
double NormalLowerTail(int k, int n, double p, bool* valid);

}  // namespace kestra
