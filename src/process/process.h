// The process: how a run ends early (one exact message, status 1), the signals that end it,
// the threads it starts, its standard streams and the check that standard output received
// everything.
#pragma once

#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "command_line/messages.h"

namespace kestra {

// The status lines (the linkage distance, the seed, progress, the masked positions, the entry
// lines, the elapsed time) go to standard output, or to standard error while an output goes
// to standard output (which then carries that output alone); with `quiet`, nowhere. What
// goes to standard output on a failure goes where they go, quiet or not.
void RouteStatusLines(bool to_standard_error, bool quiet);
std::FILE* StatusStream();
bool StatusQuiet();
// Prints a status line, unless quiet.
void PrintStatus(const std::string& text);
// Writes the message exactly, flushing its stream.
void PrintFailure(const Failure& f);
// Prints the message, removes the temporary outputs and ends the run with status 1.
[[noreturn]] void Fail(const Failure& f);
// Out of memory, from any thread: the message, no temporary file, status 1, at once (nothing
// is unwound: no thread waits on another's way out).
[[noreturn]] void OutOfMemory();
// Makes every allocation that fails, on any thread, end the run as OutOfMemory does.
void StopWhenOutOfMemory();
// Descriptors 0, 1 and 2 that the run was started without are held open on /dev/null, so that
// no output file takes one of them and what the run prints there is dropped.
void HoldStandardDescriptors();
// Starts a thread running f; a thread the system cannot start ends the run as out of memory.
template <class F>
std::thread StartThread(F&& f) {
  try {
    return std::thread(std::forward<F>(f));
  } catch (const std::system_error&) {
    OutOfMemory();
  }
}
// The signals that end a run by default: each removes the temporary outputs first, then ends
// the run as the signal asks. SIGXFSZ is ignored, so that a write past a file-size limit
// fails like any other. Signals the run was started with ignored stay ignored.
void InstallInterruptCleanup();
// After a run that succeeded: 0 when everything printed reached standard output, else 1 with
// a message on standard error (the output files, complete, stay).
int CheckStandardOutput();
// The signals that end a run by default, blocked while a temporary file is made and recorded.
sigset_t TerminatingSignals();
// The last line of a run that succeeded.
void PrintElapsedTime(std::time_t start);

}  // namespace kestra
