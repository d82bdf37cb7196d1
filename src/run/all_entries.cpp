// The run on every entry of the input (or of a part of it), through the pipeline: read a job
// (a range of a plain file's bytes, or entries read from a gzip file or a pipe), analyse and
// format its entries into the job's outputs (run/job_outputs.h), write them in input order.
// Between entries, and between pieces of a long one, a job whose outputs hold what it may keep
// waits for its turn, and one whose turn has come writes on to the files.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "command_line/messages.h"
#include "entry/entry.h"
#include "output/time_spent.h"
#include "process/console.h"
#include "process/process.h"
#include "run/job_outputs.h"
#include "run/run.h"
#include "run/run_shell.h"
#include "sequence/job_reading.h"

namespace kestra {
namespace {

// A job in its slot: what its read gave, and what its analysis made of it until its write.
struct JobSlot {
  uint64_t from = 0, to = 0;          // a plain file's range of bytes
  std::vector<FastaEntry> entries;    // entries read from a stream: the first `count`
  std::vector<FastaStatus> statuses;  // (their storage is used again by later jobs)
  std::size_t count = 0;
  JobOutputs outputs;
};

// What a thread keeps from one job to the next, so that entry after entry allocates nothing
// new: the entry read from a range, and the bits of the entry it analyses.
struct LaneWork {
  FastaEntry entry;
  EntryScratch scratch;
};

// What the threads share.
struct AllEntries {
  const RunRequest* request;
  const Settings* settings;
  Pipeline* pipeline = nullptr;
  EntryContext context;
  RunWriting writing;
  std::vector<JobSlot> slots;
  std::vector<LaneWork> lanes;
  // Of every entry read: one too long to analyse is only counted, unless the masked FASTA
  // is written, which copies such an entry's letters as they stand.
  LetterLimit letter_limit;
  // A plain file, read by ranges from the part's start (the whole file without --shard).
  bool plain = false;
  uint64_t from = 0, to = 0;
  uint64_t next = 0;                     // where the next job's range begins
  std::atomic<uint64_t> entries_end{0};  // where the entries the ranges read so far end
  std::atomic<uint64_t> read_up_to{0};
  std::vector<char> block;
  // A compressed file or a pipe, read by the read step, its blocks (when it has any) inflated
  // as pieces of the job being read.
  FastaReader* reader = nullptr;
  ParallelLoop reading_loop;
  uint64_t reading_job = 0;
  uint64_t reading_ns = 0;
  uint64_t idle_ns = 0;              // the pipeline's threads spent waiting
  EarliestReadFailure read_failure;  // an input that cannot be read ends the run
};

// Analyses one entry of the job and hands its text and figures to the job's outputs, which
// may write between its pieces.
void DoEntry(AllEntries* run, JobSlot* slot, FastaEntry* entry, FastaStatus status,
             const BetweenPieces& between) {
  JobOutputs* outputs = &slot->outputs;
  EntryScratch* scratch = &run->lanes[static_cast<std::size_t>(Lane())].scratch;
  const EntryAnalysis a = AnalyseEntry(run->context, outputs->job, entry, status, scratch);
  const EntrySinks sinks = JobSinks(run->writing, outputs);
  EntryNotes n;
  if (a.failure) {
    WriteSkippedEntry(run->context, entry, *scratch, sinks, between);
  } else {
    n.masked = WriteEntry(run->context, outputs->job, *entry, a, scratch, sinks, between).masked;
  }
  n.bed_name = BedName(entry->header);
  n.letters = static_cast<int64_t>(LetterCount(*entry));
  n.failure = a.failure;
  n.linkage = a.linkage;
  n.segments = a.segments;
  if (run->writing.files->index_wanted[kFastaIndex]) n.header = entry->header;
  outputs->notes.push_back(std::move(n));
}

// The read step on a plain file: the next range of its bytes. A range inside a long entry
// would hold no entry of its own, yet cost a reading of its bytes, and on several threads the
// place of a job in flight that another thread could analyse. On one thread the job before
// is analysed by then: the range begins past its entries. On several, a range begins where
// an entry begins and ends where the first entry after the range's size begins.
bool ReadRange(AllEntries* run, uint64_t job, JobSlot* slot) {
  ReadProblem problem;
  const RangeCut cut = NextJobRange(run->request->input, run->from, run->to,
                                    std::max(run->next, run->entries_end.load()),
                                    run->request->limits.range, PipelineThreads(run->pipeline) > 1,
                                    &run->block, &slot->from, &slot->to, &problem);
  if (cut == RangeCut::kFailed) NoteReadFailure(&run->read_failure, job, problem);
  if (cut != RangeCut::kCut) return false;
  run->next = slot->to;
  run->read_up_to = slot->to;
  return !run->read_failure.failed;
}

// The read step: a range of a plain file's bytes, or the entries of a stream up to a job's
// size. An input that cannot be read ends the run's reading.
bool ReadJob(AllEntries* run, uint64_t job, JobSlot* slot) {
  if (run->read_failure.failed) return false;
  TimeSpent<uint64_t> reading(&run->reading_ns);
  if (run->plain) return ReadRange(run, job, slot);
  run->reading_job = job;
  const RunLimits& limits = run->request->limits;
  slot->count = 0;
  if (!ReadJobEntries(run->reader, limits.job_entries, limits.job_letters, &slot->entries,
                      &slot->statuses, &slot->count)) {
    NoteReadFailure(&run->read_failure, job, FastaReaderProblem(run->reader));
    return false;
  }
  return slot->count > 0;
}

// The analyse step: every entry of the job into its outputs, which wait in memory for its turn
// or, between entries and between pieces of one, take it.
void AnalyseJob(AllEntries* run, uint64_t job, JobSlot* slot) {
  JobOutputs* outputs = &slot->outputs;
  StartJobOutputs(outputs, job);
  const BetweenPieces between = [run, outputs] { AtTurnPoint(&run->writing, outputs); };
  if (!run->plain) {
    for (std::size_t i = 0; i < slot->count && !run->read_failure.failed; ++i) {
      if (i > 0) between();
      DoEntry(run, slot, &slot->entries[i], slot->statuses[i], between);
    }
    return;
  }
  FastaEntry* entry = &run->lanes[static_cast<std::size_t>(Lane())].entry;
  FastaReader* reader =
      OpenFastaRange(run->request->input, slot->from, slot->to, run->letter_limit);
  FastaStatus status;
  for (bool first = true; !run->read_failure.failed && NextFastaEntry(reader, entry, &status);
       first = false) {
    // An input that cannot be read ends the run: what is left of the job is not analysed.
    if (status == FastaStatus::kReadError) {
      NoteReadFailure(&run->read_failure, job, FastaReaderProblem(reader));
      break;
    }
    if (!first) between();
    DoEntry(run, slot, entry, status, between);
  }
  if (PipelineThreads(run->pipeline) == 1) run->entries_end = FastaRangeEnd(reader);
  CloseFastaReader(reader);
}

// The progress line: entries told and input read.
std::string ProgressText(const AllEntries* run) {
  std::size_t read = 0, total = 0;
  if (run->reader != nullptr) {
    FastaReaderProgress(run->reader, &read, &total);
  } else {
    total = run->to - run->from;
    read = run->read_up_to.load() - run->from;
  }
  char text[96];
  std::snprintf(text, sizeof text, "%zu entries done, %.1f", run->writing.told.load(),
                read / 1048576.0);
  std::string line = text;
  if (total > 0) {
    std::snprintf(text, sizeof text, " of %.1f", total / 1048576.0);
    line += text;
  }
  return line + " MiB read";
}

// For the benchmarks: the time spent reading a stream (one thread at a time), writing the
// outputs, and waiting (for work, or for a turn).
void TellTimes(const AllEntries& run, const RunOutputs& outputs) {
  uint64_t writing_ns = 0;
  for (const FileDestination& file : outputs.destinations) writing_ns += file.writing_ns;
  std::fprintf(stderr, "KESTRA_TIMES reading %.6f writing %.6f waiting %.6f\n",
               run.reading_ns / 1e9, writing_ns / 1e9, run.idle_ns / 1e9);
}

// A part needs a file: what else the input is.
std::optional<Failure> RefusePartOf(int input) {
  struct stat st;
  if (fstat(input, &st) == 0 && S_ISREG(st.st_mode)) return std::nullopt;
  const bool device = S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode);
  return Failure{StandardStream::kStderr, S_ISDIR(st.st_mode) ? kShardOfADirectory
                                          : device            ? kShardOfADevice
                                                              : kShardOfAPipe};
}

// Where the run reads: a plain file's ranges (its part of them), or a stream.
void ChooseReading(AllEntries* run) {
  const Settings& s = *run->settings;
  const int input = run->request->input;
  uint64_t size = 0;
  run->plain = IsPlainFile(input, &size);
  run->to = size;
  if (run->plain && s.shard_count > 0) {
    run->from = PartOffset(size, s.shard_index - 1, s.shard_count);
    run->to = PartOffset(size, s.shard_index, s.shard_count);
  }
  run->next = run->from;
  run->read_up_to = run->from;
  const RunOutputs& outputs = *run->request->outputs;
  run->letter_limit = {run->request->limits.max_letters, !outputs.wanted[kFastaOutput],
                       outputs.fastq};
  if (!run->plain) {
    run->reading_loop = ReadingLoop(run->pipeline, &run->reading_job);
    const ParallelLoop* loop = &run->reading_loop;
    const LetterLimit limit = run->letter_limit;
    run->reader = s.shard_count > 0
                      ? OpenFastaPart(input, s.shard_index, s.shard_count, loop, limit)
                      : OpenFastaReader(input, loop, limit);
  }
}

// The pipeline of the run's jobs, its outputs open: the failure that stops the run.
std::optional<Failure> RunJobs(AllEntries* run, RunShell* shell) {
  const RunRequest& r = *run->request;
  const Settings& s = *run->settings;
  if (s.shard_count > 0) {
    if (auto failure = RefusePartOf(r.input)) return failure;
  }
  Console console;
  const std::string background = BackgroundLine(s, r.significance);
  if (!background.empty()) ConsoleOut(&console, background);
  if (s.mode() == DetectionMode::kRuns && s.draws_random()) {
    ConsoleOut(&console, Formatted(kRandomSeed, std::to_string(r.seed)));
  }
  run->pipeline = StartPipeline(s.threads);
  run->writing.pipeline = run->pipeline;
  run->writing.files = r.outputs;
  run->writing.waiting = r.limits.waiting;
  run->writing.console = &console;
  run->writing.shell = shell;
  ChooseReading(run);
  EntryStorage storage;
  run->context = MakeEntryContext(&s, r.seed, run->pipeline, r.limits.piece, &storage);
  run->context.significance = r.significance;
  run->context.fastq_copy = r.outputs->fastq;
  run->slots.resize(JobsInFlight(s.threads));
  run->lanes.resize(static_cast<std::size_t>(Lanes(run->pipeline)));
  StartConsole(&console, [run] { return ProgressText(run); });
  PipelineSteps steps = StepsOverSlots(run, &run->slots, ReadJob, AnalyseJob);
  steps.write = [run](uint64_t, std::size_t slot) {
    WriteJobOutputs(&run->writing, &run->slots[slot].outputs);
  };
  RunPipeline(run->pipeline, steps);
  run->idle_ns = IdleNanoseconds(run->pipeline);
  StopPipeline(run->pipeline);
  StopConsole(&console);
  if (run->reader != nullptr) CloseFastaReader(run->reader);
  close(r.input);
  // A part of several holds what its entries give, nothing if none can be analysed; the
  // whole input fails without any entry, or without one that can be analysed, as the first
  // entry alone would.
  const bool whole = s.shard_count <= 1;
  if (run->read_failure.failed) TellReadProblem(r, run->read_failure.problem);
  if (run->read_failure.failed || (whole && run->writing.entries == 0)) {
    return Failure{StandardStream::kStdoutLine, kErrorReadingFasta};
  }
  if (whole && run->writing.analysed == 0) return run->writing.first_failure;
  return std::nullopt;
}

}  // namespace

int RunAllEntries(const RunRequest& r) {
  const Settings& s = *r.settings;
  if (r.settings_failure) Fail(*r.settings_failure);
  if (auto failure = CheckSettings(s, nullptr, nullptr)) Fail(*failure);
  auto run = std::make_unique<AllEntries>();
  run->request = &r;
  run->settings = &s;
  RunBody body;
  // The parts of an input, one after another, give the whole: only the first has the tables'
  // lines of columns.
  body.first_lines = s.shard_index <= 1;
  body.pipeline = [&run](RunShell* shell) { return RunJobs(run.get(), shell); };
  body.committed = [&run, &r] {
    if (r.limits.times) TellTimes(*run, *r.outputs);
  };
  return RunInShell(r, body);
}

}  // namespace kestra
