#include "command_line/messages.h"

namespace kestra {

#define MESSAGE(name, text) const char name[] = text;
#include "command_line/messages.def"
#undef MESSAGE

std::string Formatted(const char* format, const std::string& first, const std::string& second) {
  std::string text = format;
  const std::size_t at = text.find("%s");
  text.replace(at, 2, first);
  const std::size_t next = text.find("%s", at + first.size());
  return next == std::string::npos ? text : text.replace(next, 2, second);
}

}  // namespace kestra
