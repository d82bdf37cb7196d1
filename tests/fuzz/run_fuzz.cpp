// One entry's whole analysis in memory: arbitrary bytes as the FASTA input, the switches
// picked by the first bytes, through detection, random estimation and every output.
#include <cstdint>
#include <cstdio>
#include <string>

#include "entry/entry.h"
#include "fuzz_support.h"
#include "sequence/fasta.h"

using namespace kestra;

// Switches the first bytes choose from; counts stay small so an input runs quickly.
static std::vector<std::string> PickSwitches(const uint8_t* data, size_t n) {
  static const char* const kTemplates[] = {
      "-W:%d", "-E:%d", "-P:0.%d", "-M:0.%d", "-S:%d",   "-B:%d",   "-R:ACGTN", "-R:T",
      "-F",    "-L",    "-N",      "-K",      "-A:0.%d", "-T:0.%d", "-E:-%d",   "-W:-%d"};
  std::vector<std::string> switches;
  for (size_t i = 0; i < n; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, kTemplates[data[i] % 16], (data[i] >> 4) % 5);
    switches.push_back(text);
  }
  return switches;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t chosen = size > 0 ? data[0] % 5 : 0;
  if (size < 1 + chosen) return 0;
  std::vector<std::string> switches = PickSwitches(data + 1, chosen);
  std::vector<char*> argv = CommandLine(&switches);
  std::optional<Failure> failure;
  Settings s = ParseCommandLine(static_cast<int>(argv.size()) - 1, argv.data(), &failure);
  if (failure) return 0;
  s.bed = true;
  FastaEntry entry;
  FastaScanner* scanner = NewFastaScanner(&entry);
  FastaScannerFeed(scanner, reinterpret_cast<const char*>(data) + 1 + chosen, size - 1 - chosen);
  const FastaStatus status = FastaScannerFinish(scanner);
  // A long input is cut into pieces of 320 letters, all on this thread.
  EntryStorage storage;
  const EntryContext c = MakeEntryContext(&s, 1, nullptr, 320, &storage);
  TextSink sinks[kOutputKinds];  // no destination: everything stays in memory
  EntrySinks wanted;
  for (int k = 0; k < kOutputKinds; ++k) wanted.of[k] = &sinks[k];
  EntryScratch scratch;
  const EntryAnalysis a = AnalyseEntry(c, 0, &entry, status, &scratch);
  if (a.failure) {
    WriteSkippedEntry(c, &entry, scratch, wanted);
  } else {
    WriteEntry(c, 0, entry, a, &scratch, wanted);
  }
  return 0;
}
