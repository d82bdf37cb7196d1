// Every text the run prints on its own behalf, byte for byte: each a named constant, listed
// with its words in messages.def; and a message with the stream it goes to.
#pragma once

#include <string>

namespace kestra {

#define MESSAGE(name, text) extern const char name[];
#include "command_line/messages.def"
#undef MESSAGE

// Where a message goes.
enum class StandardStream {
  kStdoutLine,  // standard output, followed by one newline (as puts prints)
  kStdout,      // standard output, exactly the text
  kStderr,      // standard error, exactly the text
};

// A message that stops the run (or, with several entries, skips an entry).
struct Failure {
  StandardStream where;
  std::string text;
};

// The text with its first "%s" replaced by `first`, the next, if any, by `second`, and the
// one after by `third`.
std::string Formatted(const char* format, const std::string& first, const std::string& second = "",
                      const std::string& third = "");

}  // namespace kestra
