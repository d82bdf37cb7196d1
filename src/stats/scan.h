// Scan statistic for Bernoulli trials: the probability that some stretch of w consecutive
// trials out of N holds at least k successes, each trial succeeding with probability p.
#pragma once

#include <vector>

// The terms of the approximation for one k, w and p.
struct ScanTerms {
  double Q2, Q3, A1, A2, A3, A4;
};

// Scratch tables reused between calls, so repeated calls do not allocate.
struct ScanWorkspace {
  std::vector<double> b_w, b_other;  // b(i; w), and b(i; w-1) or b(i; w-2) in turn
  std::vector<double> F_w, F_w1, F_w2;  // F(i; w), F(i; w-1), F(i; w-2)
};

// Q2, Q3 and the correction terms A1 to A4.
ScanTerms ComputeScanTerms(int k, int w, double p, ScanWorkspace* ws);
// Approximate P(S_w >= k) in N trials, never below 0.
double P_scan_ge_K_in_W_N(int k, int w, int N, double p, ScanWorkspace* ws);
double P_scan_ge_K_in_W_N(int k, int w, int N, double p);
