// The run on the input's first entry alone: one job through the pipeline. It is read, encoded
// and checked; then, the entry known to be analysed, the run says what it analyses, opens its
// outputs, estimates, counts and writes.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "command_line/messages.h"
#include "entry/entry.h"
#include "process/process.h"
#include "run/run.h"
#include "run/run_shell.h"

namespace kestra {
namespace {

// The one job of the run.
struct FirstEntryJob {
  RunShell* shell = nullptr;
  FastaEntry entry;
  FastaStatus status = FastaStatus::kOk;
  bool more = false;  // the input holds more entries
  EntryScratch scratch;
  EntryAnalysis analysis;
  EntryWritten written;
  std::optional<Failure> failure;  // that stops the run
  TextSink sinks[kOutputKinds];
};

// Reads the entry; a BED reader needs it to have a name.
bool ReadFirstEntry(const RunRequest& r, Pipeline* pipeline, FirstEntryJob* job) {
  // Blocks of a block-compressed input are inflated on every thread.
  const uint64_t reading_job = 0;
  const ParallelLoop loop = ReadingLoop(pipeline, &reading_job);
  ReadProblem problem;
  job->status =
      ReadFastaFile(r.input, &job->entry, &job->more, &problem, &loop,
                    LetterLimit{r.limits.max_letters, false, r.outputs->fastq});
  close(r.input);
  if (job->status == FastaStatus::kReadError) TellReadProblem(r, problem);
  if (!ReadFailure(job->status)) {
    std::fputs(BedNameWarnings(job->shell, BedName(job->entry.header), 1).c_str(), stderr);
  }
  return true;
}

// The entry's checks, in order: what its letters hold, then the switches that could not be
// read, then those the entry fails.
void CheckFirstEntry(const RunRequest& r, const EntryContext& c, FirstEntryJob* job) {
  EntryAnalysis& a = job->analysis;
  a = EncodeEntry(c, 0, &job->entry, job->status, &job->scratch);
  if (!a.failure && r.settings_failure) a.failure = r.settings_failure;
  if (!a.failure) CheckEntry(*r.settings, &a);
  if (a.failure) job->failure = a.failure;
}

// Says what is analysed, opens the outputs, and analyses and writes the segments.
void WriteFirstEntry(const RunRequest& r, const EntryContext& c, FirstEntryJob* job) {
  const Settings& s = *r.settings;
  EntryAnalysis& a = job->analysis;
  if (job->failure) return;
  if (job->more && !StatusQuiet()) std::fputs(kOnlyFirstEntry, stderr);
  const std::string background = BackgroundLine(s, c.significance);
  if (!background.empty()) PrintStatus(background);
  const char* line = s.estimate_linkage ? kEstimatedLinkageDistance : kLinkageDistance;
  PrintStatus(Formatted(line, std::to_string(a.linkage)));
  job->failure = OpenRunOutputs(*job->shell);
  if (job->failure) return;
  for (int k = 0; k < kOutputKinds; ++k) job->sinks[k].to = &r.outputs->destinations[k];
  if (s.mode() == DetectionMode::kRuns && s.draws_random()) {
    PrintStatus(Formatted(kRandomSeed, std::to_string(r.seed)));
  }
  AnalyseSegments(
      c, 0, [](int k) { PrintStatus(Formatted(kRandomProgress, std::to_string(k))); },
      &job->scratch, &a);
  job->written = WriteEntry(c, 0, job->entry, a, &job->scratch, SinksFor(*r.outputs, job->sinks));
  IndexEntry(job->shell, job->entry.header, a.length);
  for (TextSink& sink : job->sinks) SinkFlush(&sink);
}

// The pipeline of the one job, the outputs opened by its write once the entry is checked.
std::optional<Failure> RunTheJob(const RunRequest& r, RunShell* shell, FirstEntryJob* job) {
  const Settings& s = *r.settings;
  Pipeline* pipeline = StartPipeline(s.threads);
  EntryStorage storage;
  EntryContext c = MakeEntryContext(&s, r.seed, pipeline, r.limits.piece, &storage);
  c.significance = r.significance;
  c.fastq_copy = r.outputs->fastq;
  job->shell = shell;
  PipelineSteps steps;
  steps.slots = 1;
  steps.read = [&](uint64_t k, std::size_t) { return k == 0 && ReadFirstEntry(r, pipeline, job); };
  steps.analyse = [&](uint64_t, std::size_t) { CheckFirstEntry(r, c, job); };
  steps.write = [&](uint64_t, std::size_t) { WriteFirstEntry(r, c, job); };
  RunPipeline(pipeline, steps);
  StopPipeline(pipeline);
  return job->failure;
}

// What is said of the written entry before the report is sealed: its masked positions, and
// whether the normal approximation holds for it.
void TellWritten(const RunOutputs& outputs, const FirstEntryJob& job) {
  const int length = job.analysis.length;
  if (outputs.wanted[kFastaOutput]) {
    char line[128];
    std::snprintf(line, sizeof line, kMaskedPositions, static_cast<long long>(job.written.masked),
                  length, static_cast<double>(job.written.masked) * 100.0 / length);
    PrintStatus(line);
  }
  if (outputs.wanted[kReportOutput] && !job.written.normal_valid) {
    std::fputs(kNormalNotValid, stderr);
  }
}

}  // namespace

int RunFirstEntry(const RunRequest& r) {
  FirstEntryJob job;
  RunBody body;
  body.opens_first = false;
  body.pipeline = [&r, &job](RunShell* shell) { return RunTheJob(r, shell, &job); };
  body.sealed_but_report = [&r, &job] { TellWritten(*r.outputs, job); };
  return RunInShell(r, body);
}

}  // namespace kestra
