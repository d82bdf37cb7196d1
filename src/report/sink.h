// Buffered text output written to a file in large blocks, or kept in memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct TextSink {
  std::FILE* file = nullptr;  // nullptr keeps everything in `pending`
  std::string pending;        // bytes not yet written to `file`
  bool failed = false;        // a write to `file` failed
};

void SinkWrite(TextSink* sink, const char* data, std::size_t n);
void SinkPut(TextSink* sink, char c);
void SinkPrintf(TextSink* sink, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// The bytes "%d" prints for value.
void SinkInt(TextSink* sink, long long value);
// The bytes "%e" prints for value (six digits after the point).
void SinkSci(TextSink* sink, double value);
// Formatters behind SinkInt and SinkSci; return the end of what they wrote (at most 32 bytes).
char* FormatInt(char* buf, long long value);
char* FormatSci(char* buf, double value);
// Writes the first n characters of data, a newline after every width-th character and one
// more after a last, shorter line; nothing when n <= 0.
void form_out_l(TextSink* sink, const char* data, long n, int width);
// Hands what is pending to the file.
void SinkFlush(TextSink* sink);
// Writes what is pending and closes the file; true when every byte reached it.
bool SinkClose(TextSink* sink);
