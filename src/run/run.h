// The two kinds of run: the first entry of the input alone, and every entry of it (or of a
// part of it). Each reads the open input, writes the outputs and returns the exit status; a
// fatal condition ends the process with its message.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

#include "command_line/settings.h"
#include "entry/entry.h"
#include "output/outputs.h"
#include "parallel/pipeline.h"
#include "parallel/reading_loop.h"
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
  Significance significance;  // what a survey of the input (and the background) gives
};

// Says on standard error why the input could not be read, when it is known.
void TellReadProblem(const RunRequest& r, const ReadProblem& problem);

// With a background or E-values: the input surveyed whole, and the background file, before
// anything is written; the failure that stops the run (an input that is a pipe, one that
// cannot be read, a background without nucleotides). Nothing is surveyed when the settings
// fail already: the run says so as it always does.
std::optional<Failure> LookAcrossTheInput(const RunRequest& r, Significance* out);
// The line that says which background the entries are analysed with and its frequencies;
// empty without one.
std::string BackgroundLine(const Settings& s, const Significance& significance);

int RunFirstEntry(const RunRequest& r);
int RunAllEntries(const RunRequest& r);

}  // namespace kestra
