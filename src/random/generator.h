// The source of random numbers: a multiplicative congruential generator (multiplier 16807,
// modulus 2^31 - 1) behind a 32-entry shuffle table. Each analysis owns its own, seeded when
// it is made, so that entries analysed on several threads draw independently; the draw is
// inline where estimation consumes it.
#pragma once

#include <cstdint>

namespace kestra {

// The seeds with a stream of their own: the state lives in 1..2^31-2, a seed and its negative
// give the same stream, and any other value folds onto one of these (2^31 - 1 onto a zero
// state that restarts from 1).
constexpr int64_t kLargestSeed = 2147483646;

struct RandomGenerator {
  // Seeds the generator and draws 100 values (scale 1000) before returning: the first draw
  // the caller makes is the 101st of the stream. A seed of 0 takes 123456789.
  explicit RandomGenerator(int64_t seed);
  int64_t state;      // the congruential state
  int64_t last;       // the last output; it picks the table entry of the next one
  int64_t table[32];  // the shuffle table
};

// The generator with its table filled, as the first draw after seeding or a zero state
// needs it. Taken and given by value, so that a loop's generator never has its address
// taken and stays in registers.
RandomGenerator Refilled(RandomGenerator g);

// 16807 * s mod (2^31 - 1) without overflow (Schrage's factorisation).
inline int64_t NextState(int64_t s) {
  const int64_t k = s / 127773;
  const int64_t next = 16807 * (s - k * 127773) - 2836 * k;
  return next < 0 ? next + 2147483647 : next;
}

// The draw from a filled table: step the state, swap it into the table for the entry the
// last output picks, and hand out that entry.
inline double DrawFromTable(RandomGenerator* g, double scale) {
  g->state = NextState(g->state);
  const int j = static_cast<int>(g->last / (1 + 2147483646 / 32));
  const int64_t out = g->table[j];
  g->table[j] = g->state;
  g->last = out;
  double u = static_cast<double>(out) * (1.0 / 2147483647);
  if (u > 0.9999999999999998) u = 0.9999999999999998;
  return u * scale;
}

// One uniform draw in (0, 1) multiplied by `scale`.
inline double Draw(RandomGenerator* g, double scale) {
  if (__builtin_expect(g->state <= 0 || g->last == 0, 0)) *g = Refilled(*g);
  return DrawFromTable(g, scale);
}

}  // namespace kestra
