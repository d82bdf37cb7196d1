// Input bytes for the FASTA reader: read in large blocks from a file or a pipe, and
// decompressed on the fly when the input is gzip (one member or several, as bgzip writes,
// maybe followed by zero bytes up to the end, as tape blocking leaves them).
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "output/blocks.h"
#include "sequence/fasta.h"

namespace kestra {

namespace {

// Reads up to n bytes, retrying after a signal; -1 on a read error.
long ReadSome(int fd, char* buf, std::size_t n) {
  for (;;) {
    const ssize_t got = read(fd, buf, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace

// The input's bytes, decompressed when it is gzip, one block at a time.
struct ByteSource {
  int fd;
  std::vector<char> block = std::vector<char>(kIoBlock);
  std::size_t first = 0;  // bytes read ahead to recognise gzip, not handed out yet
  bool gzip = false;
  bool failed = false;
  bool at_end = false;  // the file descriptor has reached its end
  z_stream zs{};
  bool in_member = true;
  std::vector<char> out;
  std::size_t regular_size = 0;  // bytes of a regular file, 0 when unknown
  // Raw bytes read so far; a progress display on another thread may read it meanwhile.
  std::atomic<std::size_t> bytes_read{0};
  uint64_t produced = 0;  // inflated bytes handed out so far
  // A part of a gzip file ends where the inflater has taken a given count of compressed
  // bytes: at the bytes that those, and nothing after them, inflate to. Input past the next
  // such count is held back until it is reached and its inflated offset known.
  static constexpr int kBounds = 2;
  uint64_t compressed_bound[kBounds] = {0, 0};
  uint64_t inflated_bound[kBounds] = {0, 0};
  int bound = kBounds;  // the first bound not yet reached; kBounds: none to look for
  uint64_t held = 0;    // input bytes held back past it
};

namespace {

long ReadBlock(ByteSource* s) {
  const long got = ReadSome(s->fd, s->block.data(), s->block.size());
  if (got > 0) s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
  return got;
}

// Padding after the last member: zero bytes, from the unread input up to the end of fd.
// A later nonzero byte makes the whole tail garbage rather than padding.
bool OnlyZerosFollow(ByteSource* s) {
  const char* p = reinterpret_cast<const char*>(s->zs.next_in);
  std::size_t n = s->zs.avail_in;
  for (;;) {
    if (std::any_of(p, p + n, [](char c) { return c != 0; })) return false;
    const long got = ReadBlock(s);
    if (got <= 0) return got == 0;
    p = s->block.data();
    n = static_cast<std::size_t>(got);
  }
}

// Compressed bytes taken by the inflater so far.
uint64_t Consumed(const ByteSource* s) { return s->bytes_read - s->zs.avail_in - s->held; }

// Holds back the input past the next bound.
void HoldBackPastBound(ByteSource* s) {
  if (s->bound == ByteSource::kBounds || s->held > 0) return;
  const uint64_t taken = Consumed(s), bound = s->compressed_bound[s->bound];
  if (taken + s->zs.avail_in > bound) {
    s->held = taken + s->zs.avail_in - bound;
    s->zs.avail_in = static_cast<uInt>(bound - taken);
  }
}

bool AtBound(const ByteSource* s) {
  return s->bound < ByteSource::kBounds && s->zs.avail_in == 0 &&
         Consumed(s) == s->compressed_bound[s->bound];
}

// The bound is reached and nothing more inflates from the input before it.
void PassBound(ByteSource* s) {
  s->inflated_bound[s->bound++] = s->produced;
  s->zs.avail_in = static_cast<uInt>(s->held);
  s->held = 0;
}

// Bounds past the end of the input lie at its end.
void PassBoundsAtEnd(ByteSource* s) {
  while (s->bound < ByteSource::kBounds) s->inflated_bound[s->bound++] = s->produced;
}

// The next block of inflated bytes: members follow each other, and input that ends inside
// one, or that is neither a member nor zero padding where one must start, is an error.
long InflateSome(ByteSource* s, const char** data) {
  z_stream* zs = &s->zs;
  for (;;) {
    if (zs->avail_in == 0 && s->held == 0 && !s->at_end) {
      const long got = ReadBlock(s);
      if (got < 0) return -1;
      s->at_end = got == 0;
      zs->next_in = reinterpret_cast<Bytef*>(s->block.data());
      zs->avail_in = static_cast<uInt>(got);
    }
    HoldBackPastBound(s);
    const bool at_bound = AtBound(s);
    if (!s->in_member) {
      if (at_bound) {
        PassBound(s);
        continue;
      }
      if (zs->avail_in == 0 && s->at_end) return PassBoundsAtEnd(s), 0;
      // No member starts with a zero byte, so one here can only begin padding.
      if (*zs->next_in == 0) return OnlyZerosFollow(s) ? (PassBoundsAtEnd(s), 0) : -1;
      if (inflateReset(zs) != Z_OK) return -1;
      s->in_member = true;
    }
    zs->next_out = reinterpret_cast<Bytef*>(s->out.data());
    zs->avail_out = static_cast<uInt>(s->out.size());
    const int status = inflate(zs, Z_NO_FLUSH);
    const std::size_t produced = s->out.size() - zs->avail_out;
    const bool more_input = zs->avail_in == 0 && (!s->at_end || s->held > 0);
    if (status == Z_STREAM_END) {
      s->in_member = false;
    } else if (status != Z_OK && !(status == Z_BUF_ERROR && more_input)) {
      return -1;
    }
    if (produced > 0) {
      s->produced += produced;
      *data = s->out.data();
      return static_cast<long>(produced);
    }
    if (at_bound && s->in_member) PassBound(s);
  }
}

}  // namespace

ByteSource* OpenByteSource(int fd) {
  auto* s = new ByteSource();
  s->fd = fd;
  // A pipe may deliver one byte at a time: read until the two magic bytes can be seen.
  while (s->first < 2) {
    const long got = ReadSome(fd, s->block.data() + s->first, s->block.size() - s->first);
    if (got < 0) s->failed = true;
    if (got <= 0) break;
    s->first += static_cast<std::size_t>(got);
    s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
  }
  s->gzip = s->first >= 2 && static_cast<unsigned char>(s->block[0]) == 0x1f &&
            static_cast<unsigned char>(s->block[1]) == 0x8b;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) s->regular_size = st.st_size;
  if (s->gzip) {
    s->out.resize(kIoBlock);
    if (inflateInit2(&s->zs, 16 + MAX_WBITS) != Z_OK) s->failed = true;  // gzip wrapper only
    s->zs.next_in = reinterpret_cast<Bytef*>(s->block.data());
    s->zs.avail_in = static_cast<uInt>(s->first);
    s->first = 0;
  }
  return s;
}

long NextBytes(ByteSource* s, const char** data) {
  if (s->failed) return -1;
  long n;
  if (s->gzip) {
    n = InflateSome(s, data);
  } else if (s->first > 0) {
    n = static_cast<long>(s->first);
    s->first = 0;
    *data = s->block.data();
  } else {
    n = ReadBlock(s);
    *data = s->block.data();
  }
  if (n < 0) s->failed = true;
  return n;
}

std::size_t PlainFileSize(const ByteSource* s) { return s->gzip ? 0 : s->regular_size; }

void ByteProgress(const ByteSource* s, std::size_t* done, std::size_t* total) {
  *done = s->bytes_read.load(std::memory_order_relaxed);
  *total = s->regular_size;
}

void CloseByteSource(ByteSource* s) {
  if (s->gzip) inflateEnd(&s->zs);
  delete s;
}

FastaStatus ReadFastaFile(int fd, FastaEntry* entry, bool* more_entries) {
  *entry = FastaEntry();
  ByteSource* source = OpenByteSource(fd);
  // A plain regular file holds at most as many letters as bytes.
  FastaScanner* scanner = NewFastaScanner(entry, kFastaMaxLetters, PlainFileSize(source));
  const char* data = nullptr;
  long n;
  while ((n = NextBytes(source, &data)) > 0 &&
         FastaScannerFeed(scanner, data, static_cast<std::size_t>(n))) {
  }
  if (more_entries != nullptr) *more_entries = FastaScannerMetNextEntry(scanner);
  const FastaStatus status = FastaScannerFinish(scanner);
  const bool failed = n < 0;
  CloseByteSource(source);
  if (failed) {
    *entry = FastaEntry();
    return FastaStatus::kReadError;
  }
  return status;
}

struct FastaReader {
  ByteSource* source = nullptr;   // the whole input, in order
  const char* data = nullptr;     // the block in hand
  std::size_t size = 0, pos = 0;  // its bytes, and the first not yet given to an entry
  bool failed = false;
  // A part of a gzip file: entries before its first are passed over, by the same rule as a
  // range of a plain file finds its first.
  bool part = false;
  bool passing = false;      // before the part's first entry
  bool in_header = false;    // while passing: a '>' of this line has been met
  uint64_t block_start = 0;  // inflated offset of data[0]
  // A range of a plain file, read with pread: entries whose '>' lies before `end` are its.
  int fd = -1;
  uint64_t offset = 0;  // of the byte after the block in hand
  uint64_t end = 0;
  std::unique_ptr<char[]> block;  // not cleared: only what is read is looked at
  std::size_t block_size = 0;     // kIoBlock, or the whole of a smaller file
  std::atomic<std::size_t> bytes_read{0};
};

FastaReader* OpenFastaReader(int fd) {
  auto* r = new FastaReader();
  r->source = OpenByteSource(fd);
  return r;
}

namespace {

// Reads up to n bytes at `offset`, retrying after a signal; -1 on a read error.
long ReadAt(int fd, char* buf, std::size_t n, uint64_t offset) {
  for (;;) {
    const ssize_t got = pread(fd, buf, n, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

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
// -2 for a read error.
int64_t FirstEntryStart(int fd, uint64_t from, uint64_t to, char* block, std::size_t size) {
  // Back to the start of the line that holds `from`, a little at a time first: most lines
  // are short.
  uint64_t line = from;
  for (std::size_t step = std::min<std::size_t>(size, 4096); line > 0;
       step = std::min(size, 2 * step)) {
    const uint64_t back = std::min<uint64_t>(line, step);
    const long got = ReadAt(fd, block, back, line - back);
    if (got != static_cast<long>(back)) return -2;
    const void* nl = memrchr(block, '\n', back);
    if (nl != nullptr) {
      line = line - back + static_cast<uint64_t>(static_cast<const char*>(nl) - block) + 1;
      break;
    }
    line -= back;
  }
  // Line by line: the first '>' of each is where an entry starts.
  bool in_header = false;  // a '>' of this line has been met (before `from`)
  for (uint64_t at = line; at < to;) {
    const long got = ReadAt(fd, block, size, at);
    if (got < 0) return -2;
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

}  // namespace

int64_t NextEntryStart(int fd, uint64_t from, uint64_t to, std::vector<char>* block) {
  if (block->empty()) block->resize(kIoBlock / 4);
  return FirstEntryStart(fd, from, to, block->data(), block->size());
}

bool IsPlainFile(int fd, uint64_t* size) {
  struct stat st;
  unsigned char magic[2];
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return ReadAt(fd, reinterpret_cast<char*>(magic), 2, 0) != 2 ||
         !(magic[0] == 0x1f && magic[1] == 0x8b);
}

FastaReader* OpenFastaRange(int fd, uint64_t from, uint64_t to) {
  auto* r = new FastaReader();
  r->fd = fd;
  r->end = to;
  // A block no larger than the file: a small file costs no MiB.
  struct stat st;
  const uint64_t file_size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : kIoBlock;
  r->block_size =
      static_cast<std::size_t>(std::min<uint64_t>(kIoBlock, std::max<uint64_t>(file_size, 4096)));
  r->block.reset(new char[r->block_size]);
  const int64_t start = FirstEntryStart(fd, from, to, r->block.get(), r->block_size);
  r->failed = start == -2;
  r->offset = start >= 0 ? static_cast<uint64_t>(start) : to;
  return r;
}

uint64_t ShareStart(uint64_t size, int i, int count) {
  return size / count * i + size % count * i / count;
}

FastaReader* OpenFastaPart(int fd, int index, int count) {
  auto* r = new FastaReader();
  r->source = OpenByteSource(fd);
  ByteSource* s = r->source;
  const uint64_t size = s->regular_size;
  r->part = true;
  // Every part, the first too, passes over the text before its first entry: a part holds the
  // entries whose '>' (not the text before it) lies in its share.
  r->passing = true;
  s->compressed_bound[0] = ShareStart(size, index - 1, count);
  s->compressed_bound[1] = index == count ? UINT64_MAX : ShareStart(size, index, count);
  s->bound = index > 1 ? 0 : 1;  // the first part starts at the start
  return r;
}

// Makes sure bytes are in hand; false at the end of the input or on an error.
static bool FillBlock(FastaReader* r) {
  if (r->pos < r->size) return true;
  if (r->failed) return false;
  long n;
  if (r->source != nullptr) {
    r->block_start += r->size;
    n = NextBytes(r->source, &r->data);
  } else {
    n = ReadAt(r->fd, r->block.get(), r->block_size, r->offset);
    r->data = r->block.get();
    if (n > 0) {
      r->offset += static_cast<uint64_t>(n);
      r->bytes_read.fetch_add(static_cast<std::size_t>(n), std::memory_order_relaxed);
    }
  }
  r->failed = n < 0;
  r->size = n > 0 ? static_cast<std::size_t>(n) : 0;
  r->pos = 0;
  return n > 0;
}

// Whether the inflated offset of a part's bound is known yet, and what it is.
static bool KnownBound(const FastaReader* r, int which, uint64_t* offset) {
  if (r->source->bound <= which) return false;
  *offset = r->source->inflated_bound[which];
  return true;
}

// Passes over the bytes before the part's first entry: the first '>' of a line at or after
// the part's start. Bytes past that start can only be had once it is known.
static bool PassToPart(FastaReader* r) {
  while (r->passing) {
    if (!FillBlock(r)) return false;
    // Until the part's start is known, no '>' can be its first entry.
    uint64_t first = UINT64_MAX;
    KnownBound(r, 0, &first);
    const char* gt = FindEntryStart(r->data + r->pos, r->data + r->size, r->block_start + r->pos,
                                    first, &r->in_header);
    if (gt != nullptr) {
      r->pos = static_cast<std::size_t>(gt - r->data);
      r->passing = false;
      return true;
    }
    r->pos = r->size;
  }
  return true;
}

bool NextFastaEntry(FastaReader* r, FastaEntry* entry, FastaStatus* status) {
  // A range ends with the last entry that starts before its end; so does a part.
  if (r->source == nullptr && r->offset - r->size + r->pos >= r->end) return false;
  if (r->part) {
    if (!PassToPart(r)) {
      if (r->failed) *status = FastaStatus::kReadError;
      return r->failed;
    }
    uint64_t end = 0;
    if (FillBlock(r) && KnownBound(r, 1, &end) && r->block_start + r->pos >= end) return false;
  }
  FastaScanner* scanner = NewEntryScanner(entry);
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
