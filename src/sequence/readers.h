// The readers behind FastaReader, one for each way of reading an input's entries: a range of
// a plain file read by position, or a stream read in order through the byte source (a file
// or a pipe, any compression); and the part filter, which keeps of a stream's entries only
// those of one part of the file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sequence/byte_source.h"
#include "sequence/fasta.h"
#include "sequence/parallel_loop.h"
#include "sequence/text_entries.h"

namespace kestra {

// The entries of a plain file whose '>' lies in [from, end), read with pread.
struct RangeReader {
  TextBlocks text;
  int fd = -1;
  uint64_t offset = 0;  // of the byte after the block in hand
  uint64_t end = 0;
  std::unique_ptr<char[]> block;  // not cleared: only what is read is looked at
  std::size_t block_size = 0;     // kIoBlock, or the whole of a smaller file
  std::size_t tail_read = 0;      // the next read past `end`, doubled each time up to a block
  std::atomic<std::size_t> bytes_read{0};
};
RangeReader* OpenRangeReader(int fd, uint64_t from, uint64_t to);
// The next entry of the range; false past its last.
bool NextRangeEntry(RangeReader* r, LetterLimit limit, FastaEntry* entry, FastaStatus* status);

enum class TextFormat { kUnknown, kFasta, kFastq };

// Every entry of a stream, FASTA or FASTQ as its first byte of text that is not blank tells.
struct StreamReader {
  TextBlocks text;
  ByteSource* source = nullptr;
  TextFormat format = TextFormat::kUnknown;
  uint64_t records = 0;  // FASTQ records met so far
};
// A reader of the source's text, which it then owns.
StreamReader* OpenStreamReader(ByteSource* source);
// Tells FASTA from FASTQ by the first byte that is not blank, passing over the blank bytes
// before it; false when there is none.
bool KnowFormat(StreamReader* s);
bool NextStreamEntry(StreamReader* s, LetterLimit limit, FastaEntry* entry, FastaStatus* status);
void CloseStreamReader(StreamReader* s);

// Of the entries of a stream, those of one part (see OpenFastaPart): entries before its first
// are passed over, and those from the next part's first on are not read.
struct PartFilter;
// The stream of the part's entries goes to *stream: nullptr for a part that holds nothing.
PartFilter* OpenPartFilter(int fd, int index, int count, const ParallelLoop* loop,
                           StreamReader** stream);
bool NextPartEntry(PartFilter* part, StreamReader* s, LetterLimit limit, FastaEntry* entry,
                   FastaStatus* status);
void ClosePartFilter(PartFilter* part);

}  // namespace kestra
