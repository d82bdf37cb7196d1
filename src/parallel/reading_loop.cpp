#include "parallel/reading_loop.h"

namespace kestra {

ParallelLoop ReadingLoop(Pipeline* pipeline, const uint64_t* job) {
  ParallelLoop loop;
  loop.threads = PipelineThreads(pipeline);
  loop.run = [pipeline, job](int64_t n, const std::function<void(int64_t)>& each) {
    RunPieces(
        pipeline, *job, n, [&each](int64_t i, int) { each(i); }, [](int64_t, int) {});
  };
  loop.run_ordered = [pipeline, job](int64_t n, const std::function<void(int64_t)>& each,
                                     const std::function<void(int64_t)>& consume) {
    RunPieces(
        pipeline, *job, n, [&each](int64_t i, int) { each(i); },
        [&consume](int64_t i, int) { consume(i); });
  };
  return loop;
}

}  // namespace kestra
