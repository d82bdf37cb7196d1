// Buffered text output written to a file in large blocks, or kept in memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

struct TextSink {
  std::FILE* file = nullptr;  // nullptr keeps everything in memory
  std::string buffer;         // its first `used` bytes are not yet written to `file`
  std::size_t used = 0;
  bool failed = false;  // a write to `file` failed
  // A sink in memory whose buffer is full calls on_full(context) before it grows, which may
  // give it a file to write on to (once its turn to write has come, say).
  void (*on_full)(void* context) = nullptr;
  void* context = nullptr;
};

// Makes room for n more bytes: writes the buffer to the file, or grows it in memory.
void SinkMakeRoom(TextSink* sink, std::size_t n);

inline void SinkWrite(TextSink* sink, const char* data, std::size_t n) {
  if (sink->used + n > sink->buffer.size()) SinkMakeRoom(sink, n);
  if (n > 0) std::memcpy(&sink->buffer[sink->used], data, n);
  sink->used += n;
}
inline void SinkPut(TextSink* sink, char c) { SinkWrite(sink, &c, 1); }
// What a sink without a file holds.
inline std::string SinkText(const TextSink& sink) { return sink.buffer.substr(0, sink.used); }
void SinkPrintf(TextSink* sink, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The bytes "%d" and "%e" (six digits after the point) print for value; they return the end
// of what they wrote and may use up to 32 bytes of buf.
char* FormatInt(char* buf, long long value);
char* FormatSci(char* buf, double value);
// Writes the first n characters of data, a newline after every width-th character and one
// more after a last, shorter line; nothing when n <= 0.
void form_out_l(TextSink* sink, const char* data, long n, int width);
// Hands the buffered bytes to the file.
void SinkFlush(TextSink* sink);
// Writes the buffered bytes and closes the file; true when every byte reached it.
bool SinkClose(TextSink* sink);
