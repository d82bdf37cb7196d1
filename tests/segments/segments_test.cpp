#include "segments/segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "sequence/composition.h"

using namespace kestra;

namespace {

using Rec = std::tuple<int, int, int, int>;  // start, end, length, specials
using List = std::vector<Span>;

std::vector<Rec> Records(const List& list) {
  std::vector<Rec> out;
  for (const Span& s : list) out.emplace_back(s.start, s.end, s.length, s.specials);
  return out;
}

// n cells, each '1' with probability `percent` in 100; runs of specials now and then.
std::string RandomCells(std::mt19937& rng, int n, unsigned percent) {
  std::string cells(static_cast<size_t>(n), '0');
  for (int i = 0; i < n; ++i) cells[i] = rng() % 100 < percent ? '1' : '0';
  for (int runs = rng() % 3; runs > 0 && n > 0; --runs) {
    const int at = rng() % n;
    std::fill(cells.begin() + at, cells.begin() + std::min(n, at + 1 + int(rng() % 150)), '1');
  }
  return cells;
}

int Ones(const std::string& cells, int from, int to) {
  return static_cast<int>(std::count(cells.begin() + from, cells.begin() + to + 1, '1'));
}

// The straightforward versions: every maximal run of '1' as a record; every window scored
// afresh; and the general merge, which tests every record against every later one, removes
// joins from the middle and restarts behind the current record.
List Runs(const std::string& cells) {
  List list;
  const int n = static_cast<int>(cells.size());
  for (int i = 0; i < n;) {
    int j = i;
    while (j < n && cells[j] == '1') ++j;
    if (j > i) list.push_back({i + 1, j, j - i, j - i});
    i = std::max(j, i + 1);
  }
  return list;
}

List Windows(const std::string& cells, int W, double threshold, double p) {
  List list;
  const int n = static_cast<int>(cells.size());
  for (int j = 0; j + W <= n; ++j) {
    const int k = Ones(cells, j, j + W - 1);
    if (ScanPValue(k, W, n, p) < threshold) list.push_back({j + 1, j + W, W, k});
  }
  return list;
}

int StraightforwardMerge(const std::string& cells, List* list, int E) {
  for (size_t cur = 0; cur < list->size(); ++cur) {
    for (size_t later = cur + 1; later < list->size();) {
      Span& c = (*list)[cur];
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
  for (Span& s : *list) {
    s.length = s.end - s.start + 1;
    s.specials = Ones(cells, s.start - 1, s.end - 1);
    longest = std::max(longest, s.length);
  }
  return longest;
}

// The segments of a walk over the stretch [from, to) and those of the stretches that follow,
// cut at `cuts`: put together, they are the segments of the whole.
List WalkInStretches(const std::vector<uint64_t>& bits, const std::vector<int64_t>& cuts,
                     const std::function<SegmentWalk(int64_t, int64_t)>& start) {
  List list;
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    SegmentWalk walk = start(cuts[i], cuts[i + 1]);
    SegmentWalk copy = walk;  // holds nothing of the walk's: walks on its own
    const size_t before = list.size();
    for (Span s; NextSegment(bits.data(), &walk, &s);) list.push_back(s);
    List again;
    for (Span s; NextSegment(bits.data(), &copy, &s);) again.push_back(s);
    EXPECT_EQ(Records(again), Records(List(list.begin() + before, list.end())));
  }
  return list;
}

// Cuts of a sequence of n cells into stretches: whole, at random cells, and at every cell.
std::vector<std::vector<int64_t>> Cuts(std::mt19937& rng, int n) {
  std::vector<int64_t> random = {0};
  for (int64_t at = 0; (at += 1 + rng() % 130) < n;) random.push_back(at);
  random.push_back(n);
  std::vector<int64_t> every;
  for (int64_t at = 0; at <= n && n < 80; ++at) every.push_back(at);
  std::vector<std::vector<int64_t>> cuts = {{0, n}, random};
  if (!every.empty()) cuts.push_back(every);
  return cuts;
}

// The walks over merged runs and over windows, the counts and the longest length agree with
// the straightforward versions, for random sequences, linkage distances (negative ones
// included, where windows may overlap, and ones past a word), whole or cut into stretches.
TEST(Segments, WalksEqualStraightforwardMerge) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = static_cast<int>(rng() % 400);
    const std::string cells = RandomCells(rng, n, rng() % 101);
    std::vector<uint64_t> bits(static_cast<size_t>(n) / 64 + 2);
    PackBits(cells.data(), n, bits.data());
    // Distances at the ends of the int range must neither wrap nor join what they should not.
    const int E = trial % 100 == 0   ? INT_MIN
                  : trial % 100 == 1 ? INT_MAX
                  : trial % 7 == 0   ? 60 + static_cast<int>(rng() % 150)
                                     : static_cast<int>(rng() % 24) - 8;
    List runs = Runs(cells);
    const int longest = StraightforwardMerge(cells, &runs, E);
    ASSERT_EQ(LongestMergedLength(bits.data(), n, E), longest) << cells << " E=" << E;
    const int W = 2 + static_cast<int>(rng() % 30);
    const double p = 0.1 + (rng() % 60) / 100.0, threshold = (rng() % 101) / 100.0;
    const List windows = Windows(cells, W, threshold, p);
    List merged_windows = windows;
    StraightforwardMerge(cells, &merged_windows, E);
    for (const std::vector<int64_t>& cut : Cuts(rng, n)) {
      const List walked = WalkInStretches(bits, cut, [&](int64_t from, int64_t to) {
        return MergedRunSegments(bits.data(), n, E, from, to);
      });
      ASSERT_EQ(Records(walked), Records(runs)) << cells << " E=" << E << " in " << cut.size();
      int64_t counted = 0;
      for (size_t i = 0; i + 1 < cut.size(); ++i) {
        counted += CountMergedSegments(bits.data(), n, E, cut[i], cut[i + 1]);
      }
      ASSERT_EQ(counted, static_cast<int64_t>(runs.size()));
      for (const bool merge : {false, true}) {
        // One table of scores for every stretch, as a thread keeps it from one to the next.
        WindowScores scores;
        const List walked_windows = WalkInStretches(bits, cut, [&](int64_t from, int64_t to) {
          PrepareWindowScores(&scores, W, n, p, threshold);
          return WindowSegments(bits.data(), &scores, merge, E, from, to);
        });
        ASSERT_EQ(Records(walked_windows), Records(merge ? merged_windows : windows))
            << cells << " W=" << W << " E=" << E << " merge " << merge;
      }
    }
    for (int from = 0; from <= n; from += 1 + rng() % 50) {
      const int to = from + static_cast<int>(rng() % (n - from + 1));
      ASSERT_EQ(CountSpecials(bits.data(), from, to), from < to ? Ones(cells, from, to - 1) : 0);
    }
  }
}

}  // namespace
