// What the fuzz targets share: fatal conditions unwind instead of ending the process.
#pragma once

#include <string>
#include <vector>

// Thrown by the fatal handler the targets install.
struct FatalStop {};

// Installs the unwinding fatal handler and sends standard output to /dev/null.
void PrepareFuzzProcess();
// Splits data at NUL bytes into at most max_args arguments.
std::vector<std::string> SplitArguments(const char* data, std::size_t size, std::size_t max_args);
// argv for `kestra in.fa out` followed by switches (pointers into the strings).
std::vector<char*> CommandLine(std::vector<std::string>* switches);
