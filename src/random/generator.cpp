#include "random/generator.h"

namespace kestra {

RandomGenerator Refilled(RandomGenerator g) {
  // From a zero state the table fills with zeros: the next draw returns 0 and the one after
  // fills the table again, from 1.
  g.state = -g.state > 0 ? -g.state : 1;
  for (int j = 32 + 7; j >= 0; --j) {
    g.state = NextState(g.state);
    if (j < 32) g.table[j] = g.state;
  }
  g.last = g.table[0];
  return g;
}

RandomGenerator::RandomGenerator(int64_t seed) : state(seed), last(0), table{} {
  if (state > 0) state = -state;
  if (state == 0) state = -123456789;
  for (int i = 0; i < 100; ++i) Draw(this, 1000.0);
}

}  // namespace kestra
