// Sequence preparation: case, nucleotide composition, the set of special residues, the
// probability of a special residue, the linkage-distance estimate and the binary sequence
// ('1' where a special residue stands, '0' elsewhere).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestra {

// "ATGC": the order of the nucleotide frequencies everywhere.
extern const char kNucleotides[];

// Index of a nucleotide letter in kNucleotides, or -1.
int NucleotideIndex(char letter);
// The special-residue set of the text of -R: its letters that are residues (those of
// WIYFLVMCAGHPSTNQDEKR), upper-cased, each once, in the order of their first appearance.
std::string ParseResidueSet(const char* text);
// Which bytes are special residues; letters compare exactly, without case folding.
using SpecialTable = std::array<bool, 256>;
SpecialTable MakeSpecialTable(const std::string& set);
// Upper-cases the first n characters in place (ASCII letters only).
void UpperCase(char* letters, long n);
// Upper-cases letters[from, to) in place, adds their A, T, G and C to counts[0..3] and sets
// bit i % 64 of bits[i / 64] for each letter of the special-residue set, clearing the others;
// `from` is a multiple of 64.
void EncodeLetters(char* letters, int64_t from, int64_t to, const std::string& set, uint64_t* bits,
                   int64_t counts[4]);
// The frequencies of A, T, G and C from their counts; false when there are none.
bool FrequenciesOf(const int64_t counts[4], double freq[4]);
// Probability of a special residue at a position: the frequencies of the set's nucleotides,
// summed in the set's order.
double SpecialProbability(const std::string& set, const double freq[4]);
// Linkage distance from the special-residue probability p: 2/(3p) rounded half to even, at
// least 1. False when 2/(3p) is not finite or lies beyond the range of int.
bool EstimateLinkageDistance(double p, int* distance);
// Between special bits and cells of '1' and '0' (the random sequences shuffle cells): n cells
// each way; packing ends with the word of 0 that follows the bits.
void UnpackBits(const uint64_t* bits, int64_t n, char* cells);
void PackBits(const char* cells, int64_t n, uint64_t* bits);

}  // namespace kestra
