// The input's text in large blocks from a file or a pipe, decompressed on the fly: streams
// follow each other, and input that ends inside one, or that is neither a stream nor zero
// padding where one must start, cannot be read.
#include "sequence/byte_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "output/blocks.h"
#include "sequence/decoder.h"
#include "sequence/fasta.h"

namespace kestra {

namespace {

// Why a compressed input cannot be read; %s: the compression's name.
constexpr char kCorruptData[] = "corrupt %s data";
constexpr char kTruncatedData[] = "truncated %s data";
constexpr char kDataAfterTheEnd[] = "data after the end of the %s data";

}  // namespace

struct ByteSource {
  int fd;
  std::vector<char> block = std::vector<char>(kIoBlock);
  const char* in = nullptr;  // input read and not yet decompressed (or handed out)
  std::size_t in_n = 0;
  bool at_end = false;  // the file descriptor has reached its end
  bool failed = false;
  std::string problem;
  Compression compression = Compression::kNone;
  Decoder* decoder = nullptr;  // for compressed input
  bool in_stream = true;       // false between two compressed streams
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

// The next block of input into s->in.
long ReadBlock(ByteSource* s) {
  const long got = ReadSome(s->fd, s->block.data(), s->block.size());
  if (got < 0) return Failed(s, std::strerror(errno));
  s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
  s->in = s->block.data();
  s->in_n = static_cast<std::size_t>(got);
  s->at_end = got == 0;
  return got;
}

// Input bytes taken by the decompressor (or handed out) so far.
uint64_t Consumed(const ByteSource* s) { return s->bytes_read - s->in_n - s->held; }

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

// Where a stream must start: the end, padding, or the next stream.
long StartNextStream(ByteSource* s) {
  if (s->in_n == 0 && s->at_end) return 0;
  const auto first = static_cast<unsigned char>(*s->in);
  // No stream starts with a zero byte, so one here can only begin padding.
  if (first == 0) return SkipPadding(s) < 0 ? -1 : 0;
  if (!CanStartStream(s->compression, first)) return DataAfterTheEnd(s);
  if (!RestartDecoder(s->decoder)) return Failed(s, std::strerror(ENOMEM));
  s->in_stream = true;
  return 1;
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
      const long next = StartNextStream(s);
      if (next <= 0) return next < 0 ? -1 : (PassMarksAtEnd(s), 0);
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

}  // namespace

long ReadSome(int fd, char* buf, std::size_t n) {
  for (;;) {
    const ssize_t got = read(fd, buf, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

ByteSource* OpenByteSource(int fd) {
  auto* s = new ByteSource();
  s->fd = fd;
  // A pipe may deliver one byte at a time: read until the first bytes can tell the
  // compression.
  std::size_t first = 0;
  while (first < kMagicBytes) {
    const long got = ReadSome(fd, s->block.data() + first, s->block.size() - first);
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
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) s->regular_size = st.st_size;
  if (s->compression != Compression::kNone && !s->failed) {
    s->out.resize(kIoBlock);
    s->decoder = NewDecoder(s->compression);
    if (s->decoder == nullptr) {
      s->failed = true;
      s->problem = std::strerror(ENOMEM);
    }
  }
  return s;
}

void MarkShares(ByteSource* s, int count) {
  for (int i = 1; i < count; ++i) s->marks.push_back(ShareStart(s->regular_size, i, count));
}

long NextBytes(ByteSource* s, const char** data) {
  if (s->failed) return -1;
  const long n = s->compression != Compression::kNone ? DecodeSome(s, data) : HandOut(s, data);
  if (n < 0) s->failed = true;
  return n;
}

bool ShareTextStart(const ByteSource* s, int i, uint64_t* offset) {
  const std::size_t passed = static_cast<std::size_t>(i - 1);
  if (passed >= s->mark_text.size()) return false;
  *offset = s->mark_text[passed];
  return true;
}

std::size_t PlainFileSize(const ByteSource* s) {
  return s->compression == Compression::kNone ? s->regular_size : 0;
}

void ByteProgress(const ByteSource* s, std::size_t* done, std::size_t* total) {
  *done = s->bytes_read.load(std::memory_order_relaxed);
  *total = s->regular_size;
}

const std::string& ByteSourceProblem(const ByteSource* s) { return s->problem; }

void CloseByteSource(ByteSource* s) {
  FreeDecoder(s->decoder);
  delete s;
}

}  // namespace kestra
