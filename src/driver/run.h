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

// How a run groups its work, and what an entry keeps in memory while it waits for its turn
// to write. The tests set small ones (KESTRA_TEST_JOB_LIMITS=entries,letters,waiting[,chunk
// [,stretch]]) so that many jobs and stretches are in flight at once; a run has no switch
// for them.
struct RunLimits {
  std::size_t job_entries = 4096;                  // entries a job read from a stream holds at most
  std::size_t job_letters = std::size_t{4} << 20;  // a job is handed out once it holds these
  std::size_t waiting = std::size_t{2} << 20;      // bytes a sink keeps before its writer waits
  uint64_t chunk = uint64_t{1} << 20;              // bytes of a plain file's stretch
  int64_t stretch = 0;                             // cells of an entry's stretch; 0: the default
};
RunLimits RunLimitsFromEnvironment();

int RunFirstEntry(const RunRequest& r);
int RunAllEntries(const RunRequest& r);
// The last line of a run that succeeded.
void PrintElapsedTime(std::time_t start);
