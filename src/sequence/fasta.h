// FASTA input: the header text and the letters of the first entry of a file.
#pragma once

#include <cstddef>
#include <string>

// The first entry of a FASTA file.
struct FastaEntry {
  std::string name;  // header text after '>', line end removed, cut to 19999 characters
  std::string seq;   // the entry's letters and '-' characters, in the case of the file
};

enum class FastaStatus {
  kOk,
  kNoEntry,    // no counted header line (an empty file included)
  kReadError,  // the input could not be read
  kTooLong,    // the first entry holds 2^31 letters or more
};

// Longest line a header line is read in; the rest of a longer line is skipped.
constexpr std::size_t kFastaLineMax = 19999;
// Lengths are 32-bit signed counts: an entry of this many letters is too long.
constexpr std::size_t kFastaMaxLetters = std::size_t{1} << 31;

// Reads the first entry from the open file descriptor `fd` (a file or a pipe, plain or
// gzip-compressed) in large blocks. Reading stops once the first entry is complete and a
// counted header line is known. A corrupt or truncated gzip stream is a read error; zero
// bytes after its last member, up to the end of the input, are padding and ignored.
FastaStatus ReadFastaFile(int fd, FastaEntry* entry);

// Incremental form of the reader, for input that arrives in pieces.
struct FastaScanner;  // defined in fasta.cpp
// size_hint: the number of input bytes when known (a regular file), so that the letters
// fit in one buffer from the start; 0 when unknown.
FastaScanner* NewFastaScanner(FastaEntry* entry, std::size_t max_letters = kFastaMaxLetters,
                              std::size_t size_hint = 0);
// Feeds the next block; returns false once nothing after it can change the result.
bool FastaScannerFeed(FastaScanner* scanner, const char* data, std::size_t n);
// Ends the input and returns the outcome; frees the scanner.
FastaStatus FastaScannerFinish(FastaScanner* scanner);
