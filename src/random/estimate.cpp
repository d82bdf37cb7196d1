#include "random/estimate.h"

#include <algorithm>

#include "segments/segments.h"
#include "sequence/composition.h"

void ShuffleSequenceRegular(Ran1* g, char* s, int n) {
  if (n < 2) return;  // the only position it could swap with is itself
  // A local copy of the state stays in registers: the swaps cannot alias it.
  Ran1 r = *g;
  const double scale = n;
  for (int i = 0; i < n; ++i) {
    int p;
    do {
      p = static_cast<int>(ran1(&r, scale));
    } while (p == i);
    std::swap(s[i], s[p]);
  }
  *g = r;
}

void SetIntervalsNT(const double f[4], double b[5]) {
  b[0] = 0.0;
  for (int i = 1; i <= 4; ++i) b[i] = f[i - 1] + b[i - 1];
}

void GenerateRandomSequenceNT(Ran1* g, char* pool, int count, const double b[5]) {
  for (int i = 0; i < count; ++i) {
    const double x = ran1(g, 1.0);
    for (int j = 1; j <= 4; ++j) {
      if (b[j - 1] <= x && x < b[j]) {
        pool[i] = kNucleotides[j - 1];
        break;
      }
    }
  }
}

void GenerateSequence(Ran1* g, char* d, int n, const char* source, int source_len) {
  Ran1 r = *g;
  const double scale = source_len;
  for (int i = 0; i < n; ++i) d[i] = source[static_cast<int>(ran1(&r, 1.0) * scale)];
  *g = r;
}

// The letter pool mapped once to '1'/'0', so each generated position is one draw and a load.
static std::vector<char> BinaryPool(Ran1* g, const RandomSettings& settings) {
  double bounds[5];
  SetIntervalsNT(settings.aa_freq, bounds);
  std::vector<char> pool(kPoolSize + 1, '\0');
  GenerateRandomSequenceNT(g, pool.data(), kPoolSize, bounds);
  const int m = static_cast<int>(settings.special_aa.size());
  for (char& c : pool) c = AA2binary(c, settings.special_aa.c_str(), m);
  return pool;
}

RandomMaxCounts EstimateRandomPM(Ran1* g, char* s, int n, const RandomSettings& settings,
                                 const std::function<void(int)>& progress) {
  RandomMaxCounts d;
  d.sequences = settings.random_seqs;
  const bool shuffle = settings.estimate_ran == 2;
  std::vector<char> pool;
  if (shuffle) {
    ShuffleSequenceRegular(g, s, n);
    ShuffleSequenceRegular(g, s, n);
  } else {
    pool = BinaryPool(g, settings);
  }
  // A 64-bit count: the loop must end after the largest int.
  for (int64_t k = 1; k <= settings.random_seqs; ++k) {
    if (k % 1000 == 0) progress(static_cast<int>(k));
    if (shuffle) {
      ShuffleSequenceRegular(g, s, n);
    } else {
      GenerateSequence(g, s, n, pool.data(), kPoolSize);
    }
    const std::size_t longest = LongestMergedLength(s, n, settings.max_separation);
    if (longest >= d.counts.size()) d.counts.resize(longest + 1, 0);
    ++d.counts[longest];
  }
  return d;
}

double EmpiricalPValue(const RandomMaxCounts& d, int len) {
  // Every count divided by N first, then summed from len up: the doubles of a table of
  // fractions summed in ascending order.
  double sum = 0.0;
  const double sequences = d.sequences;
  for (std::size_t i = static_cast<std::size_t>(std::max(len, 0)); i < d.counts.size(); ++i) {
    sum += static_cast<double>(d.counts[i]) / sequences;
  }
  return sum;
}
