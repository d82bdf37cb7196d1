// Scan statistic for Bernoulli trials: the probability that some stretch of w consecutive
// trials out of N holds at least k successes, each trial succeeding with probability p.
#pragma once

#include <limits>
#include <vector>

namespace kestra {

// The terms of the approximation for one k, w and p.
struct ScanTerms {
  double Q2, Q3, A1, A2, A3, A4;
};

// b(i; m) and F(i; m) for i = 0 .. size - 1, as one walk over i makes them, with what the
// walk starts from; kept for the m and p of the last calls.
struct BinomialTable {
  int m = -1;
  double p = std::numeric_limits<double>::quiet_NaN();  // none yet
  bool from_logs = false;
  double b0 = 0, odds = 0, lg_m = 0, log_p = 0, log_q = 0;
  std::vector<double> b, F;
};

// Scratch reused between calls, so repeated calls stop allocating once it has grown. Calls
// that share one width (the windows of a scan: keep_terms) share the terms of their
// binomials too: tables for w, w-1 and w-2, up to twice the largest count met. Other calls,
// and counts beyond half of table_limit (they run into the millions for one long segment),
// walk the terms again, keeping a single table about the size of k.
struct ScanWorkspace {
  std::vector<double> b_above_k;   // b(k+1; w) .. b(2k-2; w) of the last call that walked
  double p = -1.0;                 // the probability no_success is for
  std::vector<double> no_success;  // (1-p)^m by m, -1 where not yet taken
  bool keep_terms = false;         // the calls share one width: keep its terms in tables
  BinomialTable tables[3];         // for w, w-1 and w-2
  long table_limit = long{1} << 19;
};

// Q2, Q3 and the correction terms A1 to A4.
ScanTerms ComputeScanTerms(int k, int w, double p, ScanWorkspace* ws);
// The p-value of k special residues in a stretch of w positions of a sequence of N: the
// approximate probability that some stretch of w positions holds at least k, each position
// special with probability p. Never below 0; 1 when Q2 or Q3 has vanished, as it does for a
// count far below w * p.
double ScanPValue(int k, int w, int N, double p, ScanWorkspace* ws);
double ScanPValue(int k, int w, int N, double p);

}  // namespace kestra
