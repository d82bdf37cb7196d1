// The standard streams of a run that analyses entries on several threads. Lines written to
// standard output reach it within about a second; on a terminal, standard error shows a
// progress line redrawn in place a few times a second and erased before any other line is
// written there.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestra {

struct Console {
  std::mutex mutex;
  std::function<std::string()> progress;  // the progress line's text; empty: none shown
  std::size_t drawn = 0;                  // characters of the progress line on the screen
  bool unflushed = false;                 // standard output holds lines not yet flushed
  bool stopping = false;
  std::condition_variable wake;
  std::thread ticker;
};

// Starts the ticker that flushes standard output and redraws the progress line. `progress`
// is asked for the line's text from the ticker's thread; it is drawn only when standard
// error is a terminal.
void StartConsole(Console* c, std::function<std::string()> progress);
// Writes a status line (ConsoleOut: where status lines go) or another line to standard error
// (ConsoleErr), the progress line erased first where they share its stream.
void ConsoleOut(Console* c, const std::string& text);
void ConsoleErr(Console* c, const std::string& text);
// Stops the ticker; the last progress line stays, ended by a newline. Flushes standard output.
void StopConsole(Console* c);

}  // namespace kestra
