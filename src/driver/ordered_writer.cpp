#include "driver/ordered_writer.h"

#include <algorithm>
#include <chrono>

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
    if (!helped && !HasTurn(t, *lock)) w->turn.wait_for(*lock, std::chrono::milliseconds(2));
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
  for (TextSink& sink : *t->sinks) {
    sink.to = nullptr;
    sink.on_full = [t](TextSink*) { OnSinkFull(t); };
    SinkEnsureRoom(&sink, kStreamBlock);
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

void FinishTicket(Ticket* t) {
  OrderedWriter* w = t->writer;
  StreamWhenTurn(t);
  for (TextSink& sink : *t->sinks) {
    SinkFlush(&sink);
    sink.to = nullptr;
    sink.on_full = nullptr;
  }
  std::lock_guard<std::mutex> lock(w->mutex);
  w->next = t->number + 1;
  w->turn.notify_all();
}
