#include "command_line/messages.h"

namespace kestra {

#define MESSAGE(name, text) const char name[] = text;
#include "command_line/messages.def"
#undef MESSAGE

std::string Formatted(const char* format, const std::string& first, const std::string& second,
                      const std::string& third) {
  std::string text = format;
  std::size_t at = 0;
  for (const std::string* value : {&first, &second, &third}) {
    at = text.find("%s", at);
    if (at == std::string::npos) break;
    text.replace(at, 2, *value);
    at += value->size();
  }
  return text;
}

}  // namespace kestra
