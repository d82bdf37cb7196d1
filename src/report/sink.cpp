#include "report/sink.h"

#include <charconv>
#include <cstdarg>

// Bytes gathered before one write to the file.
static constexpr std::size_t kBlock = 1 << 20;

void SinkFlush(TextSink* sink) {
  if (sink->file == nullptr || sink->pending.empty()) return;
  if (!sink->failed &&
      std::fwrite(sink->pending.data(), 1, sink->pending.size(), sink->file) !=
          sink->pending.size()) {
    sink->failed = true;
  }
  sink->pending.clear();
}

void SinkWrite(TextSink* sink, const char* data, std::size_t n) {
  sink->pending.append(data, n);
  if (sink->pending.size() >= kBlock) SinkFlush(sink);
}

void SinkPut(TextSink* sink, char c) { SinkWrite(sink, &c, 1); }

void SinkPrintf(TextSink* sink, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) {
    sink->failed = true;
    return;
  }
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

char* FormatInt(char* buf, long long value) {
  return std::to_chars(buf, buf + 32, value).ptr;
}

char* FormatSci(char* buf, double value) {
  return std::to_chars(buf, buf + 32, value, std::chars_format::scientific, 6).ptr;
}

void SinkInt(TextSink* sink, long long value) {
  char buf[32];
  SinkWrite(sink, buf, static_cast<std::size_t>(FormatInt(buf, value) - buf));
}

void SinkSci(TextSink* sink, double value) {
  char buf[32];
  SinkWrite(sink, buf, static_cast<std::size_t>(FormatSci(buf, value) - buf));
}

void form_out_l(TextSink* sink, const char* data, long n, int width) {
  if (n <= 0) return;
  for (long i = 0; i < n; i += width) {
    const long line = n - i < width ? n - i : width;
    SinkWrite(sink, data + i, static_cast<std::size_t>(line));
    SinkPut(sink, '\n');
  }
}

bool SinkClose(TextSink* sink) {
  SinkFlush(sink);
  if (sink->file == nullptr) return !sink->failed;
  if (std::fflush(sink->file) != 0 || std::ferror(sink->file)) sink->failed = true;
  if (std::fclose(sink->file) != 0) sink->failed = true;
  sink->file = nullptr;
  return !sink->failed;
}
