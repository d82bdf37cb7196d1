// Empirical significance: the distribution of the longest merged segment in random
// sequences made by shuffling the binary sequence or by drawing nucleotides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "random/generator.h"

struct RandomSettings {
  int estimate_ran;  // 2 shuffle the binary sequence, 1 generate from the frequencies
  int random_seqs;   // number of random sequences, at least 1
  int max_separation;
  std::string special_aa;
  double aa_freq[4];  // A, T, G, C
};

// How many random sequences had each largest merged length (the index), up to the largest
// seen, so the table never outgrows what the random sequences reached.
struct RandomMaxCounts {
  std::vector<uint32_t> counts;
  int sequences = 0;
};

// Letters drawn once per run in generation mode.
constexpr int kPoolSize = 1000000;

// Permutes positions 0..n-1: each position in turn swaps with a drawn other position.
// One position is left as it is.
void ShuffleSequenceRegular(Ran1* g, char* s, int n);
// b[0] = 0, b[i] = f[i-1] + b[i-1].
void SetIntervalsNT(const double f[4], double b[5]);
// Draws count letters of "ATGC" by the bounds; a draw past b[4] leaves its cell as it was.
void GenerateRandomSequenceNT(Ran1* g, char* pool, int count, const double b[5]);
// Fills d[0..n-1] with cells of `source` (source_len of them) drawn with replacement.
void GenerateSequence(Ran1* g, char* d, int n, const char* source, int source_len);
// Counts, over settings.random_seqs random sequences, the largest merged length of each.
// `s` holds the binary sequence on entry and is used as the working copy. progress(k) is
// called before the k-th sequence whenever k is a multiple of 1000.
RandomMaxCounts EstimateRandomPM(Ran1* g, char* s, int n, const RandomSettings& settings,
                                 const std::function<void(int)>& progress);
// The fraction of random sequences whose largest merged length is at least len: count/N
// summed over the lengths from len up, in ascending order.
double EmpiricalPValue(const RandomMaxCounts& d, int len);
