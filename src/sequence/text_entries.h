// The entries of a text that comes a block at a time: the block in hand, where it comes from,
// and the FASTA entry or FASTQ record that starts at its next byte. Every reader of entries
// (a range of a plain file, a stream, a part of either) reads them through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sequence/fasta.h"

namespace kestra {

// Where the blocks of a text come from: next(input, &data, &problem) gives the size of the
// next block, 0 at the end of the text, -1 when it cannot be read (and *problem says why).
using NextTextBlock = long (*)(void* input, const char** data, std::string* problem);

// The block of text in hand.
struct TextBlocks {
  NextTextBlock next = nullptr;
  void* input = nullptr;          // what `next` reads
  const char* data = nullptr;     // the block in hand
  std::size_t size = 0, pos = 0;  // its bytes, and the first not yet given to an entry
  uint64_t block_start = 0;       // text offset of data[0]
  bool failed = false;            // the text could not be read, or a record is malformed
  ReadProblem problem;            // why
};

// The text offset of the first byte not yet given to an entry.
inline uint64_t TextOffset(const TextBlocks* t) { return t->block_start + t->pos; }
// Makes sure bytes are in hand; false at the end of the text or once it failed.
bool FillText(TextBlocks* t);
// Passes over blank bytes; false when the text ends (or fails) first.
bool SkipBlanks(TextBlocks* t);
// The first '>' of [p, end) that starts an entry at offset `from` or later, `base` being the
// offset of p; nullptr for none. An entry starts at the first '>' of a line, so a '>' after
// another in its line starts none: `in_header` carries, from one block to the next, whether
// the line in hand has had its '>'.
const char* FindEntryStart(const char* p, const char* end, uint64_t base, uint64_t from,
                           bool* in_header);
// The FASTA entry that starts at the text in hand, read as if it stood alone: from its '>'
// (bytes before it are passed over) to the next '>' that starts one, or to the end. False
// when no '>' is left and the text did not fail.
bool ReadFastaEntry(TextBlocks* t, LetterLimit limit, FastaEntry* entry, FastaStatus* status);
// The FASTQ record numbered `number` (from 1) at the text in hand, kept in *entry or only
// passed over unless `keep`. A malformed record fails the text.
void ReadFastqRecord(TextBlocks* t, LetterLimit limit, uint64_t number, bool keep,
                     FastaEntry* entry, FastaStatus* status);

}  // namespace kestra
