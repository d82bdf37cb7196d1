#include "fatal/fatal.h"

#include <cstdio>
#include <cstdlib>

static FatalHandler g_handler = nullptr;

void PrintMessage(FatalStream where, std::string_view text) {
  std::FILE* stream = where == FatalStream::kStderr ? stderr : stdout;
  std::fwrite(text.data(), 1, text.size(), stream);
  if (where == FatalStream::kStdoutLine) std::fputc('\n', stream);
  std::fflush(stream);
}

FatalHandler SetFatalHandler(FatalHandler handler) {
  FatalHandler previous = g_handler;
  g_handler = handler;
  return previous;
}

void Fatal(FatalStream where, std::string_view text) {
  if (g_handler != nullptr) {
    g_handler(where, text);  // expected to unwind; returning still ends the run
  } else {
    PrintMessage(where, text);
  }
  std::exit(1);
}
