// What one reading job of a run takes from its input: the next range of a plain file's bytes,
// or the entries a stream gives up to a job's size. The command's runs and the library's
// reading cut their jobs alike.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sequence/fasta.h"

namespace kestra {

enum class RangeCut { kNone, kCut, kFailed };

// The next range of the bytes [all_from, all_to) of the plain file fd, beginning at `from` at
// the least and `size` bytes long. Cut at entry starts (when the ranges are read on several
// threads), it begins where an entry begins (the first, at the first entry's start) and ends
// where the first entry after its size begins. kNone when no range is left; kFailed when the
// file cannot be read (*problem says why; *range holds what was cut before).
RangeCut NextJobRange(int fd, uint64_t all_from, uint64_t all_to, uint64_t from, uint64_t size,
                      bool at_entry_starts, std::vector<char>* block, uint64_t* range_from,
                      uint64_t* range_to, ReadProblem* problem);

// Reads entries from `reader` into entries[0..), with their statuses, until *count reaches
// `most_entries` or their letters `most_letters`, or the input ends. False when the input
// cannot be read: the entries before stay counted.
bool ReadJobEntries(FastaReader* reader, std::size_t most_entries, std::size_t most_letters,
                    std::vector<FastaEntry>* entries, std::vector<FastaStatus>* statuses,
                    std::size_t* count);

// The earliest job whose input could not be read, and why: jobs are read on several threads
// (the ranges of a plain file by the threads that analyse them), and the reason told is that
// of the first in input order.
struct EarliestReadFailure {
  std::atomic<bool> failed{false};
  std::mutex lock;
  uint64_t job = UINT64_MAX;
  ReadProblem problem;
};

// Notes that job `job` could not be read, for `problem`.
void NoteReadFailure(EarliestReadFailure* f, uint64_t job, const ReadProblem& problem);
// Whether `job` comes after the earliest job that could not be read.
bool AfterReadFailure(EarliestReadFailure* f, uint64_t job);

}  // namespace kestra
