// Sequence preparation: case, nucleotide composition, the set of special residues, the
// probability of a special residue, the linkage-distance estimate and the binary sequence
// ('1' where a special residue stands, '0' elsewhere).
#pragma once

#include <array>
#include <string>

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
// Frequencies of A, T, G and C among the first n letters (upper case); false when none of
// them is there.
bool NucleotideFrequencies(const char* letters, long n, double freq[4]);
// Probability of a special residue at a position: the frequencies of the set's nucleotides,
// summed in the set's order.
double SpecialProbability(const std::string& set, const double freq[4]);
// Linkage distance from the special-residue probability p: 2/(3p) rounded half to even, at
// least 1. False when 2/(3p) is not finite or lies beyond the range of int.
bool EstimateLinkageDistance(double p, int* distance);
// Fills binary[0..n] with '1' where letters[i] is in the set, else '0'; binary[n] is '0'.
void EncodeBinary(const char* letters, int n, const std::string& set, char* binary);
