#include "parallel/pipeline.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace kestra {
namespace {

thread_local int g_lane = 0;          // the thread's number: 0 .. threads - 1
thread_local int g_waiting_lane = 0;  // its lane for the pieces it runs while it waits
thread_local bool g_in_wait = false;

// Thrown out of a wait once the run has halted, to unwind the job that waited; not an error
// of its own.
struct Stopped {};

enum TaskKind : int { kRead = 0, kAnalyse = 1, kPiece = 2 };

struct PieceState {
  int buffer;
  bool done;
};

// A loop in progress, on the stack of the thread that runs it.
struct Loop {
  uint64_t job = 0;
  int64_t n = 0;
  const PieceStep* piece = nullptr;
  int reserved = 0;  // the buffer of the loop's thread
  bool reserved_in_use = false;
  int64_t begun = 0, consumed = 0;
  std::deque<PieceState> states;  // of the pieces begun and not consumed, from `consumed` on
  int executing = 0;              // pieces on a thread now
};

// A task, ordered as its output is written: by job, then kind, then piece.
struct Task {
  uint64_t job = 0;
  int kind = kRead;
  int64_t index = 0;     // of a piece
  Loop* loop = nullptr;  // of a piece
  bool operator<(const Task& o) const {
    return std::tie(job, kind, index) < std::tie(o.job, o.kind, o.index);
  }
};

}  // namespace

struct Pipeline {
  int threads = 1;
  std::vector<std::thread> helpers;
  std::mutex mutex;
  std::condition_variable changed;  // a task was queued, a step or piece ended, the run halted
  std::set<Task> queue;
  bool quitting = false;
  std::vector<int> shared_buffers;  // free for any loop
  std::atomic<uint64_t> idle_ns{0};
  // The run in hand, begun afresh by each RunPipeline.
  const PipelineSteps* steps = nullptr;
  uint64_t read = 0;           // jobs read: the number of the next
  bool reading = false;        // a read is queued or running
  bool input_done = false;     // the last read found no job
  uint64_t next_write = 0;     // the job whose write comes next
  std::vector<char> analysed;  // by slot: analysed and not yet written
  int busy = 0;                // threads in a step or a piece taken from the queue
  bool halted = false;         // a step threw: nothing more is begun
  std::exception_ptr error;    // the first exception
};

namespace {

using Lock = std::unique_lock<std::mutex>;

std::size_t SlotOf(const Pipeline* p, uint64_t job) {
  return static_cast<std::size_t>(job % p->steps->slots);
}

// Waits for a change, counting the time as idle.
void Idle(Pipeline* p, Lock* lock) {
  const auto start = std::chrono::steady_clock::now();
  p->changed.wait(*lock);
  const auto spent = std::chrono::steady_clock::now() - start;
  p->idle_ns +=
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count());
}

// The first exception halts the run: nothing more is begun. Called with the lock held.
void Halt(Pipeline* p, std::exception_ptr e) {
  if (!p->halted) p->error = e;
  p->halted = true;
  p->queue.clear();
  p->reading = false;
  p->changed.notify_all();
}

// Queues the next read when a slot is free for it.
void MaybeRead(Pipeline* p) {
  if (p->reading || p->input_done || p->halted || p->read - p->next_write >= p->steps->slots)
    return;
  p->reading = true;
  p->queue.insert(Task{p->read, kRead, 0, nullptr});
  p->changed.notify_all();
}

// Takes the first task, if any (and, when `upto` is given, if it is a piece of that job or of
// an earlier one); `buffer` is a piece's.
bool Take(Pipeline* p, const uint64_t* upto, Task* t, int* buffer) {
  if (p->halted || p->queue.empty()) return false;
  const Task first = *p->queue.begin();
  if (upto != nullptr && (first.kind != kPiece || first.job > *upto)) return false;
  p->queue.erase(p->queue.begin());
  *t = first;
  *buffer = 0;
  if (t->kind == kPiece) {
    Loop* loop = t->loop;
    *buffer = loop->states[static_cast<std::size_t>(t->index - loop->consumed)].buffer;
    ++loop->executing;
  }
  return true;
}

// Runs a step or a piece: the exception it throws, or none (for one that unwinds out of a
// wait once the run has halted, too).
template <class Step>
std::exception_ptr Attempt(const Step& step) {
  try {
    step();
  } catch (const Stopped&) {
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// Writes, in order, every job analysed whose turn has come.
void WriteInOrder(Pipeline* p, Lock* lock) {
  while (!p->halted && p->next_write < p->read && p->analysed[SlotOf(p, p->next_write)]) {
    const uint64_t job = p->next_write;
    p->analysed[SlotOf(p, job)] = 0;  // whoever clears it writes the job
    lock->unlock();
    const std::exception_ptr error = Attempt([&] { p->steps->write(job, SlotOf(p, job)); });
    lock->lock();
    if (error) Halt(p, error);
    if (p->halted) return;
    ++p->next_write;
    MaybeRead(p);
    p->changed.notify_all();
  }
}

void Execute(Pipeline* p, const Task& t, int buffer) {
  if (t.kind == kPiece) {
    const std::exception_ptr error = Attempt([&] { (*t.loop->piece)(t.index, buffer); });
    Lock lock(p->mutex);
    if (error) Halt(p, error);
    Loop* loop = t.loop;
    loop->states[static_cast<std::size_t>(t.index - loop->consumed)].done = true;
    --loop->executing;
    p->changed.notify_all();
    return;
  }
  bool more = false;
  const std::exception_ptr error = Attempt([&] {
    if (t.kind == kRead) {
      more = p->steps->read(t.job, SlotOf(p, t.job));
    } else {
      p->steps->analyse(t.job, SlotOf(p, t.job));
    }
  });
  Lock lock(p->mutex);
  if (error) Halt(p, error);
  if (p->halted) return;
  if (t.kind == kRead) {
    p->reading = false;
    if (more) {
      p->read = t.job + 1;
      p->queue.insert(Task{t.job, kAnalyse, 0, nullptr});
    } else {
      p->input_done = true;
    }
    MaybeRead(p);
    p->changed.notify_all();
    return;
  }
  p->analysed[SlotOf(p, t.job)] = 1;
  WriteInOrder(p, &lock);
}

// Runs a task taken from the queue at the top of a thread's loop.
void RunTaken(Pipeline* p, const Task& t, int buffer, Lock* lock) {
  ++p->busy;
  lock->unlock();
  Execute(p, t, buffer);
  lock->lock();
  --p->busy;
  p->changed.notify_all();
}

// Runs the queue's tasks, one after another, until there is none and `over` holds.
template <class Over>
void Serve(Pipeline* p, Lock* lock, const Over& over) {
  for (;;) {
    Task t;
    int buffer = 0;
    if (Take(p, nullptr, &t, &buffer)) {
      RunTaken(p, t, buffer, lock);
    } else if (over()) {
      return;
    } else {
      Idle(p, lock);
    }
  }
}

void Help(Pipeline* p, int lane) {
  g_lane = lane;
  g_waiting_lane = p->threads + lane;
  Lock lock(p->mutex);
  Serve(p, &lock, [p] { return p->quitting; });
}

bool RunIsOver(const Pipeline* p) {
  if (p->halted) return p->busy == 0;
  return p->input_done && !p->reading && p->next_write == p->read;
}

// Runs a piece of job `upto` or an earlier one, while waiting; false when there is none.
bool HelpWhileWaiting(Pipeline* p, uint64_t upto, Lock* lock) {
  Task t;
  int buffer = 0;
  if (!Take(p, &upto, &t, &buffer)) return false;
  lock->unlock();
  g_in_wait = true;
  Execute(p, t, buffer);
  g_in_wait = false;
  lock->lock();
  return true;
}

// Queues the loop's next pieces, as far as buffers allow: the loop's own, then shared ones.
void BeginPieces(Pipeline* p, Loop* loop) {
  bool begun = false;
  while (!p->halted && loop->begun < loop->n) {
    int buffer;
    if (!loop->reserved_in_use) {
      buffer = loop->reserved;
      loop->reserved_in_use = true;
    } else if (!p->shared_buffers.empty()) {
      buffer = p->shared_buffers.back();
      p->shared_buffers.pop_back();
    } else {
      break;
    }
    loop->states.push_back(PieceState{buffer, false});
    p->queue.insert(Task{loop->job, kPiece, loop->begun, loop});
    ++loop->begun;
    begun = true;
  }
  if (begun) p->changed.notify_all();
}

void ReleaseBuffer(Pipeline* p, Loop* loop, int buffer) {
  if (buffer == loop->reserved) loop->reserved_in_use = false;
  if (buffer != loop->reserved) p->shared_buffers.push_back(buffer);
}

// Lets go of a loop that ends early: its queued pieces leave the queue, and those on other
// threads (which reach into the loop) end first.
void AbandonLoop(Pipeline* p, Loop* loop, Lock* lock) {
  for (auto it = p->queue.begin(); it != p->queue.end();) {
    it = it->loop == loop ? p->queue.erase(it) : std::next(it);
  }
  while (loop->executing > 0) Idle(p, lock);
  for (const PieceState& s : loop->states) ReleaseBuffer(p, loop, s.buffer);
  loop->states.clear();
}

}  // namespace

Pipeline* StartPipeline(int threads) {
  auto* p = new Pipeline();
  p->threads = threads < 1 ? 1 : threads;
  for (int b = p->threads; b < PieceBuffers(p); ++b) p->shared_buffers.push_back(b);
  try {
    for (int lane = 1; lane < p->threads; ++lane) p->helpers.emplace_back(Help, p, lane);
  } catch (...) {
    StopPipeline(p);
    throw;
  }
  return p;
}

void StopPipeline(Pipeline* p) {
  {
    Lock lock(p->mutex);
    p->quitting = true;
    p->changed.notify_all();
  }
  for (std::thread& t : p->helpers) t.join();
  delete p;
}

int PipelineThreads(const Pipeline* p) { return p->threads; }

int PieceBuffers(const Pipeline* p) { return p == nullptr ? 0 : 2 * p->threads + 2; }

int Lane() { return g_in_wait ? g_waiting_lane : g_lane; }

int Lanes(const Pipeline* p) { return p == nullptr ? 1 : 2 * p->threads; }

uint64_t IdleNanoseconds(const Pipeline* p) { return p->idle_ns.load(); }

void RunPipeline(Pipeline* p, const PipelineSteps& steps) {
  g_lane = 0;
  g_waiting_lane = p->threads;
  Lock lock(p->mutex);
  p->steps = &steps;
  p->read = p->next_write = 0;
  p->reading = p->input_done = p->halted = false;
  p->analysed.assign(steps.slots, 0);
  p->busy = 0;
  p->error = nullptr;
  MaybeRead(p);
  Serve(p, &lock, [p] { return RunIsOver(p); });
  p->steps = nullptr;
  if (p->halted) {
    const std::exception_ptr error = p->error;
    p->queue.clear();
    lock.unlock();
    std::rethrow_exception(error);
  }
}

bool HasTurn(Pipeline* p, uint64_t job) {
  if (p == nullptr) return true;
  Lock lock(p->mutex);
  return p->next_write == job;
}

void TakeTurn(Pipeline* p, uint64_t job) {
  if (p == nullptr) return;
  Lock lock(p->mutex);
  while (p->next_write != job) {
    if (p->halted) throw Stopped{};
    if (!HelpWhileWaiting(p, job, &lock)) Idle(p, &lock);
  }
}

void RunPieces(Pipeline* p, uint64_t job, int64_t n, const PieceStep& piece,
               const PieceStep& consume) {
  if (p == nullptr || p->threads == 1 || n <= 1) {
    for (int64_t i = 0; i < n; ++i) {
      piece(i, kInOrder);
      consume(i, kInOrder);
    }
    return;
  }
  Loop loop;
  loop.job = job;
  loop.n = n;
  loop.piece = &piece;
  loop.reserved = g_lane;
  Lock lock(p->mutex);
  for (;;) {
    if (p->halted) {
      AbandonLoop(p, &loop, &lock);
      throw Stopped{};
    }
    BeginPieces(p, &loop);
    if (loop.consumed == n) return;
    if (loop.states.front().done) {
      const int buffer = loop.states.front().buffer;
      lock.unlock();
      try {
        consume(loop.consumed, buffer);
      } catch (...) {
        lock.lock();
        AbandonLoop(p, &loop, &lock);
        throw;
      }
      lock.lock();
      ReleaseBuffer(p, &loop, buffer);
      loop.states.pop_front();
      ++loop.consumed;
      continue;
    }
    if (!HelpWhileWaiting(p, job, &lock)) Idle(p, &lock);
  }
}

}  // namespace kestra
