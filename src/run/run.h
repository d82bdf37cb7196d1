// The two kinds of run: the first entry of the input alone, and every entry of it (or of a
// part of it). Each reads the open input, writes the outputs and returns the exit status; a
// fatal condition ends the process with its message.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

#include "command_line/settings.h"
#include "parallel/pipeline.h"
#include "process/outputs.h"
#include "run/limits.h"
#include "sequence/fasta.h"

namespace kestra {

struct RunRequest {
  const Settings* settings;
  std::optional<Failure> settings_failure;  // a switch that could not be read
  int input;                                // the input's file descriptor, read and closed
  const char* input_path;                   // as given, for messages
  RunOutputs* outputs;                      // chosen, not yet opened
  int64_t seed;
  std::time_t start;  // when the run began, for the elapsed time
  RunLimits limits;
};

// A loop for the reader whose iterations run as pieces of the job *job on the pipeline's
// threads (the job that reads when the loop runs).
ParallelLoop ReadingLoop(Pipeline* pipeline, const uint64_t* job);
// Says on standard error why the input could not be read, when it is known.
void TellReadProblem(const RunRequest& r, const ReadProblem& problem);

int RunFirstEntry(const RunRequest& r);
int RunAllEntries(const RunRequest& r);

}  // namespace kestra
