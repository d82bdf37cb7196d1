// FASTA and FASTQ input: the header text and the letters of each entry of a file or a pipe,
// plain or compressed (gzip, bzip2, xz, zstd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sequence/parallel_loop.h"

namespace kestra {

// An entry: a FASTA entry, or a FASTQ record; its header is the header line after '>' (or
// '@').
struct FastaEntry {
  std::string header;   // the header line, line end removed, cut to 19999 characters
  std::string letters;  // the entry's letters and '-' characters, in the case of the file
  // Letters counted and not kept, of an entry too long whose letters a reader drops (see
  // LetterLimit): its letters then hold none.
  std::size_t dropped = 0;
  // A FASTQ record's qualities, when the reader keeps them: one for each of its letters (those
  // of the characters the letters leave out are left out too), line ends removed.
  std::string qualities = {};
};

enum class FastaStatus {
  kOk,
  kNoEntry,    // no counted header line (an empty file included)
  kReadError,  // the input could not be read (ReadProblem says why)
  kTooLong,    // the entry holds as many letters as its limit or more (2^31 unless told)
};

// Longest line a header line is read in; the rest of a longer line is skipped.
constexpr std::size_t kFastaLineMax = 19999;
// Lengths are 32-bit signed counts: an entry of this many letters is too long.
constexpr std::size_t kFastaMaxLetters = std::size_t{1} << 31;

// The letters of an entry, kept or only counted.
inline std::size_t LetterCount(const FastaEntry& entry) {
  return entry.letters.size() + entry.dropped;
}

// The limit of the entries a reader gives: an entry of `max_letters` letters or more is too
// long. Its letters are kept all the same, to be written out as they stand, unless
// `drop_too_long`: then the letters held are let go once they reach the limit, and the rest
// are only counted, so that such an entry costs no more than the limit.
// `keep_qualities` keeps a FASTQ record's qualities beside its letters.
struct LetterLimit {
  std::size_t max_letters = kFastaMaxLetters;
  bool drop_too_long = false;
  bool keep_qualities = false;
};

// Why an input could not be read, in a few words for a message: the system's reason, the
// decompressor's ("corrupt gzip data", "truncated xz data", ...), or "FASTQ record N: ..."
// with what is wrong with the N-th record (from 1).
struct ReadProblem {
  std::string reason;
};

// Reads the first entry from the open file descriptor `fd` (a file or a pipe, plain or
// compressed) in large blocks. Reading stops once the first entry is complete and a counted
// header line is known. Compressed input is gzip, bzip2, xz or zstd, known by its first
// bytes: streams one after another, and zero bytes after the last, up to the end of the
// input, are padding and ignored; a corrupt or truncated stream, or anything else after the
// last, is a read error. Text whose first byte that is not a space, tab, CR or LF is '@' is
// FASTQ: its first record is the entry (a malformed one is a read error), and *more_entries
// tells whether another record follows. For FASTA, *more_entries, when given, tells whether
// a '>' after the first entry's letters begins another one. After a read error, *problem
// (when given) says why; it is empty otherwise. A gzip input whose first member is a BGZF
// block has its blocks inflated a batch at a time through `loop` (nullptr: in turn, here).
// An entry of the limit's letters or more is too long: reading stops there.
FastaStatus ReadFastaFile(int fd, FastaEntry* entry, bool* more_entries = nullptr,
                          ReadProblem* problem = nullptr, const ParallelLoop* loop = nullptr,
                          LetterLimit limit = {});
// Whether fd is a regular file (plain or compressed) of FASTQ: its first byte that is not a
// space, tab, CR or LF is '@'. It is read from where its offset stands, which is left there.
bool IsFastqFile(int fd);

// Incremental form of the reader, for input that arrives in pieces.
struct FastaScanner;  // defined in fasta.cpp
// size_hint: the number of letters the input holds at most when known (the size of a plain
// regular file), so that the letters fit in one buffer from the start; 0 when unknown: the
// letters' storage then grows with what is read.
FastaScanner* NewFastaScanner(FastaEntry* entry, std::size_t max_letters = kFastaMaxLetters,
                              std::size_t size_hint = 0);
// Feeds the next block; returns false once nothing after it can change the result.
bool FastaScannerFeed(FastaScanner* scanner, const char* data, std::size_t n);
// Ends the input and returns the outcome; frees the scanner.
FastaStatus FastaScannerFinish(FastaScanner* scanner);

// Every entry of an input in turn, each read as if it stood alone in a file: it starts at a
// '>', its header is the rest of that line, and its letters run to the next '>' (which
// starts the next entry) or to the end. FASTQ records are read one after another, blank
// lines between them allowed. Only one entry is held at a time, within `limit`. BGZF blocks
// are inflated through `loop`, as ReadFastaFile does; it must outlive the reader.
struct FastaReader;
FastaReader* OpenFastaReader(int fd, const ParallelLoop* loop = nullptr, LetterLimit limit = {});
// Whether fd is a regular file of plain FASTA (not compressed, not FASTQ), and its size: its
// entries can then be read a range at a time, several ranges at once.
bool IsPlainFile(int fd, uint64_t* size);
// The entries of a plain file whose '>' lies in bytes [from, to), read by position (the
// file's offset is left alone); the last may reach past `to`. An entry starts at the first
// '>' of a line, so the ranges of a file read in turn give every entry once, in order.
FastaReader* OpenFastaRange(int fd, uint64_t from, uint64_t to, LetterLimit limit = {});
// The offset of the first entry of a plain file that starts at or after `from` and before
// `to`, found by the reader's rule (the first '>' of a line); -1 for none, -2 for a read
// error (whose reason goes to *problem, when given). `block` is scratch for the reading.
int64_t NextEntryStart(int fd, uint64_t from, uint64_t to, std::vector<char>* block,
                       ReadProblem* problem = nullptr);
// Where part i of `count` equal parts of `size` bytes starts: floor(size * i / count),
// without overflow.
uint64_t PartOffset(uint64_t size, int i, int count);
// The I-th of N parts of the entries of a regular file, compressed or not, FASTA or FASTQ,
// read from the start (plain FASTA is better read by ranges). The parts split the file's
// bytes evenly: part I holds the entries (a FASTA entry's '>', a FASTQ record's '@') that
// start at or after the text the first (I - 1) / N of them decompress to, and before the
// text the first I / N decompress to.
// FASTA in BGZF blocks throughout (up to the end, or to zero padding) is split by its blocks
// instead, and a part inflates only its own and those that hold the end of its last entry:
// let b(I) be the first block that starts at or after the (I - 1)-th N-th of the file's bytes
// (block 0 for I = 1), and L(I) the text offset just past the first '\n' at or after b(I)'s
// text start (L(1) = 0; the end of the text when no '\n' follows, or when no block starts
// there). Part I holds the entries that start in [L(I), L(I + 1)). BGZF blocks are inflated
// through `loop`, which must outlive the reader.
FastaReader* OpenFastaPart(int fd, int index, int count, const ParallelLoop* loop = nullptr,
                           LetterLimit limit = {});
// The next entry and its outcome: kOk, kNoEntry (a last header line without its newline),
// kTooLong (its letters kept all the same, or counted, as the reader's limit says) or
// kReadError (the input could not be read or decompressed, or a FASTQ record is malformed;
// no entry follows). False once the input holds no more entries.
bool NextFastaEntry(FastaReader* reader, FastaEntry* entry, FastaStatus* status);
// Why the reader's input could not be read, after kReadError.
ReadProblem FastaReaderProblem(const FastaReader* reader);
// Raw input bytes read so far, and the size of a regular input file (0 when unknown); may be
// asked from another thread while the reader reads.
void FastaReaderProgress(const FastaReader* reader, std::size_t* done, std::size_t* total);
// For a range of a plain file: the offset up to which its entries are read (where the entry
// after its last begins, or the file's end).
uint64_t FastaRangeEnd(const FastaReader* reader);
void CloseFastaReader(FastaReader* reader);

// For the reader and its tests: a scanner for one entry read alone, and what it reports.
FastaScanner* NewEntryScanner(FastaEntry* entry, LetterLimit limit = {});
// Bytes of the last block fed that belong to the entry (all of them unless it ended there).
std::size_t FastaScannerUsed(const FastaScanner* scanner);
// Whether the scanner has met the '>' that starts an entry, and one that starts the next.
bool FastaScannerStarted(const FastaScanner* scanner);
bool FastaScannerMetNextEntry(const FastaScanner* scanner);

}  // namespace kestra
