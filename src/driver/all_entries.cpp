// The run on every entry of the input. A plain file is cut into stretches of bytes that the
// threads read and analyse at once; a gzip file or a pipe is read by one thread, which hands
// the entries out in jobs. Either way each job's outputs are written in input order, and the
// stretches of a long entry are shared out among the threads.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "driver/console.h"
#include "driver/entry_step.h"
#include "driver/messages.h"
#include "driver/ordered_writer.h"
#include "driver/run.h"
#include "output/time_spent.h"

namespace {

// What the entries say on the standard streams, kept until their outputs reach the files.
struct EntryNotes {
  std::string bed_name;  // the first field of its BED lines
  std::string out;       // its line on standard output
  std::optional<Failure> failure;
};

// What the entries say on the standard streams, in input order; only the job whose turn it
// is to write says anything.
struct Notices {
  Console* console = nullptr;
  bool bed = false;
  std::size_t entries = 0;                                 // entries told so far
  std::unordered_map<std::string, std::size_t> bed_names;  // name -> first entry with it
  std::optional<Failure> first_failure;  // why the first entry was skipped, if it was
  std::size_t analysed = 0;
  std::atomic<std::size_t> told{0};  // entries whose outputs are written, for the progress line
};

// The warnings about an entry's BED name: lines that name no sequence, or the same sequence
// as another entry's lines, are of no use to a BED reader.
std::string BedNameWarnings(Notices* n, const std::string& name, std::size_t number) {
  if (!n->bed) return "";
  if (name.empty()) return Formatted(kNoBedName, std::to_string(number));
  const auto seen = n->bed_names.emplace(name, number);
  if (seen.second) return "";
  return Formatted(kSameBedName, std::to_string(number), std::to_string(seen.first->second));
}

// The words of a message, without the line ends around them.
std::string Words(const std::string& text) {
  const std::size_t from = text.find_first_not_of('\n');
  const std::size_t to = text.find_last_not_of('\n');
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

void Tell(Notices* n, const EntryNotes& e) {
  const std::size_t number = ++n->entries;
  n->told = number;
  std::string err = BedNameWarnings(n, e.bed_name, number);
  if (e.failure) {
    err += Formatted(kSkippedEntry, e.bed_name, Words(e.failure->text));
    if (number == 1) n->first_failure = e.failure;
  } else {
    ++n->analysed;
  }
  if (!err.empty()) ConsoleErr(n->console, err);
  ConsoleOut(n->console, e.out);
}

// A group of consecutive entries, analysed and written by one thread: the entries of a
// stretch of a plain file (read by that thread), or entries the reading thread has read.
struct Job {
  uint64_t number = 0;        // the job's place in the order of writing
  uint64_t from = 0, to = 0;  // the stretch of bytes, for a plain file
  std::vector<FastaEntry> entries;
  std::vector<FastaStatus> statuses;
  std::size_t letters = 0;
};

// The files written, in the order of the sinks; nullptr for an output not written.
std::vector<FileDestination*> WrittenFiles(RunOutputs* outputs) {
  std::vector<FileDestination*> files;
  for (const int k : {kReportFile, kFastaFile, kBedFile}) {
    files.push_back(outputs->wanted[k] ? &outputs->destinations[k] : nullptr);
  }
  return files;
}

// What the threads share: the request, the outputs in order, what the entries say, the jobs.
struct AllEntries {
  AllEntries(const RunRequest& r, Console* console)
      : request(r),
        limits(RunLimitsFromEnvironment()),
        writer(WrittenFiles(r.outputs), r.settings->threads == 1 ? 0 : limits.waiting),
        notices() {
    notices.console = console;
    notices.bed = r.settings->bed;
    // Jobs finished before their turn wait in memory, a few a thread, rather than their
    // threads.
    writer.most_left = r.settings->threads == 1 ? 0 : static_cast<std::size_t>(r.settings->threads);
  }
  const RunRequest& request;
  RunLimits limits;
  OrderedWriter writer;
  Notices notices;
  WorkPool pool;
  std::vector<StretchSlot> lanes;  // of the stretches of long entries, one a thread
  // A plain file: its stretches, taken in turn, from the part's start.
  int input = -1;
  uint64_t size = 0;
  uint64_t from = 0, to = 0;  // the bytes of the part (of the whole file without --shard)
  std::atomic<uint64_t> next_stretch{0}, finished_stretches{0};
  uint64_t stretches = 0;
  // Otherwise: the jobs the reading thread hands out.
  std::mutex jobs_mutex;
  std::condition_variable jobs_changed;
  std::deque<Job> jobs;
  std::vector<std::string> spare;  // storage of letters done with, for the reader to use again
  bool no_more_jobs = false;
  std::atomic<bool> read_error{false};
  uint64_t reading_ns = 0;  // the reading thread's time in the reader
};

// What a thread keeps from one job to the next: the sinks of its tickets and the scratch of
// its entries, so that entry after entry allocates nothing new.
struct Worker {
  explicit Worker(std::size_t bound) : sinks(kOutputKinds) {
    // Room for all a waiting job may hold, taken once: growing a buffer again and again
    // would copy it and touch fresh memory each time.
    for (TextSink& sink : sinks) SinkReserveCapacity(&sink, bound + (std::size_t{2} << 20));
  }
  std::vector<TextSink> sinks;
  EntryScratch scratch;
};

// Analyses and writes one entry; its notes are told as soon as its outputs reach the files.
void ProcessOne(AllEntries* run, FastaEntry* entry, FastaStatus status, Ticket* ticket,
                Worker* worker, std::vector<EntryNotes>* pending) {
  const RunOutputs& outputs = *run->request.outputs;
  EntryWork work;
  work.settings = run->request.settings;
  work.seed = run->request.seed;
  work.pool = &run->pool;
  work.lanes = &run->lanes;
  work.stretch = run->limits.stretch;
  work.before_writing_apart = [ticket] { StreamWhenTurn(ticket); };
  const std::string length = std::to_string(entry->letters.size());
  const EntryOutcome outcome = ProcessEntry(
      work, entry, status, std::nullopt, SinksFor(outputs, worker->sinks.data()), &worker->scratch);
  EntryNotes n;
  n.bed_name = BedName(entry->header);
  n.out = n.bed_name + "\t" + length;
  n.failure = outcome.failure;
  if (outcome.failure) {
    n.out += "\t-\t-\t-\tskipped\n";
  } else {
    const std::string masked = outputs.wanted[kFastaFile] ? std::to_string(outcome.masked) : "-";
    n.out += "\t" + std::to_string(outcome.linkage) + "\t" + std::to_string(outcome.segments) +
             "\t" + masked + "\tanalysed\n";
  }
  pending->push_back(std::move(n));
  // Once the job's turn has come, each entry is told as soon as it is written.
  StreamIfTurn(ticket);
  if (ticket->streaming) {
    for (const EntryNotes& notes : *pending) Tell(&run->notices, notes);
    pending->clear();
  }
}

// Analyses and writes a job's entries, in its turn; `next` gives them one after another.
void ProcessJob(AllEntries* run, uint64_t number, Worker* worker,
                const std::function<bool(FastaEntry**, FastaStatus*)>& next) {
  // The entries' notes, told when their outputs are written: by this thread, or by the one
  // that writes the job if it is left with the writer.
  auto pending = std::make_shared<std::vector<EntryNotes>>();
  Ticket ticket{&run->writer, number, &worker->sinks, [notices = &run->notices, pending] {
                  for (const EntryNotes& notes : *pending) Tell(notices, notes);
                  pending->clear();
                }};
  StartTicket(&ticket);
  FastaEntry* entry = nullptr;
  for (FastaStatus status; !run->read_error && next(&entry, &status);) {
    // An input that cannot be read ends the run: what is left of the job is not analysed.
    if (status == FastaStatus::kReadError) run->read_error = true;
    if (!run->read_error) ProcessOne(run, entry, status, &ticket, worker, pending.get());
  }
  FinishTicket(&ticket);
}

// A plain file: takes the next stretch of bytes and does its entries; false when none is left.
bool DoNextStretch(AllEntries* run, Worker* worker, FastaEntry* entry) {
  const uint64_t i = run->next_stretch++;
  if (i >= run->stretches) return false;
  const uint64_t bytes = run->limits.chunk;
  FastaReader* reader = OpenFastaRange(run->input, run->from + i * bytes,
                                       std::min(run->to, run->from + (i + 1) * bytes));
  ProcessJob(run, i, worker, [&](FastaEntry** e, FastaStatus* status) {
    *e = entry;
    return NextFastaEntry(reader, entry, status);
  });
  CloseFastaReader(reader);
  ++run->finished_stretches;
  return true;
}

// Otherwise: takes a job the reading thread handed out and does it; false when there is none.
bool DoNextJob(AllEntries* run, Worker* worker) {
  Job job;
  {
    std::lock_guard<std::mutex> lock(run->jobs_mutex);
    if (run->jobs.empty()) return false;
    job = std::move(run->jobs.front());
    run->jobs.pop_front();
  }
  run->jobs_changed.notify_all();
  std::size_t at = 0;
  ProcessJob(run, job.number, worker, [&](FastaEntry** e, FastaStatus* status) {
    if (at == job.entries.size()) return false;
    *status = job.statuses[at];
    *e = &job.entries[at++];
    return true;
  });
  // The storage of the letters goes back to the reader.
  std::lock_guard<std::mutex> lock(run->jobs_mutex);
  for (FastaEntry& e : job.entries) run->spare.push_back(std::move(e.letters));
  return true;
}

// Reads every entry of a gzip file or a pipe and hands them out in jobs, to the pool's
// threads (at most one job waits: memory stays bounded by the entries in hand), or, with no
// other thread, does them here.
void ReadAndHandOut(AllEntries* run, FastaReader* reader) {
  const bool alone = run->pool.helpers == 0;
  Worker here(0);
  uint64_t jobs = 0;
  Job job;
  const auto hand_out = [&] {
    job.number = jobs++;
    {
      std::unique_lock<std::mutex> lock(run->jobs_mutex);
      TimeSpent waiting(&run->pool.waiting_ns);
      run->jobs_changed.wait(lock, [run, alone] { return alone || run->jobs.empty(); });
      run->jobs.push_back(std::move(job));
    }
    WakeWorkPool(&run->pool);
    if (alone) DoNextJob(run, &here);
    job = Job();
  };
  FastaEntry entry;
  FastaStatus status;
  const auto read_next = [&] {
    TimeSpent<uint64_t> reading(&run->reading_ns);
    return NextFastaEntry(reader, &entry, &status);
  };
  while (!run->read_error && read_next()) {
    if (status == FastaStatus::kReadError) {
      run->read_error = true;
      break;
    }
    job.letters += entry.letters.size();
    job.entries.push_back(std::move(entry));
    job.statuses.push_back(status);
    if (job.entries.size() >= run->limits.job_entries || job.letters >= run->limits.job_letters) {
      hand_out();
    }
    // The next entry's letters go where a finished one's were, not into fresh memory.
    std::lock_guard<std::mutex> lock(run->jobs_mutex);
    if (!run->spare.empty()) {
      entry.letters.swap(run->spare.back());
      run->spare.pop_back();
    }
  }
  if (!run->read_error && !job.entries.empty()) hand_out();
  std::unique_lock<std::mutex> lock(run->jobs_mutex);
  TimeSpent waiting(&run->pool.waiting_ns);
  run->jobs_changed.wait(lock, [run] { return run->jobs.empty(); });
}

// The progress line: entries done and input read.
std::string ProgressText(const AllEntries* run, const FastaReader* reader) {
  std::size_t read = 0, total = 0;
  if (reader != nullptr) {
    FastaReaderProgress(reader, &read, &total);
  } else {
    total = run->to - run->from;
    read = std::min<uint64_t>(total, run->next_stretch.load() * run->limits.chunk);
  }
  char text[96];
  std::snprintf(text, sizeof text, "%zu entries done, %.1f", run->notices.told.load(),
                read / 1048576.0);
  std::string line = text;
  if (total > 0) {
    std::snprintf(text, sizeof text, " of %.1f", total / 1048576.0);
    line += text;
  }
  return line + " MiB read";
}

// For the benchmarks: the time spent in work that only one thread does at a time, reading
// a gzip file or a pipe and writing the outputs in turn (a plain file is read by every
// thread at once), and the time threads spent waiting (for work, or for their turn).
void TellTimes(const AllEntries& run, const RunOutputs& outputs) {
  uint64_t writing_ns = 0;
  for (const FileDestination& file : outputs.destinations) writing_ns += file.writing_ns;
  const double waiting = (run.pool.waiting_ns + run.writer.waiting_ns) / 1e9;
  std::fprintf(stderr, "KESTRA_TIMES reading %.6f writing %.6f waiting %.6f\n",
               run.reading_ns / 1e9, writing_ns / 1e9, waiting);
}

}  // namespace

int RunAllEntries(const RunRequest& r) {
  const Settings& s = *r.settings;
  if (r.settings_failure) Fail(*r.settings_failure);
  if (auto failure = CheckSettings(s, nullptr, nullptr)) Fail(*failure);
  OpenOutputs(r.outputs);
  Console console;
  if (s.mode() == DetectionMode::kRuns && s.draws_random()) {
    ConsoleOut(&console, Formatted(kRandomSeed, std::to_string(r.seed)));
  }
  AllEntries run(r, &console);
  run.input = r.input;
  run.writer.help = [&run] { return RunTask(&run.pool); };
  const bool plain = IsPlainFile(r.input, &run.size);
  const bool part = s.shard_count > 0;
  struct stat input;
  if (part && (fstat(r.input, &input) != 0 || !S_ISREG(input.st_mode))) {
    const bool device = S_ISCHR(input.st_mode) || S_ISBLK(input.st_mode);
    Fail({Stream::kStderr, S_ISDIR(input.st_mode) ? kShardOfADirectory
                           : device               ? kShardOfADevice
                                                  : kShardOfAPipe});
  }
  // A part of a plain file is its share of the bytes, where entries start.
  run.to = run.size;
  if (part && plain) {
    run.from = ShareStart(run.size, s.shard_index - 1, s.shard_count);
    run.to = ShareStart(run.size, s.shard_index, s.shard_count);
  }
  run.stretches = plain ? (run.to - run.from + run.limits.chunk - 1) / run.limits.chunk : 0;
  // This thread does stretches too, or reads; the pool's threads do stretches or jobs, and
  // the pieces of long entries.
  const int helpers = plain ? s.threads - 1 : (s.threads > 1 ? s.threads : 0);
  run.lanes.resize(static_cast<std::size_t>(helpers) + 1);
  StartWorkPool(&run.pool, helpers, [&run, plain] {
    auto worker = std::make_shared<Worker>(run.writer.bound);
    auto entry = std::make_shared<FastaEntry>();
    return std::function<bool()>([&run, plain, worker, entry] {
      return plain ? DoNextStretch(&run, worker.get(), entry.get()) : DoNextJob(&run, worker.get());
    });
  });
  FastaReader* reader = plain  ? nullptr
                        : part ? OpenFastaPart(r.input, s.shard_index, s.shard_count)
                               : OpenFastaReader(r.input);
  StartConsole(&console, [&run, reader] { return ProgressText(&run, reader); });
  try {
    if (plain) {
      Worker here(run.writer.bound);
      FastaEntry entry;
      while (DoNextStretch(&run, &here, &entry)) {
      }
      // The others' last stretches may hold long entries: their pieces are shared out too.
      while (run.finished_stretches < run.stretches) {
        if (RunTask(&run.pool)) continue;
        TimeSpent idle(&run.pool.waiting_ns);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else {
      ReadAndHandOut(&run, reader);
    }
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  StopWorkPool(&run.pool);
  StopConsole(&console);
  if (reader != nullptr) CloseFastaReader(reader);
  close(r.input);
  // A part of several holds what its entries give, nothing if none can be analysed; the
  // whole input fails without any entry, or without one that can be analysed, as the first
  // entry alone would.
  const bool whole = s.shard_count <= 1;
  if (run.read_error || (whole && run.notices.entries == 0)) {
    Fail({Stream::kStdoutLine, kErrorReadingFasta});
  }
  if (whole && run.notices.analysed == 0 && run.notices.first_failure) {
    Fail(*run.notices.first_failure);
  }
  if (!FinishOutputs(r.outputs, [] {})) return 1;
  if (std::getenv("KESTRA_TIMES") != nullptr) TellTimes(run, *r.outputs);
  PrintElapsedTime(r.start);
  return 0;
}
