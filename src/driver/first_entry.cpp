// The run on the input's first entry alone.
#include <unistd.h>

#include <cstdio>

#include "driver/entry_step.h"
#include "driver/messages.h"
#include "driver/run.h"

void PrintElapsedTime(std::time_t start) {
  std::printf(kElapsedTime, static_cast<int>(std::time(nullptr) - start));
}

int RunFirstEntry(const RunRequest& r) {
  const Settings& s = *r.settings;
  FastaEntry entry;
  bool more = false;
  const FastaStatus status = ReadFastaFile(r.input, &entry, &more);
  close(r.input);
  if (auto failure = ReadFailure(status)) Fail(*failure);
  if (more) std::fputs(kOnlyFirstEntry, stderr);
  if (s.bed && BedName(entry.header).empty())
    std::fputs(Formatted(kNoBedName, "1").c_str(), stderr);
  RunOutputs& outputs = *r.outputs;
  TextSink sinks[kOutputKinds];  // in memory until the files are open
  EntryWork work;
  work.settings = &s;
  work.seed = r.seed;
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
  SegmentScorer scorer;
  const EntryOutcome outcome =
      ProcessEntry(work, &entry, status, r.settings_failure, SinksFor(outputs, sinks), &scorer);
  if (outcome.failure) Fail(*outcome.failure);
  for (TextSink& sink : sinks) SinkFlush(&sink);
  const int length = static_cast<int>(entry.letters.size());
  const bool ok = FinishOutputs(&outputs, [&] {
    if (outputs.wanted[kFastaFile]) {
      std::printf(kMaskedPositions, static_cast<long long>(outcome.counts.masked), length,
                  static_cast<double>(outcome.counts.masked) * 100.0 / length);
    }
    if (outputs.wanted[kReportFile] && !outcome.counts.normal_valid) {
      std::fputs(kNormalNotValid, stderr);
    }
  });
  if (!ok) return 1;
  PrintElapsedTime(r.start);
  return 0;
}
