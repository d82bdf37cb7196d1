#include <algorithm>
#include <vector>

#include "segments/segments.h"
#include "stats/scan.h"

int SlideWindowP(const char* binary, int length, int W, double min_p_val, double P_special,
                 SegmentList* list) {
  if (W > length || W < 1) return 0;
  // W, length and P_special are fixed, so the p-value depends on the count alone: compute it
  // once per distinct count.
  std::vector<double> p_of_count(static_cast<size_t>(W) + 1, 0.0);
  std::vector<char> known(static_cast<size_t>(W) + 1, 0);
  ScanWorkspace ws;
  int k = ComputeN(binary, 0, W - 1);
  int largest = 0;
  for (int j = 0; j <= length - W; ++j) {
    if (j > 0) k += (binary[j + W - 1] == '1') - (binary[j - 1] == '1');
    if (!known[k]) {
      p_of_count[k] = P_scan_ge_K_in_W_N(k, W, length, P_special, &ws);
      known[k] = 1;
    }
    const double p = p_of_count[k];
    if (p < min_p_val) list->push_back(FRAGMENT{j + 1, j + W, W, k, p});
    largest = std::max(largest, k);
  }
  return largest;
}
