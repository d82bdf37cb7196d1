// A whole run in memory: arbitrary bytes as the FASTA input, the switches picked by the first
// bytes, through detection, random estimation and the report into memory buffers.
#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/run.h"
#include "fuzz_support.h"
#include "sequence/fasta.h"

// Switches the first bytes choose from; counts stay small so an input runs quickly.
static std::vector<std::string> PickSwitches(const uint8_t* data, size_t n) {
  static const char* const kTemplates[] = {"-W:%d", "-E:%d", "-P:0.%d", "-M:0.%d", "-S:%d",
                                           "-B:%d", "-R:ACGTN", "-R:T", "-F", "-L", "-N", "-K",
                                           "-A:0.%d", "-T:0.%d", "-E:-%d", "-W:-%d"};
  std::vector<std::string> switches;
  for (size_t i = 0; i < n; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, kTemplates[data[i] % 16], (data[i] >> 4) % 5);
    switches.push_back(text);
  }
  return switches;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PrepareFuzzProcess();
  const size_t chosen = size > 0 ? data[0] % 5 : 0;
  if (size < 1 + chosen) return 0;
  std::vector<std::string> switches = PickSwitches(data + 1, chosen);
  std::vector<char*> argv = CommandLine(&switches);
  RunState run;
  FastaScanner* scanner = NewFastaScanner(&run.entry);
  FastaScannerFeed(scanner, reinterpret_cast<const char*>(data) + 1 + chosen, size - 1 - chosen);
  if (FastaScannerFinish(scanner) != FastaStatus::kOk) return 0;
  run.length = static_cast<int>(run.entry.seq.size());
  try {
    PrepareRun(static_cast<int>(argv.size()) - 1, argv.data(), &run);
    DetectSegments(&run);
    EstimateRandomSignificance(&run);
    FinishReport(&run);  // the sinks have no file: the report stays in memory
  } catch (const FatalStop&) {
  }
  return 0;
}
