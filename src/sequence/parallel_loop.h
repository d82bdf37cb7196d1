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
  // The same, and consume(i) on the calling thread for each i in order, once each(i) has
  // returned, while later iterations run on: the caller uses what an iteration made as the
  // others make theirs. Empty: run, then every consume in order.
  std::function<void(int64_t n, const std::function<void(int64_t i)>& each,
                     const std::function<void(int64_t i)>& consume)>
      run_ordered;
};

// Runs the loop's iterations, through loop->run when there is one.
inline void RunLoop(const ParallelLoop* loop, int64_t n, const std::function<void(int64_t)>& each) {
  if (loop != nullptr && loop->run) {
    loop->run(n, each);
    return;
  }
  for (int64_t i = 0; i < n; ++i) each(i);
}

// Runs the loop's iterations and consumes them in order, as run_ordered does.
inline void RunLoopInOrder(const ParallelLoop* loop, int64_t n,
                           const std::function<void(int64_t)>& each,
                           const std::function<void(int64_t)>& consume) {
  if (loop != nullptr && loop->run_ordered) {
    loop->run_ordered(n, each, consume);
    return;
  }
  RunLoop(loop, n, each);
  for (int64_t i = 0; i < n; ++i) consume(i);
}

}  // namespace kestra
