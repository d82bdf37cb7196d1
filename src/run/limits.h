// How a run cuts its work and how many cores it may use: the one place where the tests and
// the benchmarks reach into a run, through the environment. A run has no switch for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sequence/fasta.h"

namespace kestra {

struct RunLimits {
  std::size_t job_entries = 4096;                  // entries a job read from a stream holds at most
  std::size_t job_letters = std::size_t{4} << 20;  // a job is handed out once it holds these
  std::size_t waiting = std::size_t{2} << 20;      // bytes a job's output keeps before its turn
  uint64_t range = uint64_t{256} << 10;            // bytes of a plain file's range
  int64_t piece = 0;                               // cells of a piece of an entry; 0: the default
  int cores = 0;                                   // cores the threads may use; 0: the machine's
  std::size_t max_letters = kFastaMaxLetters;      // an entry of this many letters is too long
  bool times = false;  // say, at the end, the time spent reading, writing and waiting
};

// The defaults, changed by KESTRA_TEST_LIMITS=key=value,... with the keys entries, letters,
// waiting, range, piece (rounded up to a multiple of the piece quantum), cores and length
// (max_letters, at most the default), say "entries=1,waiting=64,range=200,piece=320,cores=64":
// many jobs and pieces in flight at once, or more threads than cores, or "length=1000": an
// entry too long to analyse without gigabytes of it; and KESTRA_TIMES=1, for the benchmarks.
RunLimits RunLimitsFromEnvironment();
// The threads a run starts for --threads N: no more than the cores it may use, since more
// would only take turns on them.
int UsableThreads(int requested, const RunLimits& limits);

}  // namespace kestra
