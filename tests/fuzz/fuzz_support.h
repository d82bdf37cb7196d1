// What the fuzz targets share: argument vectors made of the fuzzer's bytes.
#pragma once

#include <string>
#include <vector>

// Splits data at NUL bytes into at most max_args arguments.
inline std::vector<std::string> SplitArguments(const char* data, std::size_t size,
                                               std::size_t max_args) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size && args.size() <= max_args; ++i) {
    if (data[i] == '\0') {
      args.emplace_back();
    } else {
      args.back() += data[i];
    }
  }
  if (args.size() > max_args) args.resize(max_args);
  return args;
}

// argv for `kestra in.fa out` followed by switches (pointers into the strings).
inline std::vector<char*> CommandLine(std::vector<std::string>* switches) {
  static std::string program = "kestra", input = "in.fa", output = "out";
  std::vector<char*> argv = {&program[0], &input[0], &output[0]};
  for (std::string& s : *switches) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  return argv;
}
