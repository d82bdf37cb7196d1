#include "output/text_sink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "base/blocks.h"
#include "base/pages.h"
#include "output/compressed.h"
#include "output/time_spent.h"

namespace kestra {

// Writes all n bytes, retrying after a signal and after a short write.
static bool WriteAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t put = write(fd, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

// Writes n bytes to the destination unless a write to it has failed: after that nothing
// more is tried, as the file is incomplete whatever follows.
static void WriteTo(FileDestination* to, const char* data, std::size_t n) {
  if (to->failed) return;
  TimeSpent<uint64_t> writing(&to->writing_ns);
  errno = 0;
  if (to->compressor != nullptr) {
    WriteCompressed(to, data, n);
  } else if (!WriteAll(to->fd, data, n)) {
    to->failed = true;
    to->error = errno != 0 ? errno : EIO;
  }
}

void SinkFlush(TextSink* sink) {
  if (sink->to == nullptr || sink->used == 0) return;
  WriteTo(sink->to, sink->buffer.data(), sink->used);
  sink->used = 0;
}

void SinkMakeRoom(TextSink* sink, std::size_t n) {
  SinkFlush(sink);
  const std::size_t need = sink->used + n;
  // A sink that writes to a file writes a block at a time, whatever its buffer had grown to
  // while it held its text in memory.
  const bool small_block = sink->to != nullptr && sink->buffer.size() < kIoBlock;
  if (need <= sink->buffer.size() && !small_block) return;
  if (small_block) {
    sink->buffer.resize(std::max(need, kIoBlock));
    return;
  }
  // It doubles, within the room reserved without moving; memory is touched only as it is
  // needed, as fresh memory costs as it is first touched.
  const std::size_t grown = sink->to != nullptr ? kIoBlock : 2 * sink->buffer.size();
  const std::size_t room = sink->buffer.capacity();
  sink->buffer.resize(std::max(need, need <= room ? std::min(grown, room) : grown));
}

void SinkWriteBlock(TextSink* sink, const char* data, std::size_t n) {
  if (sink->to == nullptr || n < kIoBlock / 4) {
    SinkWrite(sink, data, n);
    return;
  }
  SinkFlush(sink);
  WriteTo(sink->to, data, n);
}

void SinkWrite(TextSink* sink, const std::string& text) {
  SinkWrite(sink, text.data(), text.size());
}

void SinkPrintf(TextSink* sink, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return;  // no conversion here can fail
  if (static_cast<std::size_t>(n) < sizeof buf) {
    SinkWrite(sink, buf, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&big[0], big.size(), format, args);
  va_end(args);
  SinkWrite(sink, big.data(), static_cast<std::size_t>(n));
}

void WriteWrapped(TextSink* sink, const char* letters, long n, int width) {
  // One line is written a block at a time, and ended by the block that ends the letters.
  const long step = width > 0 ? width : long{1} << 16;
  for (long i = 0; i < n; i += step) {
    const long line = std::min<long>(n - i, step);
    const bool ends_line = width > 0 || i + line == n;
    char* at = SinkReserve(sink, static_cast<std::size_t>(line) + 1);
    std::memcpy(at, letters + i, static_cast<std::size_t>(line));
    at[line] = '\n';
    SinkCommit(sink, at + line + (ends_line ? 1 : 0));
  }
}

void SinkReserveCapacity(TextSink* sink, std::size_t n) {
  sink->buffer.reserve(n);
  AdviseHugePages(sink->buffer.data(), sink->buffer.capacity());
}

std::string SinkText(const TextSink& sink) { return sink.buffer.substr(0, sink.used); }

bool CloseDestination(FileDestination* file) {
  if (file->fd < 0) return !file->failed;
  if (close(file->fd) != 0 && !file->failed) {
    file->failed = true;
    file->error = errno;
  }
  file->fd = -1;
  return !file->failed;
}

}  // namespace kestra
