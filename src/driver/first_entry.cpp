// The run on the input's first entry alone.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "driver/entry_step.h"
#include "driver/messages.h"
#include "driver/run.h"

void PrintElapsedTime(std::time_t start) {
  std::printf(kElapsedTime, static_cast<int>(std::time(nullptr) - start));
}

RunLimits RunLimitsFromEnvironment() {
  RunLimits limits;
  const char* text = std::getenv("KESTRA_TEST_JOB_LIMITS");
  unsigned long long entries = 0, letters = 0, waiting = 0, chunk = limits.chunk, stretch = 0;
  if (text != nullptr &&
      std::sscanf(text, "%llu,%llu,%llu,%llu,%llu", &entries, &letters, &waiting, &chunk,
                  &stretch) >= 3 &&
      entries > 0 && chunk > 0) {
    // A stretch of an entry holds whole words of bits and whole lines of letters.
    limits = RunLimits{entries, letters, waiting, chunk,
                       static_cast<int64_t>((stretch + 319) / 320 * 320)};
  }
  return limits;
}

int RunFirstEntry(const RunRequest& r) {
  const Settings& s = *r.settings;
  FastaEntry entry;
  bool more = false;
  const FastaStatus status = ReadFastaFile(r.input, &entry, &more);
  close(r.input);
  if (auto failure = ReadFailure(status)) Fail(*failure);
  if (more) std::fputs(kOnlyFirstEntry, stderr);
  if (s.bed && BedName(entry.header).empty()) {
    std::fputs(Formatted(kNoBedName, "1").c_str(), stderr);
  }
  RunOutputs& outputs = *r.outputs;
  TextSink sinks[kOutputKinds];  // in memory until the files are open
  WorkPool pool;
  std::vector<StretchSlot> lanes(static_cast<std::size_t>(s.threads));
  StartWorkPool(&pool, s.threads - 1, {});
  EntryWork work;
  work.settings = &s;
  work.seed = r.seed;
  work.pool = &pool;
  work.lanes = &lanes;
  work.stretch = RunLimitsFromEnvironment().stretch;
  work.progress = [](int k) {
    std::fputs(Formatted(kRandomProgress, std::to_string(k)).c_str(), stdout);
  };
  work.encoded = [&](const EntryAnalysis& a) {
    const char* line = s.estimate_linkage ? kEstimatedLinkageDistance : kLinkageDistance;
    std::fputs(Formatted(line, std::to_string(a.linkage)).c_str(), stdout);
    OpenOutputs(&outputs);
    for (int k = 0; k < kOutputKinds; ++k) sinks[k].to = &outputs.destinations[k];
    if (s.mode() == DetectionMode::kRuns && s.draws_random()) {
      std::fputs(Formatted(kRandomSeed, std::to_string(r.seed)).c_str(), stdout);
    }
  };
  EntryScratch scratch;
  const EntryOutcome outcome =
      ProcessEntry(work, &entry, status, r.settings_failure, SinksFor(outputs, sinks), &scratch);
  StopWorkPool(&pool);
  if (outcome.failure) Fail(*outcome.failure);
  for (TextSink& sink : sinks) SinkFlush(&sink);
  const int length = static_cast<int>(entry.letters.size());
  const bool ok = FinishOutputs(&outputs, [&] {
    if (outputs.wanted[kFastaFile]) {
      std::printf(kMaskedPositions, static_cast<long long>(outcome.masked), length,
                  static_cast<double>(outcome.masked) * 100.0 / length);
    }
    if (outputs.wanted[kReportFile] && !outcome.normal_valid) std::fputs(kNormalNotValid, stderr);
  });
  if (!ok) return 1;
  PrintElapsedTime(r.start);
  return 0;
}
