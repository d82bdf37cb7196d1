// The part of a file's entries that one of N runs reads (OpenFastaPart): a filter over the
// stream reader, which watches the text the stream hands out to learn where the part starts
// and ends, passes over the entries before its first, and stops at the next part's first.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "sequence/bgzf.h"
#include "sequence/byte_source.h"
#include "sequence/readers.h"
#include "sequence/sniff.h"

namespace kestra {

// A part starts at a text offset, and ends at the next part's start: the text offset of a part's
// first byte is known once the text that the bytes before it give has all been handed out
// (part I's bytes start at mark I - 2 and end at mark I - 1).
// A part of a BGZF file read from its first block (text offsets count from there) starts at
// the first line start of that block's text (the text's start for the first part), and ends
// at the first line start of the next part's first block's text, which the source's one mark,
// at that block, leads to.
struct PartFilter {
  ByteSource* source = nullptr;  // the stream's
  int index = 0, count = 0;
  bool by_blocks = false;  // a part of a BGZF file, split by its blocks
  bool start_known = false, end_known = false;
  uint64_t start = 0, end = 0;  // the part's first line start, and the next part's
  uint64_t text_at = 0;         // text handed out so far
  bool passing = true;          // before the part's first entry
  bool in_header = false;       // while passing: a '>' of this line has been met
  bool ended = false;           // no entry follows
};

namespace {

// For a BGZF part: the next part's first line start, just past the first '\n' at or after the
// text start of its first block, looked for in each block of text as it comes.
void LearnBlockPartEnd(PartFilter* p, const char* data, uint64_t block_start, std::size_t size) {
  uint64_t block_text = 0;
  if (p->end_known || !TextAtMark(p->source, 0, &block_text)) return;
  const uint64_t from = std::max(block_text, block_start);
  if (from >= block_start + size) return;
  const char* at = data + (from - block_start);
  const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(data + size - at));
  if (nl == nullptr) return;
  p->end_known = true;
  p->end = block_start + static_cast<uint64_t>(static_cast<const char*>(nl) - data) + 1;
}

void LearnShareBounds(PartFilter* p) {
  if (!p->start_known) {
    p->start_known = TextAtMark(p->source, static_cast<std::size_t>(p->index - 2), &p->start);
  }
  if (!p->end_known && p->index < p->count) {
    p->end_known = TextAtMark(p->source, static_cast<std::size_t>(p->index - 1), &p->end);
  }
}

// The stream's next block, whose text tells the part's bounds as it comes.
long NextPartBlock(void* input, const char** data, std::string* problem) {
  auto* p = static_cast<PartFilter*>(input);
  const long n = NextBytes(p->source, data);
  if (n < 0) *problem = ByteSourceProblem(p->source);
  const uint64_t block_start = p->text_at;
  const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 0;
  p->text_at += size;
  if (p->by_blocks) {
    LearnBlockPartEnd(p, *data, block_start, size);
  } else {
    LearnShareBounds(p);
  }
  return n;
}

StreamReader* FilteredStream(PartFilter* p) {
  StreamReader* s = OpenStreamReader(p->source);
  s->text.next = NextPartBlock;
  s->text.input = p;
  return s;
}

// The part of a file of FASTA in BGZF blocks throughout, split by its blocks; nullptr for a
// file that is not.
PartFilter* OpenBlockPart(int fd, int index, int count, const ParallelLoop* loop,
                          StreamReader** stream) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !BeginsWithBlock(fd) ||
      !BlocksHoldFasta(fd, loop)) {
    return nullptr;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  const BlockWalk walk =
      WalkBlocks(fd, size, PartOffset(size, index - 1, count), PartOffset(size, index, count));
  if (!walk.throughout) return nullptr;
  auto* p = new PartFilter();
  p->index = index;
  p->count = count;
  p->by_blocks = true;
  *stream = nullptr;
  const uint64_t first = index == 1 ? 0 : walk.first;
  // No block starts in the part's bytes: the part starts where the next does, and holds nothing.
  if (first == kNoBlock || (index > 1 && first == walk.next)) {
    p->ended = true;
    return p;
  }
  p->source = OpenBlocksAt(fd, first, loop);
  if (walk.next != kNoBlock) MarkOffset(p->source, walk.next);
  p->start_known = index == 1;
  *stream = FilteredStream(p);
  (*stream)->format = TextFormat::kFasta;
  return p;
}

// For a BGZF part after the first: passes over its first block's text up to just past the
// first '\n', the part's start; false when the input ends (or fails) first.
bool PassToLineStart(PartFilter* p, TextBlocks* t) {
  while (!p->start_known) {
    if (!FillText(t)) return false;
    const void* nl = std::memchr(t->data + t->pos, '\n', t->size - t->pos);
    t->pos = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - t->data) + 1
                           : t->size;
    p->start_known = nl != nullptr;
    p->start = TextOffset(t);
  }
  return true;
}

// Passes over the bytes before the part's first entry: the first '>' of a line at or after
// the part's start. Bytes past that start can only be had once it is known. A BGZF part
// whose start lies at a line start with no '>' before the next part's start holds nothing.
bool PassToPart(PartFilter* p, TextBlocks* t) {
  while (p->passing) {
    if (p->by_blocks && !PassToLineStart(p, t)) return false;
    if (!FillText(t)) return false;
    // Until the part's start is known, no '>' can be its first entry.
    const uint64_t first = p->start_known ? p->start : UINT64_MAX;
    const char* gt =
        FindEntryStart(t->data + t->pos, t->data + t->size, TextOffset(t), first, &p->in_header);
    if (gt != nullptr) {
      t->pos = static_cast<std::size_t>(gt - t->data);
      p->passing = false;
      return true;
    }
    t->pos = t->size;
    if (p->by_blocks && p->end_known && t->block_start + t->size >= p->end) {
      p->ended = true;
      return false;
    }
  }
  return true;
}

bool NextFastaInPart(PartFilter* p, TextBlocks* t, LetterLimit limit, FastaEntry* entry,
                     FastaStatus* status) {
  if (!PassToPart(p, t)) {
    if (t->failed) *status = FastaStatus::kReadError;
    return t->failed;
  }
  if (FillText(t) && p->end_known && TextOffset(t) >= p->end) return false;
  return ReadFastaEntry(t, limit, entry, status);
}

// Where the record whose '@' is in hand stands against the part: before its start (read
// only to be passed over), in it, or past its end. Text handed out before the offset of a
// part's first byte is known lies before that offset.
enum class InPart { kBefore, kIn, kPast };
InPart RecordInPart(const PartFilter* p, const TextBlocks* t) {
  const uint64_t at = TextOffset(t);
  if (p->end_known && at >= p->end) return InPart::kPast;
  return p->start_known && at >= p->start ? InPart::kIn : InPart::kBefore;
}

// Records before the part's are read too, since only reading them tells where the next
// begins; their letters are not kept.
bool NextRecordInPart(PartFilter* p, StreamReader* s, LetterLimit limit, FastaEntry* entry,
                      FastaStatus* status) {
  TextBlocks* t = &s->text;
  for (;;) {
    if (t->failed || !SkipBlanks(t)) {
      if (t->failed) *status = FastaStatus::kReadError;
      return t->failed;
    }
    const InPart where = RecordInPart(p, t);
    if (where == InPart::kPast) return false;
    ReadFastqRecord(t, limit, ++s->records, where == InPart::kIn, entry, status);
    if (t->failed || where == InPart::kIn) return true;
  }
}

}  // namespace

PartFilter* OpenPartFilter(int fd, int index, int count, const ParallelLoop* loop,
                           StreamReader** stream) {
  if (PartFilter* p = OpenBlockPart(fd, index, count, loop, stream)) return p;
  auto* p = new PartFilter();
  p->index = index;
  p->count = count;
  p->source = OpenByteSource(fd, loop);
  // Every part, the first too, passes over the text before its first entry: a part holds the
  // entries whose '>' (not the text before it) lies in its bytes.
  p->start_known = index == 1;
  MarkParts(p->source, count);
  *stream = FilteredStream(p);
  return p;
}

bool NextPartEntry(PartFilter* p, StreamReader* s, LetterLimit limit, FastaEntry* entry,
                   FastaStatus* status) {
  if (p->ended) return false;
  if (s->format == TextFormat::kUnknown && !KnowFormat(s)) {
    if (s->text.failed) *status = FastaStatus::kReadError;
    return s->text.failed;
  }
  if (s->format == TextFormat::kFastq) return NextRecordInPart(p, s, limit, entry, status);
  return NextFastaInPart(p, &s->text, limit, entry, status);
}

void ClosePartFilter(PartFilter* p) { delete p; }

}  // namespace kestra
