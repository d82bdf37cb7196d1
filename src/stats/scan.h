// Scan statistic for Bernoulli trials: the probability that some stretch of w consecutive
// trials out of N holds at least k successes, each trial succeeding with probability p.
#pragma once

#include <vector>

// The terms of the approximation for one k, w and p.
struct ScanTerms {
  double Q2, Q3, A1, A2, A3, A4;
};

// Scratch reused between calls, so repeated calls stop allocating once it has grown. Counts
// run into the millions, hence a single table about the size of k.
struct ScanWorkspace {
  std::vector<double> b_above_k;  // b(k+1; w) .. b(2k-2; w) of the last call
  double p = -1.0;                  // the probability no_success is for
  std::vector<double> no_success;   // (1-p)^m by m, -1 where not yet taken
};

// Q2, Q3 and the correction terms A1 to A4.
ScanTerms ComputeScanTerms(int k, int w, double p, ScanWorkspace* ws);
// The p-value of k special residues in a stretch of w positions of a sequence of N: the
// approximate probability that some stretch of w positions holds at least k, each position
// special with probability p. Never below 0; 1 when Q2 or Q3 has vanished, as it does for a
// count far below w * p.
double ScanPValue(int k, int w, int N, double p, ScanWorkspace* ws);
double ScanPValue(int k, int w, int N, double p);
