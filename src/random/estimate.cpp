#include "random/estimate.h"

#include <algorithm>

#include "segments/segments.h"
#include "sequence/composition.h"

namespace kestra {

void ShuffleBinary(RandomGenerator* g, char* s, int n) {
  if (n < 2) return;  // the only position it could swap with is itself
  // A local copy of the state stays in registers: the swaps cannot alias it.
  RandomGenerator r = *g;
  const double scale = n;
  for (int i = 0; i < n; ++i) {
    int p;
    do {
      p = static_cast<int>(Draw(&r, scale));
    } while (p == i);
    std::swap(s[i], s[p]);
  }
  *g = r;
}

void CumulativeFrequencies(const double f[4], double b[5]) {
  b[0] = 0.0;
  for (int i = 1; i <= 4; ++i) b[i] = f[i - 1] + b[i - 1];
}

void DrawLetterPool(RandomGenerator* g, char* pool, int count, const double b[5]) {
  for (int i = 0; i < count; ++i) {
    const double x = Draw(g, 1.0);
    for (int j = 1; j <= 4; ++j) {
      if (b[j - 1] <= x && x < b[j]) {
        pool[i] = kNucleotides[j - 1];
        break;
      }
    }
  }
}

void SampleFromPool(RandomGenerator* g, char* d, int n, const char* pool, int pool_size) {
  RandomGenerator r = *g;
  const double scale = pool_size;
  for (int i = 0; i < n; ++i) d[i] = pool[static_cast<int>(Draw(&r, 1.0) * scale)];
  *g = r;
}

// The letter pool mapped once to '1'/'0', so each generated position is one draw and a load.
static std::vector<char> BinaryPool(RandomGenerator* g, const RandomSequences& r) {
  double bounds[5];
  CumulativeFrequencies(r.frequencies, bounds);
  std::vector<char> pool(kPoolSize + 1, '\0');
  DrawLetterPool(g, pool.data(), kPoolSize, bounds);
  const SpecialTable special = MakeSpecialTable(r.special_residues);
  for (char& c : pool) c = special[static_cast<unsigned char>(c)] ? '1' : '0';
  return pool;
}

LongestLengthCounts CountLongestMergedLengths(RandomGenerator* g, const uint64_t* bits, int n,
                                              const RandomSequences& r,
                                              const std::function<void(int)>& progress) {
  // The working copy, as cells to shuffle or to draw into, and the bits each is read through.
  std::vector<char> cells(static_cast<std::size_t>(n));
  UnpackBits(bits, n, cells.data());
  std::vector<uint64_t> random_bits(static_cast<std::size_t>(n) / 64 + 2, 0);
  char* const s = cells.data();
  LongestLengthCounts d;
  d.sequences = r.count;
  const bool shuffle = r.source == RandomSource::kShuffle;
  std::vector<char> pool;
  if (shuffle) {
    ShuffleBinary(g, s, n);
    ShuffleBinary(g, s, n);
  } else {
    pool = BinaryPool(g, r);
  }
  // A 64-bit count: the loop must end after the largest int.
  for (int64_t k = 1; k <= r.count; ++k) {
    if (k % 1000 == 0) progress(static_cast<int>(k));
    if (shuffle) {
      ShuffleBinary(g, s, n);
    } else {
      SampleFromPool(g, s, n, pool.data(), kPoolSize);
    }
    PackBits(s, n, random_bits.data());
    const std::size_t longest = LongestMergedLength(random_bits.data(), n, r.linkage);
    if (longest >= d.counts.size()) d.counts.resize(longest + 1, 0);
    ++d.counts[longest];
  }
  return d;
}

double EmpiricalPValue(const LongestLengthCounts& d, int len) {
  // Every count divided by N first, then summed from len up: the doubles of a table of
  // fractions summed in ascending order.
  double sum = 0.0;
  const double sequences = d.sequences;
  for (std::size_t i = static_cast<std::size_t>(std::max(len, 0)); i < d.counts.size(); ++i) {
    sum += static_cast<double>(d.counts[i]) / sequences;
  }
  return sum;
}

}  // namespace kestra
