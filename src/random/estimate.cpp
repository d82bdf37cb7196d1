#include "random/estimate.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "random/generator.h"
#include "segments/segments.h"
#include "sequence/composition.h"

std::size_t RandomMaxSlots(int length) {
  return static_cast<std::size_t>(std::max<int64_t>(10001, int64_t{length} + 1));
}

void ShuffleSequenceRegular(char* s, int n) {
  if (n < 2) return;  // the only position it could swap with is itself
  const double scale = n;
  for (int i = 0; i < n; ++i) {
    int p;
    do {
      p = static_cast<int>(ran1(scale));
    } while (p == i);
    std::swap(s[i], s[p]);
  }
}

void SetIntervalsNT(const double f[4], double b[5]) {
  b[0] = 0.0;
  for (int i = 1; i <= 4; ++i) b[i] = f[i - 1] + b[i - 1];
}

void GenerateRandomSequenceNT(char* pool, int count, const double b[5]) {
  for (int i = 0; i < count; ++i) {
    const double x = ran1(1.0);
    for (int j = 1; j <= 4; ++j) {
      if (b[j - 1] <= x && x < b[j]) {
        pool[i] = kNucleotides[j - 1];
        break;
      }
    }
  }
}

void GenerateSequence(char* d, int n, const char* source, int source_len) {
  const double scale = source_len;
  for (int i = 0; i < n; ++i) d[i] = source[static_cast<int>(ran1(1.0) * scale)];
}

// The letter pool mapped once to '1'/'0', so each generated position is one draw and a load.
static std::vector<char> BinaryPool(const RandomSettings& settings) {
  double bounds[5];
  SetIntervalsNT(settings.aa_freq, bounds);
  std::vector<char> pool(kPoolSize + 1, '\0');
  GenerateRandomSequenceNT(pool.data(), kPoolSize, bounds);
  const int m = static_cast<int>(settings.special_aa.size());
  for (char& c : pool) c = AA2binary(c, settings.special_aa.c_str(), m);
  return pool;
}

void EstimateRandomPM(char* s, int n, const RandomSettings& settings,
                      std::vector<double>* special_rand_p) {
  std::vector<double>& counts = *special_rand_p;
  counts.assign(RandomMaxSlots(n), 0.0);
  const bool shuffle = settings.estimate_ran == 2;
  std::vector<char> pool;
  if (shuffle) {
    ShuffleSequenceRegular(s, n);
    ShuffleSequenceRegular(s, n);
  } else {
    pool = BinaryPool(settings);
  }
  for (int k = 1; k <= settings.random_seqs; ++k) {
    if (k % 1000 == 0) std::printf("N=%d\n", k);
    if (shuffle) {
      ShuffleSequenceRegular(s, n);
    } else {
      GenerateSequence(s, n, pool.data(), kPoolSize);
    }
    counts[LongestMergedLength(s, n, settings.max_separation)] += 1.0;
  }
  for (double& c : counts) c /= settings.random_seqs;
}
