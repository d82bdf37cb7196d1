// The single way a run ends early: print one exact message and stop with status 1.
#pragma once

#include <string_view>

enum class FatalStream {
  kStdoutLine,  // standard output, followed by one newline (as puts prints)
  kStdout,      // standard output, exactly the text
  kStderr,      // standard error, exactly the text
};

// Handler that receives every fatal condition; the default prints and calls exit(1).
// Tests and fuzzers install one that records the message and unwinds instead.
using FatalHandler = void (*)(FatalStream where, std::string_view text);

// Prints `text` on `where` (through the installed handler) and ends the run with status 1.
[[noreturn]] void Fatal(FatalStream where, std::string_view text);

// Installs `handler` (nullptr restores the default) and returns the previous one.
FatalHandler SetFatalHandler(FatalHandler handler);

// Writes `text` exactly as Fatal would, without ending the run.
void PrintMessage(FatalStream where, std::string_view text);
