// Threads that run small tasks for whoever hands them out: the pieces of a long entry. A
// thread that would otherwise wait (for its turn to write, for a piece another thread runs)
// runs one of them instead.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "output/time_spent.h"

struct WorkPool {
  std::mutex mutex;
  std::condition_variable changed;  // a task was added, or the pool stops
  std::deque<std::function<void()>> tasks;
  bool stopping = false;
  int helpers = 0;  // threads of the pool, set before they start: they read it
  std::vector<std::thread> threads;
  std::atomic<uint64_t> waiting_ns{0};  // threads waiting for a task or for a piece's turn
};

// Starts `threads` threads that run tasks; when there is none, each does the other work that
// make_other_work() gives it (one each, made before it starts: it may keep scratch of its
// own), which returns false when it had nothing to do. make_other_work may be empty.
void StartWorkPool(WorkPool* pool, int threads,
                   const std::function<std::function<bool()>()>& make_other_work);
void AddTask(WorkPool* pool, std::function<void()> task);
// Runs one waiting task on this thread; false when there was none.
bool RunTask(WorkPool* pool);
// Wakes the threads, to look for other work.
void WakeWorkPool(WorkPool* pool);
// Lets the threads finish the tasks left, then joins them.
void StopWorkPool(WorkPool* pool);

// The calling thread's lane: 1 to helpers for the pool's threads, 0 for any other thread.
int PoolLane();

// Runs piece(0) .. piece(n - 1) on the pool's threads and this one, each followed by
// consume() on the same thread, the consumes in order, with at most `ahead` pieces begun and
// not yet consumed; returns once all are consumed. Without a pool, this thread does all.
void RunPiecesInOrder(WorkPool* pool, int64_t n, int64_t ahead,
                      const std::function<void(int64_t)>& piece,
                      const std::function<void(int64_t)>& consume);
