// Input bytes for the FASTA reader: read in large blocks from a file or a pipe, and
// decompressed on the fly when the input is gzip (one member or several, as bgzip writes,
// maybe followed by zero bytes up to the end, as tape blocking leaves them).
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "sequence/fasta.h"

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

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
  std::vector<char> block = std::vector<char>(kBlock);
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

// The next block of inflated bytes: members follow each other, and input that ends inside
// one, or that is neither a member nor zero padding where one must start, is an error.
long InflateSome(ByteSource* s, const char** data) {
  z_stream* zs = &s->zs;
  for (;;) {
    if (zs->avail_in == 0 && !s->at_end) {
      const long got = ReadBlock(s);
      if (got < 0) return -1;
      s->at_end = got == 0;
      zs->next_in = reinterpret_cast<Bytef*>(s->block.data());
      zs->avail_in = static_cast<uInt>(got);
    }
    if (!s->in_member) {
      if (zs->avail_in == 0 && s->at_end) return 0;
      // No member starts with a zero byte, so one here can only begin padding.
      if (*zs->next_in == 0) return OnlyZerosFollow(s) ? 0 : -1;
      if (inflateReset(zs) != Z_OK) return -1;
      s->in_member = true;
    }
    zs->next_out = reinterpret_cast<Bytef*>(s->out.data());
    zs->avail_out = static_cast<uInt>(s->out.size());
    const int status = inflate(zs, Z_NO_FLUSH);
    const std::size_t produced = s->out.size() - zs->avail_out;
    if (status == Z_STREAM_END) {
      s->in_member = false;
    } else if (status != Z_OK && !(status == Z_BUF_ERROR && zs->avail_in == 0 && !s->at_end)) {
      return -1;
    }
    if (produced > 0) {
      *data = s->out.data();
      return static_cast<long>(produced);
    }
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
    s->out.resize(kBlock);
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
  ByteSource* source;
  const char* data = nullptr;     // the block in hand
  std::size_t size = 0, pos = 0;  // its bytes, and the first not yet given to an entry
  bool failed = false;
};

FastaReader* OpenFastaReader(int fd) { return new FastaReader{OpenByteSource(fd)}; }

// Makes sure bytes are in hand; false at the end of the input or on an error.
static bool FillBlock(FastaReader* r) {
  if (r->pos < r->size) return true;
  if (r->failed) return false;
  const long n = NextBytes(r->source, &r->data);
  r->failed = n < 0;
  r->size = n > 0 ? static_cast<std::size_t>(n) : 0;
  r->pos = 0;
  return n > 0;
}

bool NextFastaEntry(FastaReader* r, FastaEntry* entry, FastaStatus* status) {
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

void FastaReaderProgress(const FastaReader* r, std::size_t* done, std::size_t* total) {
  ByteProgress(r->source, done, total);
}

void CloseFastaReader(FastaReader* r) {
  CloseByteSource(r->source);
  delete r;
}
