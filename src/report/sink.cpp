#include "report/sink.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstring>

// Bytes gathered before one write to the file.
static constexpr std::size_t kBlock = 1 << 20;

void SinkFlush(TextSink* sink) {
  if (sink->file == nullptr || sink->used == 0) return;
  if (!sink->failed && std::fwrite(sink->buffer.data(), 1, sink->used, sink->file) != sink->used) {
    sink->failed = true;
  }
  sink->used = 0;
}

void SinkMakeRoom(TextSink* sink, std::size_t n) {
  if (sink->file == nullptr && sink->on_full != nullptr) sink->on_full(sink->context);
  SinkFlush(sink);
  const std::size_t need = sink->used + n;
  if (need <= sink->buffer.size()) return;
  const std::size_t grown = sink->file != nullptr ? kBlock : 2 * sink->buffer.size();
  sink->buffer.resize(std::max(need, grown));
}

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

// "00" to "99", for writing two digits at a time.
static const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Number of decimal digits of u: from its bit length, corrected by one comparison.
static int DigitCount(unsigned long long u) {
  static const unsigned long long kPowers[20] = {1ULL,
                                                 10ULL,
                                                 100ULL,
                                                 1000ULL,
                                                 10000ULL,
                                                 100000ULL,
                                                 1000000ULL,
                                                 10000000ULL,
                                                 100000000ULL,
                                                 1000000000ULL,
                                                 10000000000ULL,
                                                 100000000000ULL,
                                                 1000000000000ULL,
                                                 10000000000000ULL,
                                                 100000000000000ULL,
                                                 1000000000000000ULL,
                                                 10000000000000000ULL,
                                                 100000000000000000ULL,
                                                 1000000000000000000ULL,
                                                 10000000000000000000ULL};
  const int bits = 64 - __builtin_clzll(u | 1);
  const int guess = (bits * 1233) >> 12;  // log10(2) is about 1233 / 4096
  const int n = guess + (u >= kPowers[guess] ? 1 : 0);
  return n == 0 ? 1 : n;  // zero has one digit
}

char* FormatInt(char* buf, long long value) {
  unsigned long long u = static_cast<unsigned long long>(value);
  if (value < 0) {
    *buf++ = '-';
    u = 0 - u;
  }
  char* const end = buf + DigitCount(u);
  char* p = end;
  for (; u >= 100; u /= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * (u % 100), 2);
  }
  if (u >= 10) {
    std::memcpy(p - 2, kDigitPairs + 2 * u, 2);
  } else {
    p[-1] = static_cast<char>('0' + u);
  }
  return end;
}

char* FormatSci(char* buf, double value) {
  return std::to_chars(buf, buf + 32, value, std::chars_format::scientific, 6).ptr;
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
