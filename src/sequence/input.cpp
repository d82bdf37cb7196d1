// Input bytes for the FASTA reader: read in large blocks from a file or a pipe, and
// decompressed on the fly when the input is gzip (one member or several, as bgzip writes,
// maybe followed by zero bytes up to the end, as tape blocking leaves them).
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "sequence/fasta.h"

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

enum class Outcome { kEnd, kStopped, kError };

// Reads up to n bytes, retrying after a signal; -1 on a read error.
long ReadSome(int fd, char* buf, std::size_t n) {
  for (;;) {
    const ssize_t got = read(fd, buf, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

// Feeds `first` (the bytes already read) and then the rest of fd to the scanner.
Outcome FeedPlain(int fd, std::vector<char>* block, std::size_t first, FastaScanner* scanner) {
  std::size_t n = first;
  for (;;) {
    if (n > 0 && !FastaScannerFeed(scanner, block->data(), n)) return Outcome::kStopped;
    const long got = ReadSome(fd, block->data(), block->size());
    if (got < 0) return Outcome::kError;
    if (got == 0) return Outcome::kEnd;
    n = static_cast<std::size_t>(got);
  }
}

// Padding after the last member: zero bytes, from the unread input in zs up to the end of fd.
// A later nonzero byte makes the whole tail garbage rather than padding.
Outcome SkipZeroPadding(int fd, std::vector<char>* block, const z_stream& zs) {
  const char* p = reinterpret_cast<const char*>(zs.next_in);
  std::size_t n = zs.avail_in;
  for (;;) {
    if (std::any_of(p, p + n, [](char c) { return c != 0; })) return Outcome::kError;
    const long got = ReadSome(fd, block->data(), block->size());
    if (got <= 0) return got == 0 ? Outcome::kEnd : Outcome::kError;
    p = block->data();
    n = static_cast<std::size_t>(got);
  }
}

// Inflates the gzip members of the input and feeds what they hold to the scanner. Input that
// ends inside a member, or that is neither a gzip member nor zero padding where one must
// start, is an error.
Outcome InflateMembers(int fd, std::vector<char>* block, std::size_t first, z_stream* zs,
                       FastaScanner* scanner) {
  std::vector<char> out(kBlock);
  zs->next_in = reinterpret_cast<Bytef*>(block->data());
  zs->avail_in = static_cast<uInt>(first);
  bool in_member = true;
  bool at_end = false;
  for (;;) {
    if (zs->avail_in == 0 && !at_end) {
      const long got = ReadSome(fd, block->data(), block->size());
      if (got < 0) return Outcome::kError;
      at_end = got == 0;
      zs->next_in = reinterpret_cast<Bytef*>(block->data());
      zs->avail_in = static_cast<uInt>(got);
    }
    if (!in_member) {
      if (zs->avail_in == 0 && at_end) return Outcome::kEnd;
      // No member starts with a zero byte, so one here can only begin padding.
      if (*zs->next_in == 0) return SkipZeroPadding(fd, block, *zs);
      if (inflateReset(zs) != Z_OK) return Outcome::kError;
      in_member = true;
    }
    zs->next_out = reinterpret_cast<Bytef*>(out.data());
    zs->avail_out = static_cast<uInt>(out.size());
    const int status = inflate(zs, Z_NO_FLUSH);
    const std::size_t produced = out.size() - zs->avail_out;
    if (produced > 0 && !FastaScannerFeed(scanner, out.data(), produced)) return Outcome::kStopped;
    if (status == Z_STREAM_END) {
      in_member = false;
    } else if (status != Z_OK && !(status == Z_BUF_ERROR && zs->avail_in == 0 && !at_end)) {
      return Outcome::kError;
    }
  }
}

Outcome FeedGzip(int fd, std::vector<char>* block, std::size_t first, FastaScanner* scanner) {
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) return Outcome::kError;  // gzip wrapper only
  const Outcome outcome = InflateMembers(fd, block, first, &zs, scanner);
  inflateEnd(&zs);
  return outcome;
}

}  // namespace

FastaStatus ReadFastaFile(int fd, FastaEntry* entry) {
  *entry = FastaEntry();
  std::vector<char> block(kBlock);
  // A pipe may deliver one byte at a time: read until the two magic bytes can be seen.
  std::size_t first = 0;
  while (first < 2) {
    const long got = ReadSome(fd, block.data() + first, block.size() - first);
    if (got < 0) return FastaStatus::kReadError;
    if (got == 0) break;
    first += static_cast<std::size_t>(got);
  }
  const bool gzip = first >= 2 && static_cast<unsigned char>(block[0]) == 0x1f &&
                    static_cast<unsigned char>(block[1]) == 0x8b;
  // A plain regular file holds at most as many letters as bytes.
  struct stat st;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const std::size_t hint = regular && !gzip ? static_cast<std::size_t>(st.st_size) : 0;
  FastaScanner* scanner = NewFastaScanner(entry, kFastaMaxLetters, hint);
  const Outcome outcome =
      gzip ? FeedGzip(fd, &block, first, scanner) : FeedPlain(fd, &block, first, scanner);
  const FastaStatus status = FastaScannerFinish(scanner);
  if (outcome == Outcome::kError) {
    *entry = FastaEntry();
    return FastaStatus::kReadError;
  }
  return status;
}
