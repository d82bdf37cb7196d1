// A source of random numbers: a multiplicative congruential generator (multiplier 16807,
// modulus 2^31 - 1) behind a 32-entry shuffle table. Each analysis owns its own, so the
// draw is inline where estimation consumes it.
#pragma once

#include <cstdint>

// The seeds with a stream of their own: the state lives in 1..2^31-2, a seed and its negative
// give the same stream, and any other value folds onto one of these (2^31 - 1 onto a zero
// state that restarts from 1).
constexpr int64_t kLargestSeed = 2147483646;

struct Ran1 {
  int64_t idum = 0;     // the congruential state
  int64_t iy = 0;       // the last output
  int64_t iv[32] = {};  // the shuffle table
  bool initialized = false;
};

// Seeds the generator; a seed of 0 derives one from the clock. Seeds s and -s give the same
// stream. Draws 100 values (scale 1000) before returning.
void init_ran1(Ran1* g, int64_t seed);
// The generator with its table filled, as the first draw after seeding or a zero state
// needs it; a generator never seeded ends the run through the fatal path. Taken and given
// by value, so that a loop's generator never has its address taken and stays in registers.
Ran1 ran1_refilled(Ran1 g);

// 16807 * s mod (2^31 - 1) without overflow (Schrage's factorisation).
inline int64_t ran1_step(int64_t s) {
  const int64_t k = s / 127773;
  const int64_t next = 16807 * (s - k * 127773) - 2836 * k;
  return next < 0 ? next + 2147483647 : next;
}

// The draw from a filled table: step the state, swap it into the table for the entry the
// last output picks, and hand out that entry.
inline double ran1_draw(Ran1* g, double x) {
  g->idum = ran1_step(g->idum);
  const int j = static_cast<int>(g->iy / (1 + 2147483646 / 32));
  const int64_t out = g->iv[j];
  g->iv[j] = g->idum;
  g->iy = out;
  double u = static_cast<double>(out) * (1.0 / 2147483647);
  if (u > 0.9999999999999998) u = 0.9999999999999998;
  return u * x;
}

// One uniform draw in (0, 1) multiplied by x.
inline double ran1(Ran1* g, double x) {
  // An unseeded generator has a zero state too, so one test covers both slow cases.
  if (__builtin_expect(g->idum <= 0 || g->iy == 0, 0)) *g = ran1_refilled(*g);
  return ran1_draw(g, x);
}
