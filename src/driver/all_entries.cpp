// The run on every entry of the input: one thread reads the entries and hands them out in
// jobs; workers analyse and write them, in input order, while it reads on.
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
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

namespace {

// How entries are grouped into jobs, and what an entry keeps in memory while it waits for
// its turn to write. The tests set small ones (KESTRA_TEST_JOB_LIMITS=entries,letters,bytes)
// so that many jobs are in flight at once; a run has no switch for them.
struct JobLimits {
  std::size_t entries = 4096;                   // entries a job holds at most
  std::size_t letters = std::size_t{4} << 20;   // a job is handed out once it holds this many
  std::size_t waiting = std::size_t{32} << 20;  // bytes a sink keeps before its writer waits
};

JobLimits LimitsFromEnvironment() {
  JobLimits limits;
  const char* text = std::getenv("KESTRA_TEST_JOB_LIMITS");
  unsigned long long entries = 0, letters = 0, waiting = 0;
  if (text != nullptr && std::sscanf(text, "%llu,%llu,%llu", &entries, &letters, &waiting) == 3 &&
      entries > 0) {
    limits = JobLimits{entries, letters, waiting};
  }
  return limits;
}

// Entries in input order, analysed and written one after another by one worker: many small
// entries share one job, so that the workers meet seldom.
struct Job {
  uint64_t number = 0;    // the job's place in the order of writing
  std::size_t first = 0;  // the number of the first entry, counted from 0 over the input
  std::vector<FastaEntry> entries;
  std::vector<FastaStatus> statuses;
  std::size_t letters = 0;
};

// What an entry says on the standard streams, kept until its outputs reach the files.
struct EntryNotes {
  std::string bed_name;  // the first field of its BED lines
  std::string out;       // its line on standard output
  std::string err;       // why it was skipped, if it was
};

// What the entries say on the standard streams, in input order; only the job whose turn it
// is to write says anything.
struct Notices {
  Console* console;
  bool bed;
  std::size_t entries = 0;                                 // entries told so far
  std::unordered_map<std::string, std::size_t> bed_names;  // name -> first entry with it
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

void Tell(Notices* n, const EntryNotes& e) {
  const std::string err = BedNameWarnings(n, e.bed_name, ++n->entries) + e.err;
  if (!err.empty()) ConsoleErr(n->console, err);
  ConsoleOut(n->console, e.out);
}

// The words of a message, without the line ends around them.
std::string Words(const std::string& text) {
  const std::size_t from = text.find_first_not_of('\n');
  const std::size_t to = text.find_last_not_of('\n');
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

// What the workers share: the settings, the outputs, the order of writing, the jobs.
struct AllEntries {
  AllEntries(const RunRequest& r, const JobLimits& l, Console* console)
      : request(r),
        limits(l),
        writer({&r.outputs->destinations[kReportFile], &r.outputs->destinations[kFastaFile],
                &r.outputs->destinations[kBedFile]},
               r.settings->threads == 1 ? 0 : l.waiting),
        notices{console, r.settings->bed, 0, {}} {}
  const RunRequest& request;
  JobLimits limits;
  OrderedWriter writer;
  Notices notices;
  std::mutex jobs_mutex;
  std::condition_variable jobs_changed;
  std::deque<Job> jobs;
  std::vector<std::string> spare;  // storage of letters done with, for the reader to use again
  bool no_more_jobs = false;
  std::atomic<std::size_t> analysed{0}, done{0};
  std::optional<Failure> first_failure;  // why the first entry was skipped, if it was
};

// What a worker keeps from one job to the next: the scorer and the sinks, so that entry after
// entry allocates nothing new.
struct Worker {
  explicit Worker(std::size_t bound) : sinks(kOutputKinds) {
    // Room for all a waiting entry may hold, taken once: growing a buffer again and again
    // would copy it and touch fresh memory each time.
    for (TextSink& sink : sinks) SinkReserveCapacity(&sink, bound + (std::size_t{2} << 20));
  }
  SegmentScorer scorer;
  std::vector<TextSink> sinks;
};

// The notes of a job's entries written so far and not yet told.
struct JobNotes {
  Notices* notices;
  std::vector<EntryNotes> pending;
};

void TellPending(JobNotes* j) {
  for (const EntryNotes& notes : j->pending) Tell(j->notices, notes);
  j->pending.clear();
}

// Analyses and writes one entry; its notes are told as soon as its outputs reach the files.
void ProcessOne(AllEntries* run, Job* job, std::size_t e, Ticket* ticket, Worker* worker,
                JobNotes* notes) {
  const RunOutputs& outputs = *run->request.outputs;
  FastaEntry& entry = job->entries[e];
  EntryWork work;
  work.settings = run->request.settings;
  work.seed = run->request.seed;
  const std::string length = std::to_string(entry.letters.size());
  const EntryOutcome outcome =
      ProcessEntry(work, &entry, job->statuses[e], std::nullopt,
                   SinksFor(outputs, worker->sinks.data()), &worker->scorer);
  EntryNotes n;
  n.bed_name = BedName(entry.header);
  n.out = n.bed_name + "\t" + length;
  if (outcome.failure) {
    n.out += "\t-\t-\t-\tskipped\n";
    n.err = Formatted(kSkippedEntry, n.bed_name, Words(outcome.failure->text));
    if (job->first + e == 0) run->first_failure = outcome.failure;
  } else {
    ++run->analysed;
    const std::string masked =
        outputs.wanted[kFastaFile] ? std::to_string(outcome.counts.masked) : "-";
    n.out += "\t" + std::to_string(outcome.linkage) + "\t" +
             std::to_string(outcome.counts.segments) + "\t" + masked + "\tanalysed\n";
  }
  notes->pending.push_back(std::move(n));
  // Once the job's turn has come, each entry is told as soon as it is written.
  StreamIfTurn(ticket);
  if (ticket->streaming) TellPending(notes);
}

// Analyses and writes a job's entries, in its turn.
void ProcessJob(AllEntries* run, Job* job, Worker* worker) {
  JobNotes notes{&run->notices, {}};
  Ticket ticket{&run->writer, job->number, &worker->sinks, [&notes] { TellPending(&notes); }};
  StartTicket(&ticket);
  for (std::size_t e = 0; e < job->entries.size(); ++e) {
    ProcessOne(run, job, e, &ticket, worker, &notes);
  }
  FinishTicket(&ticket);  // its turn came, so every entry has been told
  run->done += job->entries.size();
}

// Gives the storage of a finished job's letters back to the reader.
void GiveBackLetters(AllEntries* run, Job* job) {
  std::lock_guard<std::mutex> lock(run->jobs_mutex);
  for (FastaEntry& e : job->entries) run->spare.push_back(std::move(e.letters));
}

void Work(AllEntries* run) {
  Worker worker(run->writer.bound);
  try {
    for (;;) {
      std::unique_lock<std::mutex> lock(run->jobs_mutex);
      run->jobs_changed.wait(lock, [run] { return !run->jobs.empty() || run->no_more_jobs; });
      if (run->jobs.empty()) break;
      Job job = std::move(run->jobs.front());
      run->jobs.pop_front();
      lock.unlock();
      run->jobs_changed.notify_all();
      ProcessJob(run, &job, &worker);
      GiveBackLetters(run, &job);
    }
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

// The progress line: entries done and input read.
std::string ProgressText(const AllEntries* run, const FastaReader* reader) {
  std::size_t read = 0, total = 0;
  FastaReaderProgress(reader, &read, &total);
  char text[96];
  std::snprintf(text, sizeof text, "%zu entries done, %.1f", run->done.load(), read / 1048576.0);
  std::string line = text;
  if (total > 0) {
    std::snprintf(text, sizeof text, " of %.1f", total / 1048576.0);
    line += text;
  }
  return line + " MiB read";
}

// Reads every entry and hands them out in jobs: to the workers, or, with no other thread,
// to this one. Returns the number of entries; false in *read_error when the input could not
// be read.
std::size_t ReadAndHandOut(AllEntries* run, FastaReader* reader, bool alone, bool* read_error) {
  Worker here(0);
  std::size_t entries = 0;
  uint64_t jobs = 0;
  Job job;
  // A job goes to a worker once one is free (at most one waits: memory stays bounded by the
  // entries in hand), or is done here when there is no other thread.
  const auto hand_out = [&] {
    job.number = jobs++;
    if (alone) {
      ProcessJob(run, &job, &here);
      GiveBackLetters(run, &job);
    } else {
      std::unique_lock<std::mutex> lock(run->jobs_mutex);
      run->jobs_changed.wait(lock, [run] { return run->jobs.empty(); });
      run->jobs.push_back(std::move(job));
      run->jobs_changed.notify_all();
    }
    job = Job();
    job.first = entries;
  };
  FastaEntry entry;
  FastaStatus status;
  *read_error = false;
  while (NextFastaEntry(reader, &entry, &status)) {
    *read_error = status == FastaStatus::kReadError;
    if (*read_error) break;
    ++entries;
    job.letters += entry.letters.size();
    job.entries.push_back(std::move(entry));
    job.statuses.push_back(status);
    if (job.entries.size() >= run->limits.entries || job.letters >= run->limits.letters) {
      hand_out();
    }
    // The next entry's letters go where a finished one's were, not into fresh memory.
    std::lock_guard<std::mutex> lock(run->jobs_mutex);
    if (!run->spare.empty()) {
      entry.letters.swap(run->spare.back());
      run->spare.pop_back();
    }
  }
  if (!*read_error && !job.entries.empty()) hand_out();
  return entries;
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
  AllEntries run(r, LimitsFromEnvironment(), &console);
  // One thread reads and analyses in turn; more analyse while this one reads on.
  std::vector<std::thread> workers;
  for (int t = 0; s.threads > 1 && t < s.threads; ++t) workers.emplace_back(Work, &run);
  FastaReader* reader = OpenFastaReader(r.input);
  StartConsole(&console, [&run, reader] { return ProgressText(&run, reader); });
  bool read_error = false;
  std::size_t entries = 0;
  try {
    entries = ReadAndHandOut(&run, reader, workers.empty(), &read_error);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  {
    std::lock_guard<std::mutex> lock(run.jobs_mutex);
    run.no_more_jobs = true;
  }
  run.jobs_changed.notify_all();
  for (std::thread& w : workers) w.join();
  StopConsole(&console);
  CloseFastaReader(reader);
  close(r.input);
  if (read_error || entries == 0) Fail({Stream::kStdoutLine, kErrorReadingFasta});
  // A run that analysed nothing ends as the first entry alone would.
  if (run.analysed == 0 && run.first_failure) Fail(*run.first_failure);
  if (!FinishOutputs(r.outputs, [] {})) return 1;
  PrintElapsedTime(r.start);
  return 0;
}
