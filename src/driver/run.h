// The two kinds of run: the first entry of the input alone, and every entry on several
// threads. Each reads the open input, writes the outputs and returns the exit status (a
// fatal condition ends the process with its message).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "driver/outputs.h"
#include "driver/settings.h"

struct RunRequest {
  const Settings* settings;
  std::optional<Failure> settings_failure;  // a switch that could not be read
  int input;                                // the input's file descriptor, read and closed
  RunOutputs* outputs;                      // chosen, not yet opened
  int64_t seed;
  std::time_t start;  // when the run began, for the elapsed time
};

int RunFirstEntry(const RunRequest& r);
int RunAllEntries(const RunRequest& r);
// The last line of a run that succeeded.
void PrintElapsedTime(std::time_t start);
