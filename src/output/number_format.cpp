#include "output/number_format.h"

#include <charconv>
#include <cstring>

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
