// Sequence preparation: case, nucleotide composition, the special-residue set and the
// binary sequence ('1' where a special residue stands, '0' elsewhere).
#pragma once

#include <string>

extern const char kNucleotides[];  // "ATGC": fixes the index of each nucleotide
extern const char kResidues[];     // "WIYFLVMCAGHPSTNQDEKRX": 20 accepted residue letters, then X

// Index of the first of the first n characters of `letters` equal to ch, or -1.
int FindLetter(char ch, int n, const char* letters);
// Index of ch among the 20 accepted residue letters, or 20.
int ConvToInt(char ch);
// 1 when ch equals one of the first n characters of `letters`, else 0.
int AAExists(char ch, const char* letters, int n);
// '1' when ch equals one of the first n characters of `letters`, else '0'.
char AA2binary(char ch, const char* letters, int n);
// The special-residue set of `src`: its distinct accepted letters, upper-cased, in order.
std::string CopyAA(const char* src);
// Upper-cases the first n characters of buf in place (ASCII letters only).
void Conv2Upper(char* buf, long n);
// Frequencies of A, T, G, C among the first n characters; false when none is present.
bool ComputeNTfreq(const char* seq, long n, double freq[4]);
// Probability of a special residue: the frequencies of the set's nucleotides, summed in order.
double ComputeResiduePNT(const std::string& set, const double freq[4]);
// Linkage distance from the special-residue probability p: 2/(3p) rounded half to even,
// at least 1. False when 2/(3p) is not finite or exceeds the largest int.
bool EstimateLinkageDistance(double p, int* distance);
// Fills dst[0..L] with the binary sequence of seq for `set`; dst[L] is always '0'.
void Seq2binary(const char* seq, int L, const std::string& set, char* dst);
