#include "sequence/job_reading.h"

#include <algorithm>

namespace kestra {

RangeCut NextJobRange(int fd, uint64_t all_from, uint64_t all_to, uint64_t from, uint64_t size,
                      bool at_entry_starts, std::vector<char>* block, uint64_t* range_from,
                      uint64_t* range_to, ReadProblem* problem) {
  if (from >= all_to) return RangeCut::kNone;
  *range_from = from;
  *range_to = std::min(all_to, from + size);
  if (!at_entry_starts) return RangeCut::kCut;
  const int64_t start = from == all_from ? NextEntryStart(fd, all_from, all_to, block, problem)
                                         : static_cast<int64_t>(from);
  if (start == -2) return RangeCut::kFailed;
  if (start < 0) return RangeCut::kNone;
  *range_from = static_cast<uint64_t>(start);
  const int64_t next = *range_from + size >= all_to
                           ? -1
                           : NextEntryStart(fd, *range_from + size, all_to, block, problem);
  *range_to = next >= 0 ? static_cast<uint64_t>(next) : all_to;
  return next == -2 ? RangeCut::kFailed : RangeCut::kCut;
}

bool ReadJobEntries(FastaReader* reader, std::size_t most_entries, std::size_t most_letters,
                    std::vector<FastaEntry>* entries, std::vector<FastaStatus>* statuses,
                    std::size_t* count) {
  std::size_t letters = 0;
  while (*count < most_entries && letters < most_letters) {
    if (entries->size() == *count) {
      entries->emplace_back();
      statuses->emplace_back();
    }
    FastaEntry& entry = (*entries)[*count];
    FastaStatus& status = (*statuses)[*count];
    if (!NextFastaEntry(reader, &entry, &status)) break;
    if (status == FastaStatus::kReadError) return false;
    letters += entry.letters.size();
    ++*count;
  }
  return true;
}

void NoteReadFailure(EarliestReadFailure* f, uint64_t job, const ReadProblem& problem) {
  std::lock_guard<std::mutex> hold(f->lock);
  f->failed = true;
  if (job >= f->job) return;
  f->job = job;
  f->problem = problem;
}

bool AfterReadFailure(EarliestReadFailure* f, uint64_t job) {
  std::lock_guard<std::mutex> hold(f->lock);
  return job > f->job;
}

}  // namespace kestra
