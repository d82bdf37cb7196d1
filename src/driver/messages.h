// Every text the run prints on its own behalf, byte for byte: each a named constant, listed
// with its words in messages.def.
#pragma once

#include <string>

#define MESSAGE(name, text) extern const char name[];
#include "driver/messages.def"
#undef MESSAGE

// The text with its first "%s" replaced by `first` and the next, if any, by `second`.
std::string Formatted(const char* format, const std::string& first, const std::string& second = "");
