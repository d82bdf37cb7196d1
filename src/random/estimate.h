// Empirical significance: the distribution of the longest merged segment in random sequences
// made by shuffling the binary sequence or by drawing nucleotides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/random_source.h"
#include "random/generator.h"

namespace kestra {

struct RandomSequences {
  RandomSource source;
  int count;  // how many, at least 1
  int linkage;
  std::string special_residues;
  double frequencies[4];  // A, T, G, C
};

// How many random sequences had each largest merged length (the index), up to the largest
// seen, so the table never outgrows what the random sequences reached.
struct LongestLengthCounts {
  std::vector<uint32_t> counts;
  int sequences = 0;
};

// Letters drawn once per run in generation mode.
constexpr int kPoolSize = 1000000;

// Permutes cells 0..n-1 of '1' and '0': each position in turn swaps with a drawn other
// position. A single position is left as it is.
void ShuffleBinary(RandomGenerator* g, char* cells, int n);
// b[0] = 0, b[i] = f[i-1] + b[i-1].
void CumulativeFrequencies(const double f[4], double b[5]);
// Draws count letters of "ATGC" by the bounds; a draw past b[4] leaves its cell as it was.
void DrawLetterPool(RandomGenerator* g, char* pool, int count, const double b[5]);
// Fills d[0..n-1] with cells of `pool` (pool_size of them) drawn with replacement.
void SampleFromPool(RandomGenerator* g, char* d, int n, const char* pool, int pool_size);
// Counts, over r.count random sequences of n cells, the largest merged length of each; the
// shuffles start from the special bits given. progress(k) is called before the k-th sequence
// whenever k is a multiple of 1000.
LongestLengthCounts CountLongestMergedLengths(RandomGenerator* g, const uint64_t* bits, int n,
                                              const RandomSequences& r,
                                              const std::function<void(int)>& progress);
// The fraction of random sequences whose largest merged length is at least `length`:
// count/N summed over the lengths from `length` up, in ascending order.
double EmpiricalPValue(const LongestLengthCounts& d, int length);

}  // namespace kestra
