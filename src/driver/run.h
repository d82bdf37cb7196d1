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

// How a run groups its work, what an entry keeps in memory while it waits for its turn to
// write, and how many cores it may use. A run has no switch for them; the tests and the
// benchmarks set them through the environment, KESTRA_TEST_LIMITS=key=value,... with the
// keys entries, letters, waiting, range, piece and cores (say "entries=1,waiting=64,cores=64"),
// so that many jobs and pieces are in flight at once, or more threads than cores run.
struct RunLimits {
  std::size_t job_entries = 4096;                  // entries a job read from a stream holds at most
  std::size_t job_letters = std::size_t{4} << 20;  // a job is handed out once it holds these
  std::size_t waiting = std::size_t{2} << 20;      // bytes a sink keeps before its writer waits
  uint64_t chunk = uint64_t{1} << 20;              // bytes of a plain file's range
  int64_t stretch = 0;                             // cells of an entry's piece; 0: the default
  int cores = 0;                                   // cores the threads may use; 0: the machine's
};
RunLimits RunLimitsFromEnvironment();
// The threads a run starts for --threads N: no more than the cores it may use, since more
// would only take turns on them.
int UsableThreads(int requested, const RunLimits& limits);

int RunFirstEntry(const RunRequest& r);
int RunAllEntries(const RunRequest& r);
// The last line of a run that succeeded.
void PrintElapsedTime(std::time_t start);
