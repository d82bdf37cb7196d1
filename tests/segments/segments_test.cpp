#include "segments/segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "stats/scan.h"

namespace {

using Rec = std::tuple<int, int, int, int>;  // start, end, len, n_special

std::vector<Rec> Records(const SegmentList& list) {
  std::vector<Rec> out;
  for (const FRAGMENT& f : list) out.emplace_back(f.start, f.end, f.len, f.n_special);
  return out;
}

// n cells, each '1' with probability `percent` in 100, then the '0' cell past the end.
std::string RandomBinary(std::mt19937& rng, int n, unsigned percent) {
  std::string binary(static_cast<size_t>(n) + 1, '0');
  for (int i = 0; i < n; ++i) binary[i] = rng() % 100 < percent ? '1' : '0';
  return binary;
}

const std::string kExample = "0111000011011000001";
const std::vector<Rec> kRuns = {{2, 4, 3, 3}, {9, 10, 2, 2}, {12, 13, 2, 2}, {19, 19, 1, 1}};

TEST(Segments, FindRuns) {
  const std::tuple<std::string, std::vector<Rec>, int> cases[] = {
      {kExample, kRuns, 3},
      {"1111", {{1, 4, 4, 4}}, 4},
      {"0001", {{4, 4, 1, 1}}, 1},
      {"1000", {{1, 1, 1, 1}}, 1},
      {"0000", {}, 0},
      {"", {}, 0},
  };
  for (const auto& [binary, runs, longest] : cases) {
    SegmentList list;
    const std::string cells = binary + "0";  // the cell past the end is always '0'
    EXPECT_EQ(FindRuns(cells.data(), static_cast<int>(binary.size()), &list), longest) << binary;
    EXPECT_EQ(Records(list), runs) << binary;
  }
}

// What random lists do not reach; merging as such is checked against the general merge.
TEST(Segments, MergeEdgeCases) {
  const std::vector<Rec> windows = {{1, 4, 4, 3}, {2, 5, 4, 3}, {9, 12, 4, 3}, {10, 13, 4, 3}};
  const struct {
    const char* name;
    std::vector<Rec> input;
    int E;
    std::vector<Rec> merged;
    int longest;
  } cases[] = {
      {"E = 6 joins all", kRuns, 6, {{2, 19, 18, 8}}, 18},
      {"E = 1 keeps runs apart", kRuns, 1, kRuns, 3},
      {"E = -4 keeps overlaps apart", windows, -4, windows, 4},
      {"contained record is dropped", {{1, 10, 10, 0}, {3, 5, 3, 0}}, 0, {{1, 10, 10, 5}}, 10},
      {"single record is recounted", {{2, 4, 9, 9}}, 5, {{2, 4, 3, 3}}, 3},
      {"empty list", {}, 5, {}, 0},
      {"distance at the int limit", kRuns, -2147483647 - 1, kRuns, 3},
  };
  for (const auto& c : cases) {
    SegmentList list;
    for (const auto& [start, end, len, n] : c.input) list.push_back({start, end, len, n, 0.5});
    EXPECT_EQ(MergeSegmentsDiscrete(kExample.data(), &list, c.E), c.longest) << c.name;
    EXPECT_EQ(Records(list), c.merged) << c.name;
  }
  EXPECT_EQ(LongestMergedLength("1111", 4, -2147483647 - 1), 4);
}

// The general merge: every record is tested against every later one, joins are removed
// from the middle and the scan restarts behind the current record.
int StraightforwardMerge(const char* binary, SegmentList* list, int E) {
  for (size_t cur = 0; cur < list->size(); ++cur) {
    for (size_t later = cur + 1; later < list->size();) {
      FRAGMENT& c = (*list)[cur];
      if (static_cast<long long>((*list)[later].start) - E > c.end) {
        ++later;
        continue;
      }
      c.end = std::max(c.end, (*list)[later].end);
      list->erase(list->begin() + static_cast<long>(later));
      later = cur + 1;
    }
  }
  int longest = 0;
  for (FRAGMENT& f : *list) {
    f.len = f.end - f.start + 1;
    f.n_special = ComputeN(binary, f.start - 1, f.end - 1);
    longest = std::max(longest, f.len);
  }
  return longest;
}

// The one-walk merge of runs and windows, the walk over merged runs, their count and the
// one-pass longest length all agree with the general merge.
TEST(Segments, FastMergesEqualGeneralMerge) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = static_cast<int>(rng() % 300);
    const std::string binary = RandomBinary(rng, n, rng() % 101);
    const int E = static_cast<int>(rng() % 24) - 8;
    SegmentList runs, windows;
    FindRuns(binary.data(), n, &runs);
    SlideWindowP(binary.data(), n, 2 + static_cast<int>(rng() % 6), 0.95, 0.3, &windows);
    SegmentList merged_runs = runs, walked;
    const int longest = StraightforwardMerge(binary.data(), &merged_runs, E);
    MergedRuns walk = StartMergedRuns(binary.data(), n, E);
    for (FRAGMENT f; NextMergedRun(&walk, &f);) walked.push_back(f);
    ASSERT_EQ(Records(walked), Records(merged_runs)) << binary << " E=" << E;
    ASSERT_EQ(CountMergedRuns(binary.data(), n, E), static_cast<int>(merged_runs.size()));
    ASSERT_EQ(LongestMergedLength(binary.data(), n, E), longest) << binary << " E=" << E;
    for (const SegmentList* source : {&runs, &windows}) {
      SegmentList fast = *source, slow = *source;
      ASSERT_EQ(MergeSegmentsDiscrete(binary.data(), &fast, E),
                StraightforwardMerge(binary.data(), &slow, E));
      ASSERT_EQ(Records(fast), Records(slow)) << binary << " E=" << E;
    }
  }
}

// Sliding the count and scoring each distinct count once records exactly what counting
// and scoring every window afresh records; a window longer than the sequence records none.
TEST(Segments, SlidingWindowEqualsRecounting) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 80; ++trial) {
    const int n = 1 + static_cast<int>(rng() % (trial % 2 == 0 ? 40 : 400));
    const std::string binary = RandomBinary(rng, n, 33);
    const int W = 2 + static_cast<int>(rng() % 30);
    const double p = 0.1 + (rng() % 60) / 100.0, threshold = (rng() % 101) / 100.0;
    SegmentList fast, slow;
    const int largest = SlideWindowP(binary.data(), n, W, threshold, p, &fast);
    int slow_largest = 0;
    for (int j = 0; j + W <= n; ++j) {
      const int k = ComputeN(binary.data(), j, j + W - 1);
      const double pv = P_scan_ge_K_in_W_N(k, W, n, p);
      if (pv < threshold) slow.push_back({j + 1, j + W, W, k, pv});
      if (k > slow_largest) slow_largest = k;
    }
    ASSERT_EQ(largest, slow_largest);
    ASSERT_EQ(Records(fast), Records(slow));
    for (size_t i = 0; i < fast.size(); ++i) ASSERT_EQ(fast[i].p_val, slow[i].p_val);
  }
}

}  // namespace
