// What the runs share about reading the input: the loop that inflates its blocks on the
// pipeline's threads, and why it could not be read.
#include <cstdio>

#include "command_line/messages.h"
#include "run/run.h"

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

void TellReadProblem(const RunRequest& r, const ReadProblem& problem) {
  if (problem.reason.empty()) return;
  std::fputs(Formatted(kCannotReadPath, r.input_path, problem.reason).c_str(), stderr);
}

}  // namespace kestra
