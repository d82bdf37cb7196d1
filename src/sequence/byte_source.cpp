// The input's text in large blocks from a file or a pipe, decompressed on the fly: streams
// follow each other, and input that ends inside one, or that is neither a stream nor zero
// padding where one must start, cannot be read. BGZF blocks are inflated a batch at a time;
// a block that cannot be inflated so (damaged, or cut short) is read by the streaming
// decoder, as is everything after it, so that what it gives, or why it fails, is what any
// gzip input gives.
#include "sequence/byte_source.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "base/blocks.h"
#include "sequence/bgzf.h"
#include "sequence/decoder.h"
#include "sequence/fasta.h"
#include "sequence/reads.h"

namespace kestra {

namespace {

// Why a compressed input cannot be read; %s: the compression's name.
constexpr char kCorruptData[] = "corrupt %s data";
constexpr char kTruncatedData[] = "truncated %s data";
constexpr char kDataAfterTheEnd[] = "data after the end of the %s data";

}  // namespace

struct ByteSource {
  int fd;
  int64_t read_at = -1;  // where the next pread reads, for a source opened at an offset; -1: read
  uint64_t origin = 0;   // the input offset of the first byte read
  std::vector<char> block = std::vector<char>(kIoBlock);
  const char* in = nullptr;  // input read and not yet decompressed (or handed out)
  std::size_t in_n = 0;
  bool at_end = false;  // the file descriptor has reached its end
  bool failed = false;
  std::string problem;
  Compression compression = Compression::kNone;
  Decoder* decoder = nullptr;  // for compressed input
  bool in_stream = true;       // false between two compressed streams
  uint64_t padding = 0;        // zero bytes since the last stream ended, where streams are padded
  std::vector<char> out;
  std::size_t regular_size = 0;  // bytes of a regular file, 0 when unknown
  // Raw bytes read so far; a progress display on another thread may read it meanwhile.
  std::atomic<std::size_t> bytes_read{0};
  uint64_t produced = 0;  // text bytes handed out so far
  // Input offsets marked (ascending), and the text offset at each mark passed: the
  // decompressor is fed the bytes up to the next mark, and once it hands out nothing more,
  // the text those bytes give is known. Input past the mark is held back until then.
  std::vector<uint64_t> marks, mark_text;
  uint64_t held = 0;
  // BGZF: whole blocks read into `block` and inflated a batch at a time through the loop,
  // until a member that is no block.
  bool blocks = false;
  const ParallelLoop* loop = nullptr;
  std::size_t batch_blocks = 1;  // at most this many a batch
  BlockBatch batch;
  DecompressorPool decompressors;
};

namespace {

long Failed(ByteSource* s, const std::string& problem) {
  s->problem = problem;
  return -1;
}

long FailedFor(ByteSource* s, const char* text) {
  char reason[64];
  std::snprintf(reason, sizeof reason, text, CompressionName(s->compression));
  return Failed(s, reason);
}

// Input where none may be: past the end of the last stream, and not zero padding.
long DataAfterTheEnd(ByteSource* s) { return FailedFor(s, kDataAfterTheEnd); }

// Reads up to n bytes of input, from where the last read ended; -1 on a read error.
long ReadInput(ByteSource* s, char* buf, std::size_t n) {
  if (s->read_at < 0) return ReadSome(s->fd, buf, n);
  const long got = ReadSomeAt(s->fd, buf, n, static_cast<uint64_t>(s->read_at));
  if (got > 0) s->read_at += got;
  return got;
}

// The next block of input into s->in.
long ReadBlock(ByteSource* s) {
  const long got = ReadInput(s, s->block.data(), s->block.size());
  if (got < 0) return Failed(s, std::strerror(errno));
  s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
  s->in = s->block.data();
  s->in_n = static_cast<std::size_t>(got);
  s->at_end = got == 0;
  return got;
}

// The input offset up to which the decompressor has taken the bytes (or handed them out).
uint64_t Consumed(const ByteSource* s) { return s->origin + s->bytes_read - s->in_n - s->held; }

bool MarksLeft(const ByteSource* s) { return s->mark_text.size() < s->marks.size(); }

// Holds back the input past the next mark.
void HoldBackPastMark(ByteSource* s) {
  if (!MarksLeft(s) || s->held > 0) return;
  const uint64_t taken = Consumed(s), mark = s->marks[s->mark_text.size()];
  if (taken + s->in_n > mark) {
    s->held = taken + s->in_n - mark;
    s->in_n = static_cast<std::size_t>(mark - taken);
  }
}

bool AtMark(const ByteSource* s) {
  return MarksLeft(s) && s->in_n == 0 && Consumed(s) == s->marks[s->mark_text.size()];
}

// The mark is reached and nothing more comes out of the input before it.
void PassMark(ByteSource* s) {
  s->mark_text.push_back(s->produced);
  s->in_n = static_cast<std::size_t>(s->held);
  s->held = 0;
}

// Marks past the end of the input lie at its end.
void PassMarksAtEnd(ByteSource* s) {
  while (MarksLeft(s)) s->mark_text.push_back(s->produced);
}

// Padding after the last stream: zero bytes, from the unread input (what is held back
// included) up to the end of fd. A later nonzero byte makes the whole tail garbage rather
// than padding. 0 at the end, -1 otherwise.
long SkipPadding(ByteSource* s) {
  const char* p = s->in;
  std::size_t n = s->in_n + s->held;
  s->held = 0;
  for (;;) {
    if (std::any_of(p, p + n, [](char c) { return c != 0; })) {
      return DataAfterTheEnd(s);
    }
    const long got = ReadBlock(s);
    if (got <= 0) return got;
    p = s->in;
    n = s->in_n;
  }
}

// Skips the zero bytes in hand, stream padding between two streams (or up to the end).
void SkipStreamPadding(ByteSource* s) {
  const char* end = std::find_if(s->in, s->in + s->in_n, [](char c) { return c != 0; });
  const auto n = static_cast<std::size_t>(end - s->in);
  s->padding += n;
  s->in = end;
  s->in_n -= n;
}

// What stands where a stream must start.
enum class Between {
  kEnd,      // the end of the input, maybe after padding
  kFailed,   // neither a stream nor padding
  kPadding,  // stream padding, skipped as far as the bytes in hand go
  kStream,   // the next stream, which the decoder is ready for
};

// Where a stream must start: the end, padding, or the next stream.
Between StartNextStream(ByteSource* s) {
  if (s->in_n == 0 && s->at_end) return Between::kEnd;
  const auto first = static_cast<unsigned char>(*s->in);
  const std::size_t unit = StreamPaddingUnit(s->compression);
  if (first == 0 && unit > 0) {
    SkipStreamPadding(s);
    return Between::kPadding;
  }
  // No stream starts with a zero byte, so one here can only begin padding up to the end.
  if (first == 0) return SkipPadding(s) < 0 ? Between::kFailed : Between::kEnd;
  if ((unit > 0 && s->padding % unit != 0) || !CanStartStream(s->compression, first)) {
    DataAfterTheEnd(s);
    return Between::kFailed;
  }
  s->padding = 0;
  if (!RestartDecoder(s->decoder)) {
    Failed(s, std::strerror(ENOMEM));
    return Between::kFailed;
  }
  s->in_stream = true;
  return Between::kStream;
}

// The next block of decompressed text.
long DecodeSome(ByteSource* s, const char** data) {
  for (;;) {
    if (s->in_n == 0 && s->held == 0 && !s->at_end && ReadBlock(s) < 0) return -1;
    HoldBackPastMark(s);
    const bool at_mark = AtMark(s);
    if (!s->in_stream) {
      if (at_mark) {
        PassMark(s);
        continue;
      }
      const Between next = StartNextStream(s);
      if (next == Between::kPadding) continue;
      if (next == Between::kFailed) return -1;
      if (next == Between::kEnd) return PassMarksAtEnd(s), 0;
    }
    const bool starved = s->in_n == 0 && s->held == 0 && s->at_end;
    std::size_t produced = 0;
    const DecodeStatus status =
        Decode(s->decoder, &s->in, &s->in_n, s->out.data(), s->out.size(), &produced);
    if (status == DecodeStatus::kCorrupt) return FailedFor(s, kCorruptData);
    if (status == DecodeStatus::kNoMemory) return Failed(s, std::strerror(ENOMEM));
    if (status == DecodeStatus::kStreamEnd) {
      s->in_stream = false;
    } else if (produced == 0 && starved) {
      return FailedFor(s, kTruncatedData);
    }
    if (produced > 0) {
      s->produced += produced;
      *data = s->out.data();
      return static_cast<long>(produced);
    }
    if (at_mark && s->in_stream) PassMark(s);
  }
}

// The next block of an input that is not compressed: as read, cut at the next mark.
long HandOut(ByteSource* s, const char** data) {
  for (;;) {
    if (s->in_n == 0 && s->held == 0 && !s->at_end && ReadBlock(s) < 0) return -1;
    HoldBackPastMark(s);
    if (AtMark(s)) {
      PassMark(s);
      continue;
    }
    if (s->in_n == 0) return PassMarksAtEnd(s), 0;
    const std::size_t n = s->in_n;
    *data = s->in;
    s->in += n;
    s->in_n = 0;
    s->produced += n;
    return static_cast<long>(n);
  }
}

// Blocks a batch, enough for the loop's threads to share (8 each); the input buffer holds as
// many of the largest blocks, and is filled again once less than half of it is left.
constexpr std::size_t kBlocksAThread = 8, kMaxBatchBlocks = 64;

std::size_t BatchBlocks(const ParallelLoop* loop) {
  const std::size_t threads =
      loop != nullptr ? static_cast<std::size_t>(std::max(1, loop->threads)) : 1;
  return std::min(kMaxBatchBlocks, kBlocksAThread * threads);
}

// Whether the bytes in hand begin with what can be read without more: a whole block, or a
// member that is no block (which the streaming decoder reads).
bool FirstMemberInHand(const ByteSource* s) {
  BlockShape shape;
  std::size_t need = 0;
  const BlockHeader told =
      ReadBlockHeader(reinterpret_cast<const unsigned char*>(s->in), s->in_n, &shape, &need);
  return told == BlockHeader::kNotBlock || (told == BlockHeader::kBlock && shape.size <= s->in_n);
}

// Whether a read would find input at once: always for a file, for a pipe when its writer has
// written more (or closed it).
bool InputWaiting(const ByteSource* s) {
  if (s->read_at >= 0 || s->regular_size > 0) return true;
  pollfd p{s->fd, POLLIN, 0};
  return poll(&p, 1, 0) != 0;
}

// Moves the bytes in hand to the buffer's start and reads after them until it is full or the
// input ends, so that the blocks they begin lie whole in it; from a pipe, only while its
// writer keeps up, once a block can be read.
long FillBuffer(ByteSource* s) {
  if (s->in_n > 0 && s->in != s->block.data()) std::memmove(s->block.data(), s->in, s->in_n);
  s->in = s->block.data();
  while (!s->at_end && s->in_n < s->block.size()) {
    if (!InputWaiting(s) && FirstMemberInHand(s)) break;
    const long got = ReadInput(s, s->block.data() + s->in_n, s->block.size() - s->in_n);
    if (got < 0) return Failed(s, std::strerror(errno));
    s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
    s->in_n += static_cast<std::size_t>(got);
    s->at_end = got == 0;
  }
  return 0;
}

// Gathers the whole blocks in hand, up to a batch: it ends at a member that is no block (or
// whose text would be larger than a block's), at a block the bytes in hand cut short, or at
// the end of the bytes.
std::size_t GatherBatch(ByteSource* s) {
  ClearBatch(&s->batch);
  const auto* p = reinterpret_cast<const unsigned char*>(s->in);
  std::size_t at = 0;
  while (s->batch.blocks.size() < s->batch_blocks && at < s->in_n) {
    BlockShape shape;
    std::size_t need = 0;
    if (ReadBlockHeader(p + at, s->in_n - at, &shape, &need) != BlockHeader::kBlock ||
        shape.size > s->in_n - at || BlockTextSize(s->in + at, shape) > kMaxBlockText) {
      break;
    }
    AddBlock(&s->batch, s->in + at, shape);
    at += shape.size;
  }
  return s->batch.blocks.size();
}

// Passes the marks that the first `good` blocks of the batch reach: a mark's text is that of
// the blocks that end at or before it.
void PassMarksInBatch(ByteSource* s, std::size_t good) {
  uint64_t end = Consumed(s);  // of the blocks counted so far
  std::size_t j = 0;
  while (MarksLeft(s)) {
    const uint64_t mark = s->marks[s->mark_text.size()];
    while (j < good && end + s->batch.shapes[j].size <= mark) end += s->batch.shapes[j++].size;
    if (j == good && mark > end) return;
    s->mark_text.push_back(s->produced + s->batch.text_at[j]);
  }
}

// From here on the streaming decoder reads the input, a member at a time, from the member in
// hand.
void StreamFromHere(ByteSource* s) {
  s->blocks = false;
  s->in_stream = false;
}

// The next batch of BGZF text: the blocks in hand inflated, those before the first that
// cannot be (which the streaming decoder then reads, with all after it).
long InflateSome(ByteSource* s, const char** data) {
  while (s->blocks) {
    if (s->in_n < s->block.size() / 2 && !s->at_end && FillBuffer(s) < 0) return -1;
    const std::size_t n = GatherBatch(s);
    if (n == 0) {
      if (s->in_n == 0 && s->at_end) return PassMarksAtEnd(s), 0;
      StreamFromHere(s);
      break;
    }
    const std::size_t good = InflateBatch(&s->batch, &s->decompressors, s->loop);
    PassMarksInBatch(s, good);
    std::size_t bytes = 0;
    for (std::size_t j = 0; j < good; ++j) bytes += s->batch.shapes[j].size;
    s->in += bytes;
    s->in_n -= bytes;
    const std::size_t text = s->batch.text_at[good];
    s->produced += text;
    if (good < n) StreamFromHere(s);
    if (text > 0) {
      *data = s->batch.text.data();
      return static_cast<long>(text);
    }
  }
  return DecodeSome(s, data);
}

}  // namespace

namespace {

// Reads the input's first bytes, enough to tell its compression, and readies what it needs.
ByteSource* OpenSource(ByteSource* s, std::size_t batch_blocks) {
  // A pipe may deliver one byte at a time: read until the first bytes can tell the
  // compression.
  std::size_t first = 0;
  while (first < kMagicBytes) {
    const long got = ReadInput(s, s->block.data() + first, s->block.size() - first);
    if (got < 0) {
      s->failed = true;
      s->problem = std::strerror(errno);
    }
    if (got <= 0) {
      s->at_end = got == 0;
      break;
    }
    first += static_cast<std::size_t>(got);
    s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
  }
  s->in = s->block.data();
  s->in_n = first;
  s->compression = CompressionOf(reinterpret_cast<const unsigned char*>(s->in), first);
  struct stat st;
  if (fstat(s->fd, &st) == 0 && S_ISREG(st.st_mode)) s->regular_size = st.st_size;
  if (s->compression != Compression::kNone && !s->failed) {
    s->out.resize(kIoBlock);
    s->decoder = NewDecoder(s->compression);
    if (s->decoder == nullptr) {
      s->failed = true;
      s->problem = std::strerror(ENOMEM);
    }
  }
  // gzip may be BGZF: the first batch tells, by its first member.
  if (s->compression == Compression::kGzip) {
    s->blocks = true;
    s->batch_blocks = batch_blocks > 0 ? batch_blocks : BatchBlocks(s->loop);
    s->block.resize(std::max(kIoBlock, s->batch_blocks * kMaxBlockBytes));
    s->in = s->block.data();
  }
  return s;
}

}  // namespace

ByteSource* OpenByteSource(int fd, const ParallelLoop* loop) {
  auto* s = new ByteSource();
  s->fd = fd;
  s->loop = loop;
  return OpenSource(s, 0);
}

ByteSource* OpenBlocksAt(int fd, uint64_t offset, const ParallelLoop* loop,
                         std::size_t batch_blocks) {
  auto* s = new ByteSource();
  s->fd = fd;
  s->loop = loop;
  s->read_at = static_cast<int64_t>(offset);
  s->origin = offset;
  return OpenSource(s, batch_blocks);
}

void MarkOffset(ByteSource* s, uint64_t offset) { s->marks.push_back(offset); }

void MarkShares(ByteSource* s, int count) {
  for (int i = 1; i < count; ++i) MarkOffset(s, ShareStart(s->regular_size, i, count));
}

long NextBytes(ByteSource* s, const char** data) {
  if (s->failed) return -1;
  const long n = s->blocks                              ? InflateSome(s, data)
                 : s->compression != Compression::kNone ? DecodeSome(s, data)
                                                        : HandOut(s, data);
  if (n < 0) s->failed = true;
  return n;
}

namespace {

enum class Pumped { kMore, kStopped, kNoBlocks, kFailed };

// One batch of BGZF blocks, each block's text fed as soon as it is inflated while later ones
// inflate: kMore for more to come, kStopped once the input ends or feed has had enough,
// kNoBlocks when the streaming decoder reads on from here.
Pumped PumpBatch(ByteSource* s, const std::function<bool(const char*, std::size_t)>& feed) {
  if (s->in_n < s->block.size() / 2 && !s->at_end && FillBuffer(s) < 0) return Pumped::kFailed;
  const std::size_t n = GatherBatch(s);
  if (n == 0) {
    if (s->in_n == 0 && s->at_end) return PassMarksAtEnd(s), Pumped::kStopped;
    StreamFromHere(s);
    return Pumped::kNoBlocks;
  }
  bool enough = false;
  const std::size_t good = InflateBatchInOrder(&s->batch, &s->decompressors, s->loop,
                                               [&](std::size_t, const char* text, std::size_t k) {
                                                 enough = k > 0 && !feed(text, k);
                                                 return !enough;
                                               });
  if (enough) return Pumped::kStopped;
  PassMarksInBatch(s, good);
  std::size_t bytes = 0;
  for (std::size_t j = 0; j < good; ++j) bytes += s->batch.shapes[j].size;
  s->in += bytes;
  s->in_n -= bytes;
  s->produced += s->batch.text_at[good];
  if (good < n) {
    StreamFromHere(s);
    return Pumped::kNoBlocks;
  }
  return Pumped::kMore;
}

}  // namespace

long PumpBytes(ByteSource* s, const std::function<bool(const char*, std::size_t)>& feed) {
  while (s->blocks && !s->failed) {
    const Pumped pumped = PumpBatch(s, feed);
    if (pumped == Pumped::kFailed) s->failed = true;
    if (pumped == Pumped::kStopped) return 0;
  }
  for (;;) {
    const char* data = nullptr;
    const long n = NextBytes(s, &data);
    if (n <= 0) return n;
    if (!feed(data, static_cast<std::size_t>(n))) return 0;
  }
}

bool TextAtMark(const ByteSource* s, std::size_t k, uint64_t* offset) {
  if (k >= s->mark_text.size()) return false;
  *offset = s->mark_text[k];
  return true;
}

std::size_t TextSizeHint(const ByteSource* s) {
  // A compressed file's size says little of its text's: a few bytes of it may stand for
  // gigabytes of letters, and zero padding for none.
  return s->compression == Compression::kNone ? s->regular_size : 0;
}

void ByteProgress(const ByteSource* s, std::size_t* done, std::size_t* total) {
  *done = s->bytes_read.load(std::memory_order_relaxed);
  *total = s->regular_size;
}

const std::string& ByteSourceProblem(const ByteSource* s) { return s->problem; }

void CloseByteSource(ByteSource* s) {
  FreeDecoder(s->decoder);
  FreeDecompressors(&s->decompressors);
  delete s;
}

}  // namespace kestra
