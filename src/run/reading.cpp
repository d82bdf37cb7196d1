// What the runs share about reading the input: why it could not be read.
#include <cstdio>

#include "command_line/messages.h"
#include "run/run.h"

namespace kestra {

void TellReadProblem(const RunRequest& r, const ReadProblem& problem) {
  if (problem.reason.empty()) return;
  std::fputs(Formatted(kCannotReadPath, r.input_path, problem.reason).c_str(), stderr);
}

}  // namespace kestra
