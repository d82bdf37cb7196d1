#include "driver/ordered_writer.h"

#include <algorithm>
#include <chrono>

#include "driver/work_pool.h"

namespace {

// Blocks of this size reach the files once a ticket streams, a size the caches hold.
constexpr std::size_t kStreamBlock = std::size_t{1} << 20;

// Writes what the sinks hold and lets them write straight on. The turn has come.
void Stream(Ticket* t) {
  t->streaming = true;
  std::vector<TextSink>& sinks = *t->sinks;
  for (std::size_t k = 0; k < sinks.size(); ++k) {
    sinks[k].to = t->writer->files[k];
    SinkFlush(&sinks[k]);
  }
  if (t->on_turn) t->on_turn();
}

bool HasTurn(Ticket* t, const std::unique_lock<std::mutex>&) {
  return t->writer->next == t->number;
}

// Waits, the lock held, until the ticket's turn has come, helping meanwhile.
void WaitForTurn(Ticket* t, std::unique_lock<std::mutex>* lock) {
  OrderedWriter* w = t->writer;
  while (!HasTurn(t, *lock)) {
    lock->unlock();
    const bool helped = w->help && w->help();
    lock->lock();
    if (!helped && !HasTurn(t, *lock)) {
      TimeSpent waiting(&w->waiting_ns);
      w->turn.wait_for(*lock, std::chrono::milliseconds(2));
    }
  }
}

// A sink in memory is full: streams when the ticket's turn has come, waits for the turn when
// a sink holds its bound, else lets the sink grow.
void OnSinkFull(Ticket* t) {
  if (t->streaming) return;
  OrderedWriter* w = t->writer;
  std::unique_lock<std::mutex> lock(w->mutex);
  const bool full = std::any_of(t->sinks->begin(), t->sinks->end(),
                                [w](const TextSink& s) { return s.used >= w->bound; });
  if (!HasTurn(t, lock) && !full) return;
  WaitForTurn(t, &lock);
  lock.unlock();
  Stream(t);
}

}  // namespace

void StartTicket(Ticket* t) {
  std::vector<TextSink>& sinks = *t->sinks;
  for (std::size_t k = 0; k < sinks.size(); ++k) {
    sinks[k].to = nullptr;
    sinks[k].on_full = [t](TextSink*) { OnSinkFull(t); };
    // Room only for the outputs written: fresh memory costs as it is first touched.
    if (t->writer->files[k] != nullptr) SinkEnsureRoom(&sinks[k], kStreamBlock);
  }
}

void StreamIfTurn(Ticket* t) {
  if (t->streaming) return;
  std::unique_lock<std::mutex> lock(t->writer->mutex);
  if (!HasTurn(t, lock)) return;
  lock.unlock();
  Stream(t);
}

void StreamWhenTurn(Ticket* t) {
  if (t->streaming) return;
  std::unique_lock<std::mutex> lock(t->writer->mutex);
  WaitForTurn(t, &lock);
  lock.unlock();
  Stream(t);
}

namespace {

// Leaves a ticket finished before its turn with the writer, if there is room: true when left.
bool LeaveIfEarly(Ticket* t) {
  OrderedWriter* w = t->writer;
  std::lock_guard<std::mutex> lock(w->mutex);
  if (t->streaming || w->next == t->number || w->left.size() >= w->most_left) return false;
  for (TextSink& sink : *t->sinks) sink.on_full = nullptr;
  const std::size_t kinds = t->sinks->size();
  w->left.emplace(t->number, OrderedWriter::Left{std::move(*t->sinks), std::move(t->on_turn)});
  if (w->spare.empty()) {
    *t->sinks = std::vector<TextSink>(kinds);
  } else {
    *t->sinks = std::move(w->spare.back());
    w->spare.pop_back();
  }
  return true;
}

// Writes the tickets left after `number` whose turn follows, and passes the turn on.
void PassTurn(OrderedWriter* w, uint64_t number) {
  std::unique_lock<std::mutex> lock(w->mutex);
  uint64_t n = number + 1;
  for (auto it = w->left.find(n); it != w->left.end(); it = w->left.find(++n)) {
    OrderedWriter::Left left = std::move(it->second);
    w->left.erase(it);
    w->next = n;  // its turn: the others keep waiting while its bytes are written
    lock.unlock();
    for (std::size_t k = 0; k < left.sinks.size(); ++k) {
      left.sinks[k].to = w->files[k];
      SinkFlush(&left.sinks[k]);
      left.sinks[k].to = nullptr;
    }
    if (left.on_turn) left.on_turn();
    lock.lock();
    w->spare.push_back(std::move(left.sinks));
  }
  w->next = n;
  w->turn.notify_all();
}

}  // namespace

void FinishTicket(Ticket* t) {
  if (LeaveIfEarly(t)) return;
  StreamWhenTurn(t);
  for (TextSink& sink : *t->sinks) {
    SinkFlush(&sink);
    sink.to = nullptr;
    sink.on_full = nullptr;
  }
  PassTurn(t->writer, t->number);
}
