// The entries of a range of a plain file, read by position: the first is found by the
// reader's own rule (the first '>' of a line at or after the range's start), and the last is
// the last that starts before its end, read on past it as far as it runs.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/blocks.h"
#include "sequence/readers.h"
#include "sequence/reads.h"

namespace kestra {

namespace {

// Why a range of a plain file cannot be read when no system error says why.
constexpr char kFileShrank[] = "file shrank while being read";

// The start of the line that holds `from`, looked for backwards, a little at a time first:
// most lines are short. -1 for a read error, whose reason goes to *problem.
int64_t LineStartBefore(int fd, uint64_t from, char* block, std::size_t size,
                        std::string* problem) {
  uint64_t line = from;
  for (std::size_t step = std::min<std::size_t>(size, 4096); line > 0;
       step = std::min(size, 2 * step)) {
    const uint64_t back = std::min<uint64_t>(line, step);
    const long got = ReadSomeAt(fd, block, back, line - back);
    if (got != static_cast<long>(back)) {
      *problem = got < 0 ? std::strerror(errno) : kFileShrank;
      return -1;
    }
    const void* nl = memrchr(block, '\n', back);
    if (nl != nullptr) {
      return static_cast<int64_t>(line - back +
                                  static_cast<uint64_t>(static_cast<const char*>(nl) - block) + 1);
    }
    line -= back;
  }
  return 0;
}

// The first entry that starts at or after `from` and before `to`, by the reader's own rules:
// an entry starts at the first '>' of a line (the rest of that line is its header, and its
// letters run to the next '>'), so a '>' after another in its line starts none. -1 for none,
// -2 for a read error, whose reason goes to *problem.
int64_t FirstEntryStart(int fd, uint64_t from, uint64_t to, char* block, std::size_t size,
                        std::string* problem) {
  const int64_t line = LineStartBefore(fd, from, block, size, problem);
  if (line < 0) return -2;
  // Line by line: the first '>' of each is where an entry starts. Most entries start soon
  // after `from`: a little is read at a time first.
  bool in_header = false;  // a '>' of this line has been met (before `from`)
  for (uint64_t at = static_cast<uint64_t>(line), step = std::min<std::size_t>(size, 4096); at < to;
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

// The bytes of a range to read next: the rest of the range and a little past it, where most
// entries that start in it end, then, for an entry that runs on, twice as much each time. A
// range is small beside a block, and reading a block for each would read the file many times.
std::size_t RangeReadSize(RangeReader* r) {
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

long NextRangeBlock(void* input, const char** data, std::string* problem) {
  auto* r = static_cast<RangeReader*>(input);
  const long n = ReadSomeAt(r->fd, r->block.get(), RangeReadSize(r), r->offset);
  *data = r->block.get();
  if (n < 0) *problem = std::strerror(errno);
  if (n > 0) {
    r->offset += static_cast<uint64_t>(n);
    r->bytes_read.fetch_add(static_cast<std::size_t>(n), std::memory_order_relaxed);
  }
  return n;
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

uint64_t PartOffset(uint64_t size, int i, int count) {
  return size / count * i + size % count * i / count;
}

RangeReader* OpenRangeReader(int fd, uint64_t from, uint64_t to) {
  auto* r = new RangeReader();
  r->fd = fd;
  r->end = to;
  // A block no larger than the file: a small file costs no MiB.
  struct stat st;
  const uint64_t file_size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : kIoBlock;
  r->block_size =
      static_cast<std::size_t>(std::min<uint64_t>(kIoBlock, std::max<uint64_t>(file_size, 4096)));
  r->block.reset(new char[r->block_size]);
  const int64_t start =
      FirstEntryStart(fd, from, to, r->block.get(), r->block_size, &r->text.problem.reason);
  r->text.failed = start == -2;
  r->offset = start >= 0 ? static_cast<uint64_t>(start) : to;
  r->text.block_start = r->offset;
  r->text.next = NextRangeBlock;
  r->text.input = r;
  return r;
}

bool NextRangeEntry(RangeReader* r, LetterLimit limit, FastaEntry* entry, FastaStatus* status) {
  // A range ends with the last entry that starts before its end; one whose start could not
  // be found fails at once.
  if (!r->text.failed && TextOffset(&r->text) >= r->end) return false;
  return ReadFastaEntry(&r->text, limit, entry, status);
}

}  // namespace kestra
