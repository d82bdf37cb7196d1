// The floor of random estimation: makes D draws of the generator (argument 1), inlined in
// this loop as estimation inlines them, and prints their sum so the work cannot be skipped.
#include <cstdio>
#include <cstdlib>

#include "random/generator.h"

using namespace kestra;

int main(int argc, char** argv) {
  const long draws = argc > 1 ? std::atol(argv[1]) : 0;
  RandomGenerator r(1);  // a local state, as the estimation loops keep one
  double sum = 0.0;
  for (long i = 0; i < draws; ++i) sum += Draw(&r, 1.0);
  std::printf("%ld draws, sum %f\n", draws, sum);
  return 0;
}
