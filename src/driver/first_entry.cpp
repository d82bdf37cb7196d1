// The run on the input's first entry alone.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/entry_step.h"
#include "driver/messages.h"
#include "driver/run.h"

void PrintElapsedTime(std::time_t start) {
  std::printf(kElapsedTime, static_cast<int>(std::time(nullptr) - start));
}

RunLimits RunLimitsFromEnvironment() {
  RunLimits limits;
  const char* text = std::getenv("KESTRA_TEST_LIMITS");
  if (text == nullptr) return limits;
  std::string all = text;
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t comma = std::min(all.find(',', at), all.size());
    const std::string item = all.substr(at, comma - at);
    at = comma + 1;
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = item.substr(0, eq);
    const unsigned long long value = std::strtoull(item.c_str() + eq + 1, nullptr, 10);
    if (value == 0 && key != "waiting") continue;
    if (key == "entries") limits.job_entries = value;
    if (key == "letters") limits.job_letters = value;
    if (key == "waiting") limits.waiting = value;
    if (key == "range") limits.chunk = value;
    // A piece of an entry holds whole words of bits and whole lines of letters.
    if (key == "piece") limits.stretch = static_cast<int64_t>((value + 319) / 320 * 320);
    if (key == "cores") limits.cores = static_cast<int>(std::min<unsigned long long>(value, 1024));
  }
  return limits;
}

int UsableThreads(int requested, const RunLimits& limits) {
  int cores = limits.cores;
  if (cores == 0) {
    cpu_set_t set;
    cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  }
  return std::max(1, std::min(requested, cores > 0 ? cores : requested));
}

int RunFirstEntry(const RunRequest& r) {
  const Settings& s = *r.settings;
  FastaEntry entry;
  bool more = false;
  const FastaStatus status = ReadFastaFile(r.input, &entry, &more);
  close(r.input);
  if (auto failure = ReadFailure(status)) Fail(*failure);
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
    // Said once the entry is known to be analysed: a run stopped by its entry or by a switch
    // analysed nothing.
    if (more) std::fputs(kOnlyFirstEntry, stderr);
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
