#include "random/generator.h"

#include <cstdlib>
#include <ctime>

#include "fatal/fatal.h"

static const char kNotInitialized[] = "\nERROR: RAN1() was not initialized";

Ran1 ran1_refilled(Ran1 g) {
  if (!g.initialized) Fatal(FatalStream::kStdout, kNotInitialized);
  // From a zero state the table fills with zeros: the next draw returns 0 and the one after
  // fills the table again, from 1.
  g.idum = -g.idum > 0 ? -g.idum : 1;
  for (int j = 32 + 7; j >= 0; --j) {
    g.idum = ran1_step(g.idum);
    if (j < 32) g.iv[j] = g.idum;
  }
  g.iy = g.iv[0];
  return g;
}

void init_ran1(Ran1* g, int64_t seed) {
  if (seed != 0) {
    g->idum = seed;
  } else {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (int i = 0; i < 100; ++i) g->idum = std::rand();
  }
  if (g->idum > 0) g->idum = -g->idum;
  g->initialized = true;
  if (g->idum == 0) g->idum = -123456789;
  for (int i = 0; i < 100; ++i) ran1(g, 1000.0);
}
