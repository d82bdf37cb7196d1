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
#include "sequence/source_state.h"

namespace kestra {

namespace {

// Why a compressed input cannot be read; %s: the compression's name.
constexpr char kCorruptData[] = "corrupt %s data";
constexpr char kTruncatedData[] = "truncated %s data";
constexpr char kDataAfterTheEnd[] = "data after the end of the %s data";

}  // namespace

long Failed(ByteSource* s, const std::string& problem) {
  s->problem = problem;
  return -1;
}

namespace {

long FailedFor(ByteSource* s, const char* text) {
  char reason[64];
  std::snprintf(reason, sizeof reason, text, CompressionName(s->compression));
  return Failed(s, reason);
}

// Input where none may be: past the end of the last stream, and not zero padding.
long DataAfterTheEnd(ByteSource* s) { return FailedFor(s, kDataAfterTheEnd); }

}  // namespace

long ReadInput(ByteSource* s, char* buf, std::size_t n) {
  if (s->read_at < 0) return ReadSome(s->fd, buf, n);
  const long got = ReadSomeAt(s->fd, buf, n, static_cast<uint64_t>(s->read_at));
  if (got > 0) s->read_at += got;
  return got;
}

namespace {

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

}  // namespace

void PassMarksAtEnd(ByteSource* s) {
  while (MarksLeft(s)) s->mark_text.push_back(s->produced);
}

namespace {

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

}  // namespace

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

namespace {

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

void MarkParts(ByteSource* s, int count) {
  for (int i = 1; i < count; ++i) MarkOffset(s, PartOffset(s->regular_size, i, count));
}

long NextBytes(ByteSource* s, const char** data) {
  if (s->failed) return -1;
  const long n = s->blocks                              ? InflateSome(s, data)
                 : s->compression != Compression::kNone ? DecodeSome(s, data)
                                                        : HandOut(s, data);
  if (n < 0) s->failed = true;
  return n;
}

long PumpBytes(ByteSource* s, const std::function<bool(const char*, std::size_t)>& feed) {
  if (PumpBlocks(s, feed)) return 0;
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
