// Output written by several threads in a fixed order. Each writer holds a ticket, numbered
// in the order its bytes must reach the files. Until the ticket's turn has come, what it
// writes stays in its sinks in memory, up to a bound, and then it waits; once its turn has
// come, its bytes go straight to the files. A ticket finished before its turn is left with
// the writer, its bytes in memory, and its thread goes on with other sinks: whoever passes
// the turn on writes it. Tickets are taken one after another from 0.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "output/text_sink.h"

struct OrderedWriter {
  OrderedWriter(std::vector<FileDestination*> to, std::size_t bytes)
      : files(std::move(to)), bound(bytes) {}
  std::vector<FileDestination*> files;  // nullptr for an output not written
  std::size_t bound;                    // bytes a ticket's sink keeps before its writer waits
  std::mutex mutex;
  std::condition_variable turn;
  uint64_t next = 0;  // the ticket whose turn it is
  // What a writer does while it waits for its turn instead of sleeping; false when there was
  // nothing to do. May be empty.
  std::function<bool()> help;
  std::atomic<uint64_t> waiting_ns{0};  // writers waiting for their turn, not helping
  // Tickets finished before their turn: at most `most_left` wait, their bytes in their sinks,
  // with what to tell when they are written.
  std::size_t most_left = 0;
  struct Left {
    std::vector<TextSink> sinks;
    std::function<void()> on_turn;
  };
  std::map<uint64_t, Left> left;
  std::vector<std::vector<TextSink>> spare;  // sinks of tickets written, to lend again
};

struct Ticket {
  OrderedWriter* writer;
  uint64_t number;
  std::vector<TextSink>* sinks;   // one a file, in the order of writer->files; lent by the writer
  std::function<void()> on_turn;  // told when the ticket's bytes start reaching the files
  bool streaming = false;
};

// Readies the ticket's sinks; whatever they hold is the ticket's first bytes.
void StartTicket(Ticket* t);
// Starts writing straight to the files if the ticket's turn has come; never waits.
void StreamIfTurn(Ticket* t);
// Waits for the ticket's turn (helping meanwhile), then writes straight to the files.
void StreamWhenTurn(Ticket* t);
// Ends the ticket. Before its turn, while fewer than most_left wait, it is left with the
// writer and the ticket's sinks are replaced by empty ones; otherwise it waits for its turn
// and writes what is left. Whoever's ticket ends in turn writes the tickets left after it and
// passes the turn on. The sinks are given back empty.
void FinishTicket(Ticket* t);
