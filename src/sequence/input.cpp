// The readers of the input's entries: the first alone, every entry of a stream, the entries
// of a range of a plain file, those of a part of a file read from its start, or those of a
// part of a BGZF file read from its share's first block. A stream's text (decompressed) is
// FASTQ when its first byte that is not blank is '@', FASTA otherwise.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/blocks.h"
#include "sequence/bgzf.h"
#include "sequence/byte_source.h"
#include "sequence/decoder.h"
#include "sequence/fasta.h"
#include "sequence/fastq.h"
#include "sequence/reads.h"

namespace kestra {

namespace {

// Why a range of a plain file cannot be read when no system error says why.
constexpr char kFileShrank[] = "file shrank while being read";

// The first entry of a stream, by whichever scanner its text needs: FASTA until a byte that
// is not blank shows '@'. Blank bytes before it go to the FASTA scanner, for which they may
// matter (a '>' counts only at the start of a line).
struct FirstEntry {
  FastaEntry* entry;
  LetterLimit limit;
  FastaScanner* fasta;
  FastqScanner* fastq = nullptr;
  bool known = false;  // a byte that is not blank has been seen
};

bool FeedFirstEntry(FirstEntry* f, const char* data, std::size_t n) {
  const char* from = data;
  if (!f->known) {
    from = std::find_if_not(data, data + n, IsBlank);
    f->known = from < data + n;
    if (f->known && *from == '@') {
      FastaScannerFinish(f->fasta);
      f->fasta = nullptr;
      f->fastq = NewFastqScanner(f->entry, 1, true, true, f->limit);
    }
  }
  if (f->fastq != nullptr) {
    return FastqScannerFeed(f->fastq, from, n - static_cast<std::size_t>(from - data));
  }
  return FastaScannerFeed(f->fasta, data, n);
}

FastaStatus FinishFirstEntry(FirstEntry* f, bool* more_entries, std::string* problem) {
  if (f->fastq != nullptr) {
    if (more_entries != nullptr) *more_entries = FastqScannerMetNextRecord(f->fastq);
    return FastqScannerFinish(f->fastq, problem);
  }
  if (more_entries != nullptr) *more_entries = FastaScannerMetNextEntry(f->fasta);
  return FastaScannerFinish(f->fasta);
}

}  // namespace

FastaStatus ReadFastaFile(int fd, FastaEntry* entry, bool* more_entries, ReadProblem* problem,
                          const ParallelLoop* loop, LetterLimit limit) {
  *entry = FastaEntry();
  ByteSource* source = OpenByteSource(fd, loop);
  // A plain regular file holds at most as many letters as bytes: they then fit in one buffer.
  FirstEntry first{entry, limit, NewFastaScanner(entry, limit.max_letters, TextSizeHint(source))};
  const long n = PumpBytes(source, [&first](const char* data, std::size_t size) {
    return FeedFirstEntry(&first, data, size);
  });
  std::string reason;
  FastaStatus status = FinishFirstEntry(&first, more_entries, &reason);
  if (n < 0) {
    reason = ByteSourceProblem(source);
    status = FastaStatus::kReadError;
  }
  CloseByteSource(source);
  if (status == FastaStatus::kReadError) *entry = FastaEntry();
  if (problem != nullptr) problem->reason = status == FastaStatus::kReadError ? reason : "";
  return status;
}

namespace {

// The first byte of text that is not blank, read through the decompressor from where the
// offset stands; 0 for none.
char FirstTextByte(int fd) {
  ByteSource* source = OpenByteSource(fd);
  char first = 0;
  PumpBytes(source, [&first](const char* data, std::size_t n) {
    const char* text = std::find_if_not(data, data + n, IsBlank);
    if (text == data + n) return true;
    first = *text;
    return false;
  });
  CloseByteSource(source);
  return first;
}

}  // namespace

bool IsFastqFile(int fd) {
  struct stat st;
  const off_t offset = lseek(fd, 0, SEEK_CUR);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || offset < 0) return false;
  // Plain text is looked at by position, a few bytes at a time.
  char block[4096];
  uint64_t at = static_cast<uint64_t>(offset);
  long got = ReadSomeAt(fd, block, sizeof block, at);
  if (got > 0 && CompressionOf(reinterpret_cast<const unsigned char*>(block),
                               static_cast<std::size_t>(got)) == Compression::kNone) {
    for (; got > 0; got = ReadSomeAt(fd, block, sizeof block, at)) {
      const char* text = std::find_if_not(block, block + got, IsBlank);
      if (text < block + got) return *text == '@';
      at += static_cast<uint64_t>(got);
    }
    return false;
  }
  const char first = got > 0 ? FirstTextByte(fd) : 0;
  lseek(fd, offset, SEEK_SET);
  return first == '@';
}

enum class TextFormat { kUnknown, kFasta, kFastq };

struct FastaReader {
  LetterLimit limit;              // of every entry
  ByteSource* source = nullptr;   // the whole input, in order
  const char* data = nullptr;     // the block in hand
  std::size_t size = 0, pos = 0;  // its bytes, and the first not yet given to an entry
  bool failed = false;
  bool failure_told = false;  // kReadError was given: no entry follows
  ReadProblem problem;
  TextFormat format = TextFormat::kUnknown;  // of a stream; a range of a plain file is FASTA
  uint64_t records = 0;                      // FASTQ records met so far
  // A part of a file read from its start: entries before its first are passed over (FASTA
  // entries by the same rule as a range of a plain file finds its first).
  bool part = false;
  int part_index = 0, part_count = 0;
  bool passing = false;      // before the part's first entry
  bool in_header = false;    // while passing: a '>' of this line has been met
  uint64_t block_start = 0;  // text offset of data[0]
  // A part of a BGZF file read from its first block (text offsets count from there): it
  // starts at the first line start of that block's text (the text's start for the first
  // part), and ends at the first line start of the next part's first block's text, which the
  // source's one mark, at that block, leads to.
  bool block_part = false;
  bool start_known = false, end_known = false;
  uint64_t start = 0, end_line = 0;  // the part's first line start, and the next part's
  bool ended = false;                // no entry follows
  // A range of a plain file, read with pread: entries whose '>' lies before `end` are its.
  int fd = -1;
  uint64_t offset = 0;  // of the byte after the block in hand
  uint64_t end = 0;
  std::unique_ptr<char[]> block;  // not cleared: only what is read is looked at
  std::size_t block_size = 0;     // kIoBlock, or the whole of a smaller file
  std::size_t tail_read = 0;      // the next read past `end`, doubled each time up to a block
  std::atomic<std::size_t> bytes_read{0};
};

FastaReader* OpenFastaReader(int fd, const ParallelLoop* loop, LetterLimit limit) {
  auto* r = new FastaReader();
  r->limit = limit;
  r->source = OpenByteSource(fd, loop);
  return r;
}

namespace {

// The first '>' of [p, end) that starts an entry at offset `from` or later, `base` being the
// offset of p; nullptr for none. An entry starts at the first '>' of a line, so a '>' after
// another in its line starts none: `in_header` carries, from one block to the next, whether
// the line in hand has had its '>'.
const char* FindEntryStart(const char* p, const char* end, uint64_t base, uint64_t from,
                           bool* in_header) {
  const char* const first = p;
  for (;;) {
    const char* gt = static_cast<const char*>(std::memchr(p, '>', end - p));
    const char* stop = gt != nullptr ? gt : end;
    if (*in_header && std::memchr(p, '\n', stop - p) != nullptr) *in_header = false;
    if (gt == nullptr) return nullptr;
    if (!*in_header) {
      if (base + static_cast<uint64_t>(gt - first) >= from) return gt;
      *in_header = true;
    }
    p = gt + 1;
  }
}

// The first entry that starts at or after `from` and before `to`, by the reader's own rules:
// an entry starts at the first '>' of a line (the rest of that line is its header, and its
// letters run to the next '>'), so a '>' after another in its line starts none. -1 for none,
// -2 for a read error, whose reason goes to *problem.
int64_t FirstEntryStart(int fd, uint64_t from, uint64_t to, char* block, std::size_t size,
                        std::string* problem) {
  // Back to the start of the line that holds `from`, a little at a time first: most lines
  // are short.
  uint64_t line = from;
  for (std::size_t step = std::min<std::size_t>(size, 4096); line > 0;
       step = std::min(size, 2 * step)) {
    const uint64_t back = std::min<uint64_t>(line, step);
    const long got = ReadSomeAt(fd, block, back, line - back);
    if (got != static_cast<long>(back)) {
      *problem = got < 0 ? std::strerror(errno) : kFileShrank;
      return -2;
    }
    const void* nl = memrchr(block, '\n', back);
    if (nl != nullptr) {
      line = line - back + static_cast<uint64_t>(static_cast<const char*>(nl) - block) + 1;
      break;
    }
    line -= back;
  }
  // Line by line: the first '>' of each is where an entry starts. Most entries start soon
  // after `from`: a little is read at a time first.
  bool in_header = false;  // a '>' of this line has been met (before `from`)
  for (uint64_t at = line, step = std::min<std::size_t>(size, 4096); at < to;
       step = std::min<uint64_t>(size, 2 * step)) {
    const long got = ReadSomeAt(fd, block, step, at);
    if (got < 0) {
      *problem = std::strerror(errno);
      return -2;
    }
    if (got == 0) return -1;
    const char* gt = FindEntryStart(block, block + got, at, from, &in_header);
    if (gt != nullptr) {
      const uint64_t start = at + static_cast<uint64_t>(gt - block);
      return start < to ? static_cast<int64_t>(start) : -1;
    }
    at += static_cast<uint64_t>(got);
  }
  return -1;
}

// Whether a regular file's text is plain FASTA: not compressed, and not FASTQ (its first
// byte that is not blank is not '@'). One that cannot be read counts as FASTA, for the
// reader of its ranges to tell.
bool HoldsPlainFasta(int fd) {
  char head[4096];
  for (uint64_t at = 0;;) {
    const long got = ReadSomeAt(fd, head, sizeof head, at);
    if (got <= 0) return true;
    const std::size_t n = static_cast<std::size_t>(got);
    if (at == 0 &&
        CompressionOf(reinterpret_cast<const unsigned char*>(head), n) != Compression::kNone) {
      return false;
    }
    const char* text = std::find_if_not(head, head + n, IsBlank);
    if (text < head + n) return *text != '@';
    at += n;
  }
}

}  // namespace

int64_t NextEntryStart(int fd, uint64_t from, uint64_t to, std::vector<char>* block,
                       ReadProblem* problem) {
  if (block->empty()) block->resize(kIoBlock / 4);
  std::string reason;
  const int64_t start = FirstEntryStart(fd, from, to, block->data(), block->size(), &reason);
  if (problem != nullptr) problem->reason = reason;
  return start;
}

bool IsPlainFile(int fd, uint64_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return HoldsPlainFasta(fd);
}

FastaReader* OpenFastaRange(int fd, uint64_t from, uint64_t to, LetterLimit limit) {
  auto* r = new FastaReader();
  r->limit = limit;
  r->fd = fd;
  r->end = to;
  r->format = TextFormat::kFasta;
  // A block no larger than the file: a small file costs no MiB.
  struct stat st;
  const uint64_t file_size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : kIoBlock;
  r->block_size =
      static_cast<std::size_t>(std::min<uint64_t>(kIoBlock, std::max<uint64_t>(file_size, 4096)));
  r->block.reset(new char[r->block_size]);
  const int64_t start =
      FirstEntryStart(fd, from, to, r->block.get(), r->block_size, &r->problem.reason);
  r->failed = start == -2;
  r->offset = start >= 0 ? static_cast<uint64_t>(start) : to;
  return r;
}

uint64_t ShareStart(uint64_t size, int i, int count) {
  return size / count * i + size % count * i / count;
}

namespace {

// Whether a regular file's first member is a BGZF block.
bool BeginsWithBlock(int fd) {
  unsigned char head[kBlockHeaderBytes];
  const long got = ReadSomeAt(fd, reinterpret_cast<char*>(head), sizeof head, 0);
  BlockShape shape;
  std::size_t need = 0;
  return got > 0 && ReadBlockHeader(head, static_cast<std::size_t>(got), &shape, &need) !=
                        BlockHeader::kNotBlock;
}

// Whether the text of a BGZF file holds FASTA: its first byte that is not blank is not '@'.
// Its blocks are inflated from the first, one at a time, up to the one that holds that byte;
// one that cannot be read counts as FASTQ, for the reading from the start to tell.
bool BlocksHoldFasta(int fd, const ParallelLoop* loop) {
  ByteSource* source = OpenBlocksAt(fd, 0, loop, 1);
  const char* data = nullptr;
  long n;
  int first = -1;  // the first byte that is not blank
  while (first < 0 && (n = NextBytes(source, &data)) > 0) {
    const char* text = std::find_if_not(data, data + n, IsBlank);
    if (text < data + n) first = static_cast<unsigned char>(*text);
  }
  const bool failed = first < 0 && n < 0;
  CloseByteSource(source);
  return !failed && first != '@';
}

// The part of a file of FASTA in BGZF blocks throughout, split by its blocks; nullptr for a
// file that is not.
FastaReader* OpenBlockPart(int fd, int index, int count, const ParallelLoop* loop,
                           LetterLimit limit) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !BeginsWithBlock(fd) ||
      !BlocksHoldFasta(fd, loop)) {
    return nullptr;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  const BlockWalk walk =
      WalkBlocks(fd, size, ShareStart(size, index - 1, count), ShareStart(size, index, count));
  if (!walk.throughout) return nullptr;
  auto* r = new FastaReader();
  r->limit = limit;
  r->part = true;
  r->block_part = true;
  r->part_index = index;
  r->part_count = count;
  r->format = TextFormat::kFasta;
  r->passing = true;
  const uint64_t first = index == 1 ? 0 : walk.first;
  // No block starts in the share: the part starts where the next does, and holds nothing.
  if (first == kNoBlock || (index > 1 && first == walk.next)) {
    r->ended = true;
    return r;
  }
  r->source = OpenBlocksAt(fd, first, loop);
  if (walk.next != kNoBlock) MarkOffset(r->source, walk.next);
  r->start_known = index == 1;
  return r;
}

}  // namespace

FastaReader* OpenFastaPart(int fd, int index, int count, const ParallelLoop* loop,
                           LetterLimit limit) {
  if (FastaReader* r = OpenBlockPart(fd, index, count, loop, limit)) return r;
  auto* r = new FastaReader();
  r->limit = limit;
  r->source = OpenByteSource(fd, loop);
  r->part = true;
  r->part_index = index;
  r->part_count = count;
  // Every part, the first too, passes over the text before its first entry: a part holds the
  // entries whose '>' (not the text before it) lies in its share.
  r->passing = true;
  MarkShares(r->source, count);
  return r;
}

namespace {

// For a BGZF part: the next part's first line start, just past the first '\n' at or after the
// text start of its first block, looked for in each block of text as it comes.
void LearnPartEnd(FastaReader* r) {
  uint64_t block_text = 0;
  if (r->end_known || !TextAtMark(r->source, 0, &block_text)) return;
  const uint64_t from = std::max(block_text, r->block_start);
  if (from >= r->block_start + r->size) return;
  const char* p = r->data + (from - r->block_start);
  const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(r->data + r->size - p));
  if (nl == nullptr) return;
  r->end_known = true;
  r->end_line = r->block_start + static_cast<uint64_t>(static_cast<const char*>(nl) - r->data) + 1;
}

// The bytes of a range to read next: the rest of the range and a little past it, where most
// entries that start in it end, then, for an entry that runs on, twice as much each time. A
// range is small beside a block, and reading a block for each would read the file many times.
std::size_t RangeReadSize(FastaReader* r) {
  constexpr std::size_t kPast = std::size_t{64} << 10;
  uint64_t want;
  if (r->offset < r->end) {
    want = r->end - r->offset + kPast;
  } else {
    want = r->tail_read == 0 ? kPast : r->tail_read;
    r->tail_read = static_cast<std::size_t>(std::min<uint64_t>(2 * want, r->block_size));
  }
  return static_cast<std::size_t>(std::min<uint64_t>(want, r->block_size));
}

// Makes sure bytes are in hand; false at the end of the input or on an error.
bool FillBlock(FastaReader* r) {
  if (r->pos < r->size) return true;
  if (r->failed) return false;
  long n;
  if (r->source != nullptr) {
    r->block_start += r->size;
    n = NextBytes(r->source, &r->data);
    if (n < 0) r->problem.reason = ByteSourceProblem(r->source);
  } else {
    n = ReadSomeAt(r->fd, r->block.get(), RangeReadSize(r), r->offset);
    r->data = r->block.get();
    if (n < 0) r->problem.reason = std::strerror(errno);
    if (n > 0) {
      r->offset += static_cast<uint64_t>(n);
      r->bytes_read.fetch_add(static_cast<std::size_t>(n), std::memory_order_relaxed);
    }
  }
  r->failed = n < 0;
  r->size = n > 0 ? static_cast<std::size_t>(n) : 0;
  r->pos = 0;
  if (r->block_part) LearnPartEnd(r);
  return n > 0;
}

// Passes over blank bytes; false when the input ends (or fails) first.
bool SkipBlanks(FastaReader* r) {
  while (FillBlock(r)) {
    const char* text = std::find_if_not(r->data + r->pos, r->data + r->size, IsBlank);
    r->pos = static_cast<std::size_t>(text - r->data);
    if (r->pos < r->size) return true;
  }
  return false;
}

// Tells FASTA from FASTQ by the first byte that is not blank; false when there is none.
// Blank bytes are nothing to either, so they are passed over.
bool KnowFormat(FastaReader* r) {
  if (!SkipBlanks(r)) return false;
  r->format = r->data[r->pos] == '@' ? TextFormat::kFastq : TextFormat::kFasta;
  return true;
}

// The text offsets of the part's start and end, when known: a share's start is known once
// the text that the bytes before it give has all been handed out (part I's share starts at
// mark I - 2 and ends at mark I - 1); a BGZF part's once its line starts are found.
bool PartStart(const FastaReader* r, uint64_t* offset) {
  *offset = r->start;
  if (r->block_part) return r->start_known;
  return r->part_index == 1 ||
         TextAtMark(r->source, static_cast<std::size_t>(r->part_index - 2), offset);
}

bool PartEnd(const FastaReader* r, uint64_t* offset) {
  *offset = r->end_line;
  if (r->block_part) return r->end_known;
  return r->part_index < r->part_count &&
         TextAtMark(r->source, static_cast<std::size_t>(r->part_index - 1), offset);
}

// For a BGZF part after the first: passes over its first block's text up to just past the
// first '\n', the part's start; false when the input ends (or fails) first.
bool PassToLineStart(FastaReader* r) {
  while (!r->start_known) {
    if (!FillBlock(r)) return false;
    const void* nl = std::memchr(r->data + r->pos, '\n', r->size - r->pos);
    r->pos = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - r->data) + 1
                           : r->size;
    r->start_known = nl != nullptr;
    r->start = r->block_start + r->pos;
  }
  return true;
}

// Whether a BGZF part has passed the next part's start with its bytes in hand.
bool PastPartEnd(const FastaReader* r) {
  uint64_t end = 0;
  return r->block_part && PartEnd(r, &end) && r->block_start + r->size >= end;
}

// Passes over the bytes before the part's first entry: the first '>' of a line at or after
// the part's start. Bytes past that start can only be had once it is known. A BGZF part
// whose start lies at a line start with no '>' before the next part's start holds nothing.
bool PassToPart(FastaReader* r) {
  while (r->passing) {
    if (r->block_part && !PassToLineStart(r)) return false;
    if (!FillBlock(r)) return false;
    // Until the part's start is known, no '>' can be its first entry.
    uint64_t first = UINT64_MAX;
    if (!PartStart(r, &first)) first = UINT64_MAX;
    const char* gt = FindEntryStart(r->data + r->pos, r->data + r->size, r->block_start + r->pos,
                                    first, &r->in_header);
    if (gt != nullptr) {
      r->pos = static_cast<std::size_t>(gt - r->data);
      r->passing = false;
      return true;
    }
    r->pos = r->size;
    if (PastPartEnd(r)) {
      r->ended = true;
      return false;
    }
  }
  return true;
}

bool NextFastaInText(FastaReader* r, FastaEntry* entry, FastaStatus* status) {
  if (r->part) {
    if (!PassToPart(r)) {
      if (r->failed) *status = FastaStatus::kReadError;
      return r->failed;
    }
    uint64_t end = 0;
    if (FillBlock(r) && PartEnd(r, &end) && r->block_start + r->pos >= end) return false;
  }
  FastaScanner* scanner = NewEntryScanner(entry, r->limit);
  bool open = true;
  while (open && FillBlock(r)) {
    open = FastaScannerFeed(scanner, r->data + r->pos, r->size - r->pos);
    r->pos += FastaScannerUsed(scanner);
  }
  const bool started = FastaScannerStarted(scanner);
  const FastaStatus scanned = FastaScannerFinish(scanner);
  *status = r->failed ? FastaStatus::kReadError : scanned;
  return started || r->failed;
}

// Where the record whose '@' is in hand stands against the part: before its start (read
// only to be passed over), in it, or past its end. Text handed out before a share's start
// is known lies before that start.
enum class InPart { kBefore, kIn, kPast };
InPart RecordInPart(const FastaReader* r) {
  if (!r->part) return InPart::kIn;
  const uint64_t at = r->block_start + r->pos;
  uint64_t start = 0, end = 0;
  if (PartEnd(r, &end) && at >= end) return InPart::kPast;
  return PartStart(r, &start) && at >= start ? InPart::kIn : InPart::kBefore;
}

// The next FASTQ record of the text, or of the part. Records before the part's are read too,
// since only reading them tells where the next begins; their letters are not kept.
bool NextFastqRecord(FastaReader* r, FastaEntry* entry, FastaStatus* status) {
  for (;;) {
    if (r->failed || !SkipBlanks(r)) {
      if (r->failed) *status = FastaStatus::kReadError;
      return r->failed;
    }
    const InPart where = RecordInPart(r);
    if (where == InPart::kPast) return false;
    FastqScanner* scanner =
        NewFastqScanner(entry, ++r->records, where == InPart::kIn, false, r->limit);
    bool open = true;
    while (open && FillBlock(r)) {
      open = FastqScannerFeed(scanner, r->data + r->pos, r->size - r->pos);
      r->pos += FastqScannerUsed(scanner);
    }
    std::string wrong;
    const FastaStatus scanned = FastqScannerFinish(scanner, &wrong);
    if (scanned == FastaStatus::kReadError && !r->failed) {
      r->failed = true;
      r->problem.reason = wrong;
    }
    *status = r->failed ? FastaStatus::kReadError : scanned;
    if (r->failed || where == InPart::kIn) return true;
  }
}

}  // namespace

bool NextFastaEntry(FastaReader* r, FastaEntry* entry, FastaStatus* status) {
  if (r->failure_told || r->ended) return false;
  // A range ends with the last entry that starts before its end (one whose start could not
  // be found fails at once); so does a part.
  if (r->source == nullptr && !r->failed && r->offset - r->size + r->pos >= r->end) return false;
  bool more = false;
  if (r->format == TextFormat::kUnknown && !KnowFormat(r)) {
    if (r->failed) *status = FastaStatus::kReadError;
    more = r->failed;
  } else if (r->format == TextFormat::kFastq) {
    more = NextFastqRecord(r, entry, status);
  } else {
    more = NextFastaInText(r, entry, status);
  }
  r->failure_told = more && *status == FastaStatus::kReadError;
  return more;
}

ReadProblem FastaReaderProblem(const FastaReader* r) { return r->problem; }

uint64_t FastaRangeEnd(const FastaReader* r) { return r->offset - r->size + r->pos; }

void FastaReaderProgress(const FastaReader* r, std::size_t* done, std::size_t* total) {
  if (r->source != nullptr) {
    ByteProgress(r->source, done, total);
  } else {
    *done = r->bytes_read.load(std::memory_order_relaxed);
    *total = 0;
  }
}

void CloseFastaReader(FastaReader* r) {
  if (r->source != nullptr) CloseByteSource(r->source);
  delete r;
}

}  // namespace kestra
