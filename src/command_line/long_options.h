// The long options of the command line.
#pragma once

#include <optional>

#include "command_line/messages.h"
#include "command_line/settings.h"

namespace kestra {

// Applies the long option at argv[*i] to `s`; a value follows as "=VALUE" or as the next
// argument, which *i then passes. The first failure goes to *failure.
void ApplyLongOption(int argc, char** argv, int* i, Settings* s, std::optional<Failure>* failure);

}  // namespace kestra
