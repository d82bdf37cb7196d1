// The bytes printf's "%lld" and "%e" make of a number, made without printf (a test proves
// them byte for byte the same). The integer formatting is inline: the report formats five
// integers a segment, millions of segments an entry.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestra {

namespace number_format {

extern const char kDigitPairs[201];      // "00" to "99"
extern const uint64_t kPowersOfTen[20];  // 1 to 10^19

// Number of decimal digits of u: from its bit length, corrected by one comparison.
inline int DigitCount(uint64_t u) {
  const int bits = 64 - __builtin_clzll(u | 1);
  const int guess = (bits * 1233) >> 12;  // log10(2) is about 1233 / 4096
  const int n = guess + (u >= kPowersOfTen[guess] ? 1 : 0);
  return n == 0 ? 1 : n;  // zero has one digit
}

// Writes the digits of u backwards from `end`, two at a time.
template <typename Unsigned>
inline void WriteDigits(char* end, Unsigned u) {
  for (; u >= 100; u /= 100) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * (u % 100), 2);
  }
  if (u >= 10) {
    std::memcpy(end - 2, kDigitPairs + 2 * u, 2);
  } else {
    end[-1] = static_cast<char>('0' + u);
  }
}

}  // namespace number_format

// Each writes at buf, returns the end of what it wrote, and may use up to 32 bytes of buf.
inline char* FormatInt(char* buf, long long value) {
  uint64_t u = static_cast<uint64_t>(value);
  if (value < 0) {
    *buf++ = '-';
    u = 0 - u;
  }
  char* const end = buf + number_format::DigitCount(u);
  // Positions and counts fit 32 bits, where dividing is cheaper.
  if (u <= UINT32_MAX) {
    number_format::WriteDigits(end, static_cast<uint32_t>(u));
  } else {
    number_format::WriteDigits(end, u);
  }
  return end;
}
char* FormatSci(char* buf, double value);

// A whole number (0 or more) kept in decimal as it grows by small steps: the index of a
// segment line counts up by one, its start and end by a few positions. A step of less than
// 100 touches the last two digits and, now and then, a carry.
struct DecimalCounter {
  char digits[24];  // of a value of 10 or more, the last two are those of `low`, not these
  int size;
  uint64_t value;
  uint32_t low;  // value % 100
};
inline void StartCounter(DecimalCounter* c, uint64_t value) {
  c->value = value;
  c->low = static_cast<uint32_t>(value % 100);
  c->size = static_cast<int>(FormatInt(c->digits, static_cast<long long>(value)) - c->digits);
}
// Adds one to the digits before the last two.
inline void CarryPastLastTwo(DecimalCounter* c) {
  int i = c->size - 3;
  for (; i >= 0 && c->digits[i] == '9'; --i) c->digits[i] = '0';
  if (i >= 0) {
    ++c->digits[i];
    return;
  }
  std::memmove(c->digits + 1, c->digits, static_cast<std::size_t>(c->size));
  c->digits[0] = '1';
  ++c->size;
}
// The last two digits live in `low` alone: they change at every step, and digits written
// just before being read back would stall the read.
inline void AdvanceCounter(DecimalCounter* c, uint64_t step) {
  if (step >= 100 || c->value < 10) {
    StartCounter(c, c->value + step);
    return;
  }
  c->value += step;
  c->low += static_cast<uint32_t>(step);
  if (c->low >= 100) {
    c->low -= 100;
    CarryPastLastTwo(c);
  }
}
inline void CountUp(DecimalCounter* c) { AdvanceCounter(c, 1); }
// Writes the counter's digits at `at`, which has room for 24 bytes; returns their end.
inline char* WriteCounter(char* at, const DecimalCounter& c) {
  std::memcpy(at, c.digits, sizeof c.digits);  // a fixed size: no call
  char* const end = at + c.size;
  if (c.value >= 10) std::memcpy(end - 2, number_format::kDigitPairs + 2 * c.low, 2);
  return end;
}

}  // namespace kestra
