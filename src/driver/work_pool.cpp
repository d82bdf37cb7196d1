#include "driver/work_pool.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "driver/process.h"

namespace {

// How long an idle thread sleeps before looking for other work again.
constexpr auto kIdle = std::chrono::milliseconds(2);

thread_local int lane = 0;

void Run(WorkPool* pool, int index, std::function<bool()> other_work) {
  lane = index + 1;
  try {
    for (;;) {
      if (RunTask(pool)) continue;
      if (other_work && other_work()) continue;
      std::unique_lock<std::mutex> lock(pool->mutex);
      if (pool->stopping && pool->tasks.empty()) return;
      if (pool->tasks.empty()) {
        TimeSpent idle(&pool->waiting_ns);
        pool->changed.wait_for(lock, kIdle);
      }
    }
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

}  // namespace

void StartWorkPool(WorkPool* pool, int threads,
                   const std::function<std::function<bool()>()>& make_other_work) {
  pool->helpers = std::max(threads, 0);
  for (int t = 0; t < threads; ++t) {
    std::function<bool()> other = make_other_work ? make_other_work() : std::function<bool()>();
    pool->threads.push_back(StartThread([pool, t, other] { Run(pool, t, other); }));
  }
}

int PoolLane() { return lane; }

void AddTask(WorkPool* pool, std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    pool->tasks.push_back(std::move(task));
  }
  pool->changed.notify_one();
}

bool RunTask(WorkPool* pool) {
  std::function<void()> task;
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    if (pool->tasks.empty()) return false;
    task = std::move(pool->tasks.front());
    pool->tasks.pop_front();
  }
  task();
  return true;
}

void WakeWorkPool(WorkPool* pool) { pool->changed.notify_all(); }

void StopWorkPool(WorkPool* pool) {
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    pool->stopping = true;
  }
  pool->changed.notify_all();
  for (std::thread& t : pool->threads) t.join();
  pool->threads.clear();
  pool->helpers = 0;
}

void RunPiecesInOrder(WorkPool* pool, int64_t n, int64_t ahead,
                      const std::function<void(int64_t)>& piece,
                      const std::function<void(int64_t)>& consume) {
  if (pool == nullptr || pool->helpers == 0 || n == 1) {
    for (int64_t i = 0; i < n; ++i) {
      piece(i);
      consume(i);
    }
    return;
  }
  // Each piece is consumed by the thread that made it, once those before it are: what it
  // hands on is still in that thread's caches. While it waits for its turn the thread takes
  // no other task, so every wait is for a piece already in hand, begun earlier.
  std::mutex mutex;
  std::condition_variable turn;
  int64_t consumed = 0;
  const auto task = [&](int64_t i) {
    piece(i);
    std::unique_lock<std::mutex> lock(mutex);
    if (consumed != i) {
      TimeSpent waiting(&pool->waiting_ns);
      turn.wait(lock, [&] { return consumed == i; });
    }
    lock.unlock();
    consume(i);
    lock.lock();
    consumed = i + 1;
    turn.notify_all();
  };
  int64_t begun = 0;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex);
    const int64_t done = consumed;
    if (done == n) return;
    lock.unlock();
    for (; begun < n && begun < done + ahead; ++begun) {
      AddTask(pool, [&task, i = begun] { task(i); });
    }
    // Rather than wait, run a piece (this run's or another's); when none is left, every
    // piece begun is in other hands and will be consumed.
    if (RunTask(pool)) continue;
    lock.lock();
    TimeSpent waiting(&pool->waiting_ns);
    turn.wait(lock, [&] { return consumed != done; });
  }
}
