// Text gathered in a buffer and written to a file in large blocks, or kept in memory until
// it is given a file to go to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace kestra {

// A file the sinks write to with write(2); `failed` once a write to it has failed. Its
// writers take turns, and count the time they spend in write(2).
struct FileDestination {
  int fd = -1;
  bool failed = false;
  int error = 0;               // errno of the write or close that failed
  void* compressor = nullptr;  // set: what is written is compressed (output/compressed.h)
  int compressor_fd = -1;      // the compressor's own descriptor of the file
  uint64_t writing_ns = 0;
};

struct TextSink {
  std::string buffer;  // its first `used` bytes are not yet written
  std::size_t used = 0;
  FileDestination* to = nullptr;  // none: the bytes stay in memory
};

// Makes room for n more bytes: writes the buffer to the destination, or grows it in memory.
void SinkMakeRoom(TextSink* sink, std::size_t n);
// Room for n bytes at the end of the buffer, to be formatted in place and then counted with
// SinkCommit.
inline char* SinkReserve(TextSink* sink, std::size_t n) {
  if (sink->used + n > sink->buffer.size()) SinkMakeRoom(sink, n);
  return &sink->buffer[sink->used];
}
inline void SinkCommit(TextSink* sink, const char* end) {
  sink->used = static_cast<std::size_t>(end - sink->buffer.data());
}
inline void SinkWrite(TextSink* sink, const char* data, std::size_t n) {
  char* at = SinkReserve(sink, n);
  if (n > 0) std::memcpy(at, data, n);
  sink->used += n;
}
inline void SinkPut(TextSink* sink, char c) { SinkWrite(sink, &c, 1); }
void SinkWrite(TextSink* sink, const std::string& text);
// Writes a large block: straight to the destination, without a copy, when there is one.
void SinkWriteBlock(TextSink* sink, const char* data, std::size_t n);
void SinkPrintf(TextSink* sink, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Writes the first n characters of `letters`, a newline after every width-th one and one more
// after a last, shorter line (a width of 0: one line); nothing when n <= 0.
void WriteWrapped(TextSink* sink, const char* letters, long n, int width);
// Keeps room for n bytes in memory, untouched until used, so that a sink filling up to that
// size never moves its bytes.
void SinkReserveCapacity(TextSink* sink, std::size_t n);
// What a sink without a destination holds.
std::string SinkText(const TextSink& sink);
// Hands the buffered bytes to the destination, if there is one.
void SinkFlush(TextSink* sink);
// Flushes and closes a destination: true when every byte written to it reached the file.
bool CloseDestination(FileDestination* file);

}  // namespace kestra
