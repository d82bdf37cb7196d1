#include "segments/segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Rec = std::tuple<int, int, int, int>;  // start, end, length, specials
using List = std::vector<Segment>;

std::vector<Rec> Records(const List& list) {
  std::vector<Rec> out;
  for (const Segment& s : list) out.emplace_back(s.start, s.end, s.length, s.specials);
  return out;
}

// n cells, each '1' with probability `percent` in 100, then the '0' cell past the end.
std::string RandomBinary(std::mt19937& rng, int n, unsigned percent) {
  std::string binary(static_cast<size_t>(n) + 1, '0');
  for (int i = 0; i < n; ++i) binary[i] = rng() % 100 < percent ? '1' : '0';
  return binary;
}

int Ones(const std::string& binary, int from, int to) {
  return static_cast<int>(std::count(binary.begin() + from, binary.begin() + to + 1, '1'));
}

// The straightforward versions: every maximal run of '1' as a record; every window scored
// afresh; and the general merge, which tests every record against every later one, removes
// joins from the middle and restarts behind the current record.
List Runs(const std::string& binary, int n) {
  List list;
  for (int i = 0; i < n;) {
    int j = i;
    while (j < n && binary[j] == '1') ++j;
    if (j > i) list.push_back({i + 1, j, j - i, j - i});
    i = std::max(j, i + 1);
  }
  return list;
}

List Windows(const std::string& binary, int n, int W, double threshold, double p) {
  List list;
  for (int j = 0; j + W <= n; ++j) {
    const int k = Ones(binary, j, j + W - 1);
    if (ScanPValue(k, W, n, p) < threshold) list.push_back({j + 1, j + W, W, k});
  }
  return list;
}

int StraightforwardMerge(const std::string& binary, List* list, int E) {
  for (size_t cur = 0; cur < list->size(); ++cur) {
    for (size_t later = cur + 1; later < list->size();) {
      Segment& c = (*list)[cur];
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
  for (Segment& s : *list) {
    s.length = s.end - s.start + 1;
    s.specials = Ones(binary, s.start - 1, s.end - 1);
    longest = std::max(longest, s.length);
  }
  return longest;
}

// The window walk, through the source the report walks: its count agrees with its segments.
List WalkWindows(const std::string& binary, int n, int W, double threshold, double p, bool merge,
                 int E) {
  SegmentSource source = WindowSource(std::vector<char>(binary.begin(), binary.end()),
                                      MakeWindowScores(W, n, p, threshold), merge, E);
  List list;
  for (Segment s; NextSegment(&source, &s);) list.push_back(s);
  EXPECT_EQ(source.count, static_cast<int>(list.size()));
  return list;
}

// The walks over merged runs and over windows, the merged-run count and the one-pass longest
// length agree with the straightforward versions, for random sequences and distances
// (negative ones included, where windows may overlap).
TEST(Segments, WalksEqualStraightforwardMerge) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = static_cast<int>(rng() % 300);
    const std::string binary = RandomBinary(rng, n, rng() % 101);
    // Distances at the ends of the int range must neither wrap nor join what they should not.
    const int E = trial % 100 == 0   ? INT_MIN
                  : trial % 100 == 1 ? INT_MAX
                                     : static_cast<int>(rng() % 24) - 8;
    List runs = Runs(binary, n), walked;
    const int longest = StraightforwardMerge(binary, &runs, E);
    SegmentSource source = MergedRunSource(std::vector<char>(binary.begin(), binary.end()), n, E);
    const SegmentSource copy = source;  // walks on its own, from the start
    for (Segment s; NextSegment(&source, &s);) walked.push_back(s);
    ASSERT_EQ(Records(walked), Records(runs)) << binary << " E=" << E;
    ASSERT_EQ(source.count, static_cast<int>(runs.size()));
    ASSERT_EQ(LongestMergedLength(binary.data(), n, E), longest) << binary << " E=" << E;
    SegmentSource again = copy;
    List rewalked;
    for (Segment s; NextSegment(&again, &s);) rewalked.push_back(s);
    ASSERT_EQ(Records(rewalked), Records(runs));

    const int W = 2 + static_cast<int>(rng() % 30);
    const double p = 0.1 + (rng() % 60) / 100.0, threshold = (rng() % 101) / 100.0;
    List windows = Windows(binary, n, W, threshold, p);
    const List apart = WalkWindows(binary, n, W, threshold, p, false, E);
    ASSERT_EQ(Records(apart), Records(windows)) << binary << " W=" << W;
    StraightforwardMerge(binary, &windows, E);
    ASSERT_EQ(Records(WalkWindows(binary, n, W, threshold, p, true, E)), Records(windows))
        << binary << " W=" << W << " E=" << E;
  }
}

}  // namespace
