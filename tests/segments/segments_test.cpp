#include "segments/segments.h"

#include <gtest/gtest.h>

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

const std::string kExample = "0111000011011000001";

TEST(Segments, FindRuns) {
  struct Case {
    const char* name;
    std::string binary;
    std::vector<Rec> runs;
    int longest;
  };
  const Case cases[] = {
      {"example", kExample, {{2, 4, 3, 3}, {9, 10, 2, 2}, {12, 13, 2, 2}, {19, 19, 1, 1}}, 3},
      {"all special", "1111", {{1, 4, 4, 4}}, 4},
      {"none", "0000", {}, 0},
      {"run at the end", "0001", {{4, 4, 1, 1}}, 1},
      {"run at the start", "1000", {{1, 1, 1, 1}}, 1},
      {"single 1", "1", {{1, 1, 1, 1}}, 1},
      {"single 0", "0", {}, 0},
      {"empty", "", {}, 0},
  };
  for (const Case& c : cases) {
    SegmentList list;
    const std::string cells = c.binary + "0";  // the cell past the end is always '0'
    EXPECT_EQ(FindRuns(cells.data(), static_cast<int>(c.binary.size()), &list), c.longest)
        << c.name;
    EXPECT_EQ(Records(list), c.runs) << c.name;
  }
}

TEST(Segments, MergeByLinkageDistance) {
  struct Case {
    const char* name;
    std::vector<Rec> input;  // empty input means the runs of the example
    int E;
    std::vector<Rec> merged;
    int longest;
  };
  const std::vector<Rec> windows = {{1, 4, 4, 3}, {2, 5, 4, 3}, {9, 12, 4, 3}, {10, 13, 4, 3}};
  const std::vector<Rec> runs = {{2, 4, 3, 3}, {9, 10, 2, 2}, {12, 13, 2, 2}, {19, 19, 1, 1}};
  const Case cases[] = {
      {"E = 5", runs, 5, {{2, 13, 12, 7}, {19, 19, 1, 1}}, 12},
      {"E = 6 joins all", runs, 6, {{2, 19, 18, 8}}, 18},
      {"E = 2", runs, 2, {{2, 4, 3, 3}, {9, 13, 5, 4}, {19, 19, 1, 1}}, 5},
      {"E = 4", runs, 4, {{2, 4, 3, 3}, {9, 13, 5, 4}, {19, 19, 1, 1}}, 5},
      {"E = 1 keeps runs apart", runs, 1, runs, 3},
      {"E = 0", runs, 0, runs, 3},
      {"E negative", runs, -3, runs, 3},
      {"windows, E = 0", windows, 0, {{1, 5, 5, 3}, {9, 13, 5, 4}}, 5},
      {"windows, E = 1", windows, 1, {{1, 5, 5, 3}, {9, 13, 5, 4}}, 5},
      {"windows, E = 5", windows, 5, {{1, 13, 13, 7}}, 13},
      {"windows, E = -2 joins a 3-position overlap", windows, -2, {{1, 5, 5, 3}, {9, 13, 5, 4}}, 5},
      {"windows, E = -4 keeps overlaps apart", windows, -4, windows, 4},
      {"contained record is dropped", {{1, 10, 10, 0}, {3, 5, 3, 0}}, 0, {{1, 10, 10, 5}}, 10},
      {"single record is recounted", {{2, 4, 9, 9}}, 5, {{2, 4, 3, 3}}, 3},
      {"empty list", {}, 5, {}, 0},
      {"distance at the int limit", runs, -2147483647 - 1, runs, 3},
  };
  for (const Case& c : cases) {
    SegmentList list;
    for (const Rec& r : c.input) {
      list.push_back({std::get<0>(r), std::get<1>(r), std::get<2>(r), std::get<3>(r), 0.5});
    }
    EXPECT_EQ(MergeSegmentsDiscrete(kExample.data(), &list, c.E), c.longest) << c.name;
    EXPECT_EQ(Records(list), c.merged) << c.name;
  }
}

// The general merge: every record is tested against every later one, joins are removed
// from the middle and the scan restarts behind the current record.
int StraightforwardMerge(const char* binary, SegmentList* list, int E) {
  for (size_t cur = 0; cur < list->size(); ++cur) {
    size_t later = cur + 1;
    while (later < list->size()) {
      FRAGMENT& c = (*list)[cur];
      const FRAGMENT& l = (*list)[later];
      if (static_cast<long long>(l.start) - E <= c.end) {
        if (l.end > c.end) {
          c.end = l.end;
          c.len = c.end - c.start + 1;
        }
        list->erase(list->begin() + static_cast<long>(later));
        later = cur + 1;
      } else {
        ++later;
      }
    }
  }
  int longest = 0;
  for (FRAGMENT& f : *list) {
    f.len = f.end - f.start + 1;
    f.n_special = ComputeN(binary, f.start - 1, f.end - 1);
    if (f.len > longest) longest = f.len;
  }
  return longest;
}

TEST(Segments, OneWalkMergeEqualsGeneralMerge) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = static_cast<int>(rng() % 300);
    const double density = (rng() % 100) / 100.0;
    std::string binary(static_cast<size_t>(n) + 1, '0');
    for (int i = 0; i < n; ++i) binary[i] = (rng() % 1000) < density * 1000 ? '1' : '0';
    const int E = static_cast<int>(rng() % 16) - 5;
    SegmentList runs;
    FindRuns(binary.data(), n, &runs);
    SegmentList windows;
    const int W = 2 + static_cast<int>(rng() % 6);
    if (W <= n) SlideWindowP(binary.data(), n, W, 0.95, 0.3, &windows);
    // Walking the merged runs gives the records merging the runs gives.
    SegmentList merged_runs = runs;
    StraightforwardMerge(binary.data(), &merged_runs, E);
    SegmentList walked;
    MergedRuns walk = StartMergedRuns(binary.data(), n, E);
    for (FRAGMENT f; NextMergedRun(&walk, &f);) walked.push_back(f);
    ASSERT_EQ(Records(walked), Records(merged_runs)) << binary << " E=" << E;
    ASSERT_EQ(CountMergedRuns(binary.data(), n, E), static_cast<int>(merged_runs.size()));
    for (const SegmentList* source : {&runs, &windows}) {
      SegmentList fast = *source;
      SegmentList slow = *source;
      ASSERT_EQ(MergeSegmentsDiscrete(binary.data(), &fast, E),
                StraightforwardMerge(binary.data(), &slow, E));
      ASSERT_EQ(Records(fast), Records(slow)) << binary << " E=" << E;
    }
  }
}

TEST(Segments, WindowExample) {
  const double p = 8.0 / 19;
  SegmentList list;
  EXPECT_EQ(SlideWindowP(kExample.data(), 19, 4, 0.9, p, &list), 3);
  const std::vector<Rec> expected = {{1, 4, 4, 3}, {2, 5, 4, 3}, {9, 12, 4, 3}, {10, 13, 4, 3}};
  EXPECT_EQ(Records(list), expected);
  for (const FRAGMENT& f : list) EXPECT_EQ(f.p_val, P_scan_ge_K_in_W_N(3, 4, 19, p));

  struct Case {
    const char* name;
    int W;
    double min_p_val;
    size_t recorded;
  };
  const Case cases[] = {
      {"threshold 0 records nothing", 4, 0.0, 0},
      {"threshold 1 records every window with a special residue", 4, 1.0, 13},
      {"window as long as the sequence", 19, 1.0, 1},
      {"window longer than the sequence", 20, 1.0, 0},
  };
  for (const Case& c : cases) {
    SegmentList got;
    SlideWindowP(kExample.data(), 19, c.W, c.min_p_val, p, &got);
    EXPECT_EQ(got.size(), c.recorded) << c.name;
  }
}

// Sliding the count and scoring each distinct count once records exactly what counting
// and scoring every window afresh records.
TEST(Segments, SlidingWindowEqualsRecounting) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 20 + static_cast<int>(rng() % 400);
    std::string binary(static_cast<size_t>(n) + 1, '0');
    for (int i = 0; i < n; ++i) binary[i] = rng() % 3 == 0 ? '1' : '0';
    const int W = 2 + static_cast<int>(rng() % 30);
    const double p = 0.1 + (rng() % 60) / 100.0;
    const double threshold = (rng() % 100) / 100.0;
    SegmentList fast;
    const int largest = SlideWindowP(binary.data(), n, W, threshold, p, &fast);
    SegmentList slow;
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
