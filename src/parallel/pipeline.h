// Three steps for the jobs of a run: read (one job at a time, in input order), analyse (many
// jobs at once, on every thread) and write (one job at a time, in input order), with a bounded
// number of jobs in flight; and loops nested in a job, whose pieces run on every thread and are
// consumed in order by the job's thread.
//
// One queue holds every task: reading a job, analysing a job, a piece of a loop. A thread
// takes the task that comes first in the order of writing: the job's number, then reading
// before analysing before pieces, then the piece's index. Hand-off between steps blocks on one
// condition variable; nothing polls.
//
// Why it cannot deadlock. A thread waits in two places only: in TakeTurn, which its analysis
// calls between entries or in a consume of its own loop (never in a piece), for the jobs before
// its own to be written; and in RunPieces, for a piece of its own loop. While it waits it runs
// pieces, of its own job or an earlier one, and nothing else; a piece never waits. So a thread
// that waits holds one job, and the earliest job not yet written always moves: its thread
// never waits for its turn (it has it), and the pieces it waits for are in the queue (it runs
// them itself) or in the hands of threads that run them to the end without waiting. Its write
// then passes the turn on, and the next job is the earliest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kestra {

struct Pipeline;  // the threads and their queue

// Starts `threads` threads in all: the caller of RunPipeline and threads - 1 more, which wait
// for tasks until the pipeline stops.
Pipeline* StartPipeline(int threads);
// Ends the other threads and frees the pipeline.
void StopPipeline(Pipeline* p);
int PipelineThreads(const Pipeline* p);

struct PipelineSteps {
  // Jobs read and not yet written, at most: job k lives in slot k % slots from its read to
  // the end of its write.
  std::size_t slots = 1;
  // Reads job k into its slot; false when there is no job k (and none after it).
  std::function<bool(uint64_t job, std::size_t slot)> read;
  std::function<void(uint64_t job, std::size_t slot)> analyse;
  std::function<void(uint64_t job, std::size_t slot)> write;
};

// Jobs in flight on `threads` threads: one for each thread to analyse, one being read, and as
// many finished before their turn.
inline std::size_t JobsInFlight(int threads) { return 2 * static_cast<std::size_t>(threads) + 2; }

// The read and analyse steps of a run whose jobs live in `slots`: each reads or analyses the
// job in the slot it is given (the write step is the run's own).
template <class Run, class Slot>
PipelineSteps StepsOverSlots(Run* run, std::vector<Slot>* slots,
                             bool (*read)(Run*, uint64_t, Slot*),
                             void (*analyse)(Run*, uint64_t, Slot*)) {
  PipelineSteps steps;
  steps.slots = slots->size();
  steps.read = [run, slots, read](uint64_t job, std::size_t slot) {
    return read(run, job, &(*slots)[slot]);
  };
  steps.analyse = [run, slots, analyse](uint64_t job, std::size_t slot) {
    analyse(run, job, &(*slots)[slot]);
  };
  return steps;
}

// Runs the steps over every job the input holds, on the pipeline's threads and this one;
// returns once every job read is written. A step that throws stops the run: no task is
// begun after it, the other jobs in hand unwind from their waits, and the first exception is
// thrown again here, once every thread has let go of the steps.
void RunPipeline(Pipeline* p, const PipelineSteps& steps);

// Whether every job before `job` is written (its write may then begin at once).
bool HasTurn(Pipeline* p, uint64_t job);
// Called by analyse(job), outside any piece: waits until every job before `job` is written,
// running their pieces meanwhile. From then on the job may write as it goes, and no later job
// writes before its write step ends. Returns at once for a job whose turn has come.
void TakeTurn(Pipeline* p, uint64_t job);

// A loop nested in a step of `job`: piece(i, buffer) for i in [0, n) runs on any thread,
// consume(i, buffer) on this one, in order of i, each after its piece. `buffer` is the index
// of one of PieceBuffers(p) buffers the caller keeps, which no other piece uses until the
// piece is consumed. Without a pipeline, or with one thread, or with one piece, this thread
// runs piece and consume in turn, with buffer kInOrder: the piece may write straight where
// its consume would put it.
constexpr int kInOrder = -1;
using PieceStep = std::function<void(int64_t piece, int buffer)>;
void RunPieces(Pipeline* p, uint64_t job, int64_t n, const PieceStep& piece,
               const PieceStep& consume);
// The buffers RunPieces hands out: one a thread, for the loop it runs, and threads + 2 that
// loops share.
int PieceBuffers(const Pipeline* p);

// The lane of the calling thread, for scratch a piece keeps from one piece to the next: one of
// Lanes(p), its own for each thread, and another for the pieces a thread runs while it waits
// (the piece it waits in may hold its scratch). 0 for the thread that runs RunPipeline and
// for any thread outside a pipeline.
int Lane();
int Lanes(const Pipeline* p);

// Nanoseconds the threads have spent waiting, for work or for their turn, in all runs.
uint64_t IdleNanoseconds(const Pipeline* p);

}  // namespace kestra
