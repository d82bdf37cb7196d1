// What the fuzz targets share: argument vectors made of the fuzzer's bytes.
#pragma once

#include <string>
#include <vector>

// Splits data at NUL bytes into at most max_args arguments.
std::vector<std::string> SplitArguments(const char* data, std::size_t size, std::size_t max_args);
// argv for `kestra in.fa out` followed by switches (pointers into the strings).
std::vector<char*> CommandLine(std::vector<std::string>* switches);
