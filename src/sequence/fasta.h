// FASTA input: the header text and the letters of the first entry of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestra {

// The first entry of a FASTA file.
struct FastaEntry {
  std::string header;   // the header line after '>', line end removed, cut to 19999 characters
  std::string letters;  // the entry's letters and '-' characters, in the case of the file
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
// *more_entries, when given, tells whether a '>' after the first entry's letters begins
// another one.
FastaStatus ReadFastaFile(int fd, FastaEntry* entry, bool* more_entries = nullptr);

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

// Every entry of an input in turn, each read as if it stood alone in a file: it starts at a
// '>', its header is the rest of that line, and its letters run to the next '>' (which
// starts the next entry) or to the end. Only one entry is held at a time.
struct FastaReader;
FastaReader* OpenFastaReader(int fd);
// Whether fd is a regular file, not gzip, and its size: its entries can then be read a
// range at a time, several ranges at once.
bool IsPlainFile(int fd, uint64_t* size);
// The entries of a plain file whose '>' lies in bytes [from, to), read by position (the
// file's offset is left alone); the last may reach past `to`. An entry starts at the first
// '>' of a line, so the ranges of a file read in turn give every entry once, in order.
FastaReader* OpenFastaRange(int fd, uint64_t from, uint64_t to);
// The offset of the first entry of a plain file that starts at or after `from` and before
// `to`, found by the reader's rule (the first '>' of a line); -1 for none, -2 for a read
// error. `block` is scratch for the reading.
int64_t NextEntryStart(int fd, uint64_t from, uint64_t to, std::vector<char>* block);
// Where share i of `count` equal shares of `size` bytes starts: floor(size * i / count),
// without overflow.
uint64_t ShareStart(uint64_t size, int i, int count);
// The I-th of N parts of the entries of a regular file, gzip-compressed or not, read from
// the start (a plain file is better read by ranges). The parts split the compressed bytes
// evenly: part I holds the entries that start at or after the bytes the first
// (I - 1) / N of them inflate to, and before those the first I / N inflate to.
FastaReader* OpenFastaPart(int fd, int index, int count);
// The next entry and its outcome: kOk, kNoEntry (a last header line without its newline),
// kTooLong (its letters are kept all the same) or kReadError (the input could not be read
// or decompressed; no entry follows). False once the input holds no more entries.
bool NextFastaEntry(FastaReader* reader, FastaEntry* entry, FastaStatus* status);
// Raw input bytes read so far, and the size of a regular input file (0 when unknown); may be
// asked from another thread while the reader reads.
void FastaReaderProgress(const FastaReader* reader, std::size_t* done, std::size_t* total);
// For a range of a plain file: the offset up to which its entries are read (where the entry
// after its last begins, or the file's end).
uint64_t FastaRangeEnd(const FastaReader* reader);
void CloseFastaReader(FastaReader* reader);

// For the reader and its tests: a scanner for one entry read alone, and what it reports.
FastaScanner* NewEntryScanner(FastaEntry* entry, std::size_t max_letters = kFastaMaxLetters);
// Bytes of the last block fed that belong to the entry (all of them unless it ended there).
std::size_t FastaScannerUsed(const FastaScanner* scanner);
// Whether the scanner has met the '>' that starts an entry, and one that starts the next.
bool FastaScannerStarted(const FastaScanner* scanner);
bool FastaScannerMetNextEntry(const FastaScanner* scanner);

}  // namespace kestra
