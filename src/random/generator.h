// The run's one source of random numbers: a multiplicative congruential generator
// (multiplier 16807, modulus 2^31 - 1) behind a 32-entry shuffle table.
#pragma once

#include <cstdint>

// Seeds the generator; a seed of 0 derives one from the clock. Seeds s and -s give the same
// stream. Draws 100 values (scale 1000) before returning.
void init_ran1(int64_t seed);
// One uniform draw in (0, 1) multiplied by x; ends the run when the generator is not seeded.
double ran1(double x);
