// Option parsing and validation on arbitrary argument vectors, through the start-up steps
// that follow reading: a fatal condition unwinds instead of ending the process.
#include <cstdint>

#include "driver/run.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PrepareFuzzProcess();
  std::vector<std::string> switches =
      SplitArguments(reinterpret_cast<const char*>(data), size, 16);
  std::vector<char*> argv = CommandLine(&switches);
  RunState run;
  run.entry.name = "seq1";
  run.entry.seq = "GAAATCGCAATAAgcTCGANNacgt-";
  run.length = static_cast<int>(run.entry.seq.size());
  try {
    PrepareRun(static_cast<int>(argv.size()) - 1, argv.data(), &run);
  } catch (const FatalStop&) {
  }
  return 0;
}
