// The command line on arbitrary argument vectors: parsing and the checks that follow it.
#include <cstdint>

#include "command_line/settings.h"
#include "fuzz_support.h"

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> switches = SplitArguments(reinterpret_cast<const char*>(data), size, 16);
  std::vector<char*> argv = CommandLine(&switches);
  std::optional<Failure> failure;
  const Settings s = ParseCommandLine(static_cast<int>(argv.size()) - 1, argv.data(), &failure);
  const double freq[4] = {0.25, 0.25, 0.25, 0.25};
  const int length = 26;
  CheckSettings(s, nullptr, nullptr);
  CheckSettings(s, freq, &length);
  return 0;
}
