// FASTQ records one at a time, from text that arrives in blocks: a line "@header", sequence
// lines up to a line that starts with '+', then as many quality characters as the sequence
// lines hold, over as many lines as they take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sequence/fasta.h"

namespace kestra {

// The bytes that may stand before a record, and that tell no format before the first.
inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct FastqScanner;  // defined in fastq.cpp
// A scanner for the record numbered `record` (from 1), maybe after blank bytes. Its header and
// letters go to *entry (whose letters' storage is used again), or nowhere unless `keep`. The
// first record of a file read alone (`first_of_file`) stops at the letter limit, and is read
// on past to tell whether another record follows; otherwise its letters are kept, or counted
// past the limit as `limit` says, and the scanner stops at the end of its last quality line.
FastqScanner* NewFastqScanner(FastaEntry* entry, uint64_t record, bool keep, bool first_of_file,
                              LetterLimit limit = {});
// Feeds the next block; returns false once nothing after it can change the result.
bool FastqScannerFeed(FastqScanner* scanner, const char* data, std::size_t n);
// Bytes of the last block fed that belong to the record (all of them unless it ended there).
std::size_t FastqScannerUsed(const FastqScanner* scanner);
// For the first of a file: whether another record follows it.
bool FastqScannerMetNextRecord(const FastqScanner* scanner);
// Ends the input and returns the outcome: kOk, kTooLong, or kReadError with *problem saying
// which record is wrong and how; kNoEntry when no record started. Frees the scanner.
FastaStatus FastqScannerFinish(FastqScanner* scanner, std::string* problem);

}  // namespace kestra
