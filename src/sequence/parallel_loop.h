// A loop whose iterations the caller may run on several threads: the reader inflates the
// blocks of a block-compressed input through it. The reader knows nothing of threads; the
// run hands it one that runs the iterations on its pipeline.
#pragma once

#include <cstdint>
#include <functional>

namespace kestra {

struct ParallelLoop {
  // Threads the loop may use, 1 or more: a hint for how much work to hand it at once.
  int threads = 1;
  // Runs each(i) for every i in [0, n), in any order and on any thread, and returns once
  // all have returned. Empty: the reader runs them itself, in order.
  std::function<void(int64_t n, const std::function<void(int64_t i)>& each)> run;
};

// Runs the loop's iterations, through loop->run when there is one.
inline void RunLoop(const ParallelLoop* loop, int64_t n, const std::function<void(int64_t)>& each) {
  if (loop != nullptr && loop->run) {
    loop->run(n, each);
    return;
  }
  for (int64_t i = 0; i < n; ++i) each(i);
}

}  // namespace kestra
