// Empirical significance: the distribution of the longest merged segment in random
// sequences made by shuffling the binary sequence or by drawing nucleotides.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct RandomSettings {
  int estimate_ran;  // 2 shuffle the binary sequence, 1 generate from the frequencies
  int random_seqs;   // number of random sequences, at least 1
  int max_separation;
  std::string special_aa;
  double aa_freq[4];  // A, T, G, C
};

// Letters drawn once per run in generation mode.
constexpr int kPoolSize = 1000000;

// Slots of the random-maximum distribution for a sequence of `length` positions: one for
// every largest merged length that can occur, and never fewer than 10001.
std::size_t RandomMaxSlots(int length);
// Permutes positions 0..n-1: each position in turn swaps with a drawn other position.
// One position is left as it is.
void ShuffleSequenceRegular(char* s, int n);
// b[0] = 0, b[i] = f[i-1] + b[i-1].
void SetIntervalsNT(const double f[4], double b[5]);
// Draws count letters of "ATGC" by the bounds; a draw past b[4] leaves its cell as it was.
void GenerateRandomSequenceNT(char* pool, int count, const double b[5]);
// Fills d[0..n-1] with cells of `source` (source_len of them) drawn with replacement.
void GenerateSequence(char* d, int n, const char* source, int source_len);
// Fills special_rand_p (RandomMaxSlots(n) entries) with the fraction of random sequences
// whose largest merged length equals each index. `s` holds the binary sequence on entry and
// is used as the working copy. Prints "N=%d\n" every 1000 sequences.
void EstimateRandomPM(char* s, int n, const RandomSettings& settings,
                      std::vector<double>* special_rand_p);
