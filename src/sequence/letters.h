// What FASTA and FASTQ entries share: how a header line is cut and which bytes a sequence
// keeps.
#pragma once

#include <cstddef>
#include <string>

namespace kestra {

// The header is printed as a C string, so it ends at its first NUL; a CR before the newline
// of a CR LF file is not part of it.
void TrimHeader(std::string* name);
// Appends the bytes of [p, end) that a sequence keeps (ASCII letters and '-') to *letters.
void AppendKeptLetters(const char* p, const char* end, std::string* letters);
// Whether a sequence keeps the byte.
bool IsKeptLetter(char c);
// How many bytes of [p, end) a sequence keeps: the letters of an entry that holds none.
std::size_t CountKeptLetters(const char* p, const char* end);

}  // namespace kestra
