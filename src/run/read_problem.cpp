// Why the input could not be read, as the system or the decompressor said it.
#include <cstdio>

#include "command_line/messages.h"
#include "run/run.h"

namespace kestra {

void TellReadProblem(const RunRequest& r, const ReadProblem& problem) {
  if (problem.reason.empty()) return;
  std::fputs(Formatted(kCannotReadPath, r.input_path, problem.reason).c_str(), stderr);
}

}  // namespace kestra
