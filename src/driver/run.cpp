#include "driver/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "driver/analysis.h"
#include "driver/console.h"
#include "driver/messages.h"
#include "driver/output_file.h"
#include "fatal/fatal.h"
#include "report/report.h"
#include "sequence/composition.h"
#include "sequence/fasta.h"

namespace {

// ---- outputs ---------------------------------------------------------------------------

// An entry's name: its header up to the first blank, as BED lines name it.
std::string NameOf(const std::string& header) {
  return header.substr(0, header.find_first_of(" \t"));
}

std::string Formatted(const char* format, const std::string& a, const std::string& b = "") {
  std::string text = format;
  text.replace(text.find("%s"), 2, a);
  const std::size_t second = text.find("%s");
  return second == std::string::npos ? text : text.replace(second, 2, b);
}


enum Output { kReport, kFasta, kBed, kOutputs };
const char* const kSuffix[kOutputs] = {".seg", ".fas", ".bed"};

// The run's output files, each written through a sink of its own.
struct Outputs {
  bool wanted[kOutputs] = {false, false, false};
  OutputFile files[kOutputs];
  TextSink sinks[kOutputs];
};

[[noreturn]] void Fail(const Failure& f) { Fatal(f.where, f.text); }

// A report, masked FASTA or BED file that cannot be created or put in place ends the run;
// the exit removes whatever temporary output is left.
[[noreturn]] void CannotOpen(const Outputs& o, int which) {
  if (which == kReport) Fatal(FatalStream::kStdoutLine, kCantOpenReport);
  std::string text = kCantOpenFasta;
  Fatal(FatalStream::kStderr, text.replace(text.find("%s"), 2, o.files[which].path));
}

// Every output is checked before any is opened, so a run never puts one in place and fails
// on another; regular files are written under temporary names, renamed at the end.
void OpenOutputs(const Settings& s, const std::string& base, Outputs* o) {
  o->wanted[kReport] = s.report;
  o->wanted[kFasta] = s.mask != MaskStyle::kNone;
  o->wanted[kBed] = s.bed;
  for (int k = 0; k < kOutputs; ++k) {
    if (o->wanted[k] && !PrepareOutputFile(base + kSuffix[k], &o->files[k])) CannotOpen(*o, k);
  }
  for (int k = 0; k < kOutputs; ++k) {
    if (o->wanted[k] && !OpenOutputFile(&o->files[k], &o->sinks[k])) CannotOpen(*o, k);
  }
}

// An output that is the input file itself (a name like it, a link or a hard link to it) would
// replace what is being read: the run stops before anything is written. An input that is no
// regular file, a pipe or a terminal, cannot be an output.
void RefuseOutputThatIsInput(const Settings& s, int fd, const std::string& base) {
  struct stat input;
  if (fstat(fd, &input) != 0 || !S_ISREG(input.st_mode)) return;
  const bool wanted[kOutputs] = {s.report, s.mask != MaskStyle::kNone, s.bed};
  for (int k = 0; k < kOutputs; ++k) {
    struct stat output;
    const std::string path = base + kSuffix[k];
    if (wanted[k] && stat(path.c_str(), &output) == 0 && output.st_dev == input.st_dev &&
        output.st_ino == input.st_ino) {
      Fatal(FatalStream::kStderr, Formatted(kOutputIsInput, path));
    }
  }
}

void DiscardOutputs(Outputs* o) {
  for (OutputFile& f : o->files) DiscardOutputFile(&f);
}

// Closes every output; when all were written completely, puts them in place and returns
// true. A failure prints its message and removes the temporary files. `between` runs once
// the masked FASTA and BED files are closed, before the report is.
template <typename Between>
bool FinishOutputs(Outputs* o, Between between) {
  bool ok = true;
  if (o->wanted[kFasta] && !SinkClose(&o->sinks[kFasta])) {
    std::fputs("Error closing FASTA file\n", stderr);
    ok = false;
  }
  if (o->wanted[kBed] && !SinkClose(&o->sinks[kBed])) {
    std::fputs("Error closing BED file\n", stderr);
    ok = false;
  }
  between();
  if (o->wanted[kReport] && !SinkClose(&o->sinks[kReport])) {
    PrintMessage(FatalStream::kStdoutLine, kErrorClosingReport);
    ok = false;
  }
  if (!ok) {
    DiscardOutputs(o);
    return false;
  }
  // The report goes into place last: once it is there, the run is complete.
  for (const int k : {kFasta, kBed, kReport}) {
    if (o->wanted[k] && !CommitOutputFile(&o->files[k])) CannotOpen(*o, k);
  }
  return true;
}

// ---- one entry's outputs, in input order -----------------------------------------------

// Entries are written in input order, whichever finishes first: entry i writes once the
// entries before it are written.
struct WriteOrder {
  std::mutex mutex;
  std::condition_variable turn;
  std::size_t next = 0;
};

// The outputs of one entry: kept in memory while earlier entries are being written (up to a
// bound, then it waits), written straight to the run's files once its turn has come.
// What an entry says on the standard streams, kept until its outputs reach the files.
struct EntryNotes {
  std::string bed_name;  // the first field of its BED lines
  std::string out;       // its line on standard output
  std::string err;       // why it was skipped, if it was
};

// What the entries say on the standard streams, in input order; only the entry whose turn it
// is to write says anything.
struct Notices {
  Console* console;
  bool bed;
  std::size_t entries = 0;                                  // entries announced so far
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

void Announce(Notices* n, const EntryNotes& e) {
  const std::string err = BedNameWarnings(n, e.bed_name, ++n->entries) + e.err;
  if (!err.empty()) ConsoleErr(n->console, err);
  ConsoleOut(n->console, e.out);
}

struct EntryOutput {
  EntryOutput(std::size_t i, Outputs* o, WriteOrder* w, std::size_t bound, Notices* n = nullptr)
      : index(i), run(o), order(w), limit(bound), notices(n) {}
  std::size_t index;
  Outputs* run;
  WriteOrder* order;
  std::size_t limit;  // bytes a sink may hold before the entry waits for its turn
  Notices* notices;   // where the entries' notes go once they are written; none for one entry
  bool streaming = false;
  TextSink sinks[kOutputs];
  std::vector<EntryNotes> pending;  // notes of entries written to the sinks, not yet told
};

// Tells what the entries written so far have to say; their outputs have reached the files.
void AnnouncePending(EntryOutput* e) {
  for (const EntryNotes& notes : e->pending) Announce(e->notices, notes);
  e->pending.clear();
}

// Blocks of this size reach the files, a size the caches hold.
constexpr std::size_t kStreamBlock = std::size_t{1} << 20;

// Writes what the sinks hold and lets them write straight on, in blocks of kStreamBlock.
void Stream(EntryOutput* e) {
  e->streaming = true;
  for (int k = 0; k < kOutputs; ++k) {
    TextSink& sink = e->sinks[k];
    sink.file = e->run->sinks[k].file;
    SinkFlush(&sink);
    if (sink.buffer.size() > kStreamBlock) sink.buffer.resize(kStreamBlock);
  }
  AnnouncePending(e);
}

// Streams once the entry's turn has come, without waiting for it.
void StreamIfTurn(EntryOutput* e) {
  if (e->streaming) return;
  std::unique_lock<std::mutex> lock(e->order->mutex);
  if (e->order->next != e->index) return;
  lock.unlock();
  Stream(e);
}

// Called by a sink whose buffer is full: streams when the entry's turn has come, waits for
// it when the sink holds its bound, else lets the sink grow.
void OnSinkFull(void* context) {
  auto* e = static_cast<EntryOutput*>(context);
  if (e->streaming) return;
  std::unique_lock<std::mutex> lock(e->order->mutex);
  const bool full = std::any_of(e->sinks, e->sinks + kOutputs,
                                [e](const TextSink& s) { return s.used >= e->limit; });
  if (e->order->next != e->index && !full) return;
  e->order->turn.wait(lock, [e] { return e->order->next == e->index; });
  lock.unlock();
  Stream(e);
}

void PrepareEntryOutput(EntryOutput* e) {
  for (TextSink& sink : e->sinks) {
    sink.on_full = OnSinkFull;
    sink.context = e;
    if (sink.buffer.size() < kStreamBlock) sink.buffer.resize(kStreamBlock);
  }
}

// Writes what is left, once the entry's turn has come; the run's sinks learn of any failed
// write.
void FinishEntryOutput(EntryOutput* e) {
  if (!e->streaming) {
    std::unique_lock<std::mutex> lock(e->order->mutex);
    e->order->turn.wait(lock, [e] { return e->order->next == e->index; });
    lock.unlock();
    Stream(e);
  }
  for (int k = 0; k < kOutputs; ++k) {
    SinkFlush(&e->sinks[k]);
    e->run->sinks[k].failed |= e->sinks[k].failed;
    e->sinks[k].file = nullptr;
  }
  if (e->notices != nullptr) AnnouncePending(e);
}

void PassTurn(EntryOutput* e) {
  std::lock_guard<std::mutex> lock(e->order->mutex);
  e->order->next = e->index + 1;
  e->order->turn.notify_all();
}

EntrySinks SinksOf(const Outputs& run, EntryOutput* e) {
  const auto at = [&](int k) { return run.wanted[k] ? &e->sinks[k] : nullptr; };
  return EntrySinks{at(kReport), at(kFasta), at(kBed)};
}

// ---- the first entry alone -------------------------------------------------------------

// Runs out of memory: the message, no temporary file, status 1, from any thread.
[[noreturn]] void OutOfMemory() {
  PrintMessage(FatalStream::kStdoutLine, kAllocationError);
  DiscardAllTemporaryFiles();
  _exit(1);
}

void PrintElapsed(std::time_t start) {
  std::printf("\nElapsed time: %d seconds\n", static_cast<int>(std::time(nullptr) - start));
}

// Writes an analysed entry: its report block, masked copy and BED lines.
EntryCounts WriteAnalysed(const Settings& s, const FastaEntry& entry, const std::string& unmasked,
                          const EntryAnalysis& a, const EntrySinks& sinks, PValueTable* table) {
  if (sinks.report != nullptr) WriteReportHeader(sinks.report, HeaderOf(s, a));
  return WriteSegmentsNT(ReportInputOf(s, a, entry.name, entry.seq, unmasked), a.segments, sinks,
                         table);
}

// The letters the masked copy starts from: the input's own case with --keep-case.
std::string KeptLetters(const Settings& s, const std::string& seq) {
  return s.keep_case && s.mask != MaskStyle::kNone ? seq : std::string();
}

int RunFirstEntry(const Settings& s, const std::optional<Failure>& parse_failure, int fd,
                  const std::string& base, std::time_t start, int64_t seed) {
  FastaEntry entry;
  bool more = false;
  const FastaStatus status = ReadFastaFile(fd, &entry, &more);
  close(fd);
  if (status == FastaStatus::kTooLong) Fatal(FatalStream::kStderr, kSequenceTooLong);
  if (status != FastaStatus::kOk) Fatal(FatalStream::kStdoutLine, kErrorReadingFasta);
  if (more) std::fputs(kOnlyFirstEntry, stderr);
  if (s.bed && NameOf(entry.name).empty()) {
    std::fputs(Formatted(kNoBedName, "1").c_str(), stderr);
  }
  const std::string original = KeptLetters(s, entry.seq);
  EntryAnalysis a;
  if (auto failure = TakeComposition(&entry.seq, &a)) Fail(*failure);
  if (parse_failure) Fail(*parse_failure);
  if (auto failure = EncodeEntry(s, entry.seq, &a)) Fail(*failure);
  std::printf(s.estimate_linkage ? "Estimated linkage distance = %d\n" : "Linkage distance = %d\n",
              a.max_separation);
  Outputs outputs;
  OpenOutputs(s, base, &outputs);
  if (s.mode() == Mode::kRuns && s.draws_random()) {
    std::fputs(Formatted(kRandomSeed, std::to_string(seed)).c_str(), stdout);
  }
  DetectSegments(
      s, seed, [](int k) { std::printf("N=%d\n", k); }, &a);
  // Alone, the entry's turn has come: it writes straight to the files.
  WriteOrder order;
  EntryOutput out{0, &outputs, &order, 0};
  Stream(&out);
  PValueTable* table = NewPValueTable();
  const EntryCounts counts = WriteAnalysed(s, entry, original.empty() ? entry.seq : original, a,
                                           SinksOf(outputs, &out), table);
  DeletePValueTable(table);
  FinishEntryOutput(&out);
  const bool ok = FinishOutputs(&outputs, [&] {
    if (outputs.wanted[kFasta]) {
      std::printf("Masked positions: %lld of %d %.2lf\n", static_cast<long long>(counts.masked),
                  a.length, static_cast<double>(counts.masked) * 100.0 / a.length);
    }
    if (outputs.wanted[kReport] && !counts.normal_valid) std::fputs(kNormalNotValid, stderr);
  });
  if (!ok) return 1;
  PrintElapsed(start);
  return 0;
}

// ---- every entry ----------------------------------------------------------------------

// Entries in input order, analysed and written one after another by one worker: many small
// entries share one job, so that the workers meet seldom.
struct Job {
  std::size_t index = 0;  // the job's place in the order of writing
  std::size_t first = 0;  // the number of the first entry, counted from 0 over the input
  std::vector<FastaEntry> entries;
  std::vector<FastaStatus> statuses;
  std::size_t letters = 0;
};
constexpr std::size_t kJobEntries = 4096;
constexpr std::size_t kJobLetters = std::size_t{4} << 20;

// Bytes an entry's sink keeps in memory while earlier entries are written; then it waits.
constexpr std::size_t kWaitingBound = std::size_t{32} << 20;

// What the workers share: the settings, the outputs, the order of writing, the jobs.
struct AllEntries {
  AllEntries(const Settings& settings, int64_t run_seed, Outputs* o, std::size_t bound,
             Console* console)
      : s(settings), seed(run_seed), outputs(o), limit(bound), notices{console, settings.bed, 0, {}} {}
  const Settings& s;
  int64_t seed;
  Outputs* outputs;
  std::size_t limit;  // bytes an entry keeps in memory before waiting for its turn
  WriteOrder order;
  Notices notices;
  std::mutex jobs_mutex;
  std::condition_variable jobs_changed;
  std::deque<Job> jobs;
  std::vector<std::string> spare;  // storage of letters done with, for the reader to use again
  bool no_more_jobs = false;
  std::atomic<std::size_t> analysed{0}, done{0};
  std::optional<Failure> first_failure;  // why the first entry was skipped, if it was
};

// The failure that single(E) would stop with when the reader already saw one.
std::optional<Failure> ReadFailure(FastaStatus status) {
  if (status == FastaStatus::kTooLong) return Failure{FatalStream::kStderr, kSequenceTooLong};
  if (status != FastaStatus::kOk) return Failure{FatalStream::kStdoutLine, kErrorReadingFasta};
  return std::nullopt;
}

// The words of a message, without the line ends around them.
std::string Words(const std::string& text) {
  const std::size_t from = text.find_first_not_of('\n');
  const std::size_t to = text.find_last_not_of('\n');
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

// What a worker keeps from one job to the next: the p-value table and the buffers of the
// sinks, so that entry after entry allocates nothing new.
struct Worker {
  explicit Worker(std::size_t bound) {
    // Room for all a waiting entry may hold, taken once: growing a buffer again and again
    // would copy it and touch fresh memory each time.
    for (std::string& b : buffers) b.reserve(bound + 2 * kStreamBlock);
  }
  ~Worker() { DeletePValueTable(table); }
  PValueTable* table = NewPValueTable();
  std::string buffers[kOutputs];
};

// Analyses and writes one entry; its notes join those waiting to be told. Returns the failure
// that skipped it.
std::optional<Failure> ProcessEntry(AllEntries* run, FastaEntry* entry, FastaStatus status,
                                    EntryOutput* out, Worker* worker) {
  const Settings& s = run->s;
  const std::string original = KeptLetters(s, entry->seq);
  EntryAnalysis a;
  a.length = static_cast<int>(entry->seq.size());
  std::optional<Failure> failure = ReadFailure(status);
  if (!failure) failure = TakeComposition(&entry->seq, &a);
  if (!failure) failure = EncodeEntry(s, entry->seq, &a);
  EntryNotes notes;
  notes.bed_name = NameOf(entry->name);
  notes.out = notes.bed_name + "\t" + std::to_string(entry->seq.size());
  const std::string& unmasked = original.empty() ? entry->seq : original;
  if (!failure) {
    DetectSegments(
        s, run->seed, [](int) {}, &a);
    const EntryCounts counts =
        WriteAnalysed(s, *entry, unmasked, a, SinksOf(*run->outputs, out), worker->table);
    notes.out += "\t" + std::to_string(a.max_separation) + "\t" +
                 std::to_string(counts.segments) + "\t" +
                 (run->outputs->wanted[kFasta] ? std::to_string(counts.masked) : "-") +
                 "\tanalysed\n";
  } else {
    if (run->outputs->wanted[kFasta]) {
      if (!entry->seq.empty()) Conv2Upper(&entry->seq[0], static_cast<long>(entry->seq.size()));
      WriteFastaEntry(&out->sinks[kFasta], entry->name, unmasked.data(),
                      static_cast<long>(unmasked.size()));
    }
    notes.out += "\t-\t-\t-\tskipped\n";
    notes.err = Formatted(kSkippedEntry, notes.bed_name, Words(failure->text));
  }
  out->pending.push_back(std::move(notes));
  // Once the job's turn has come, each entry is told as soon as it is written.
  StreamIfTurn(out);
  if (out->streaming) AnnouncePending(out);
  return failure;
}

// Analyses and writes a job's entries; in its turn, what they say on the standard streams.
void ProcessJob(AllEntries* run, Job* job, Worker* worker) {
  EntryOutput out{job->index, run->outputs, &run->order, run->limit, &run->notices};
  for (int k = 0; k < kOutputs; ++k) out.sinks[k].buffer.swap(worker->buffers[k]);
  PrepareEntryOutput(&out);
  std::size_t analysed = 0;
  for (std::size_t e = 0; e < job->entries.size(); ++e) {
    const auto failure = ProcessEntry(run, &job->entries[e], job->statuses[e], &out, worker);
    if (!failure) ++analysed;
    if (job->first + e == 0 && failure) run->first_failure = failure;
  }
  FinishEntryOutput(&out);
  run->analysed += analysed;
  run->done += job->entries.size();
  PassTurn(&out);
  for (int k = 0; k < kOutputs; ++k) out.sinks[k].buffer.swap(worker->buffers[k]);
}

void Work(AllEntries* run) {
  Worker worker(run->limit);
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
      lock.lock();
      for (FastaEntry& e : job.entries) run->spare.push_back(std::move(e.seq));
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

int RunAllEntries(const Settings& s, const std::optional<Failure>& parse_failure, int fd,
                  const std::string& base, std::time_t start, int64_t seed) {
  if (parse_failure) Fail(*parse_failure);
  if (auto failure = CheckSettings(s, nullptr, nullptr)) Fail(*failure);
  Outputs outputs;
  OpenOutputs(s, base, &outputs);
  Console console;
  if (s.mode() == Mode::kRuns && s.draws_random()) {
    ConsoleOut(&console, Formatted(kRandomSeed, std::to_string(seed)));
  }
  // Alone, a worker's entry always has its turn and writes straight on; with others, an
  // entry keeps a few MiB while it waits.
  AllEntries run{s, seed, &outputs, s.threads == 1 ? 0 : kWaitingBound, &console};
  // One thread reads and analyses in turn; more analyse while this one reads on.
  std::vector<std::thread> workers;
  for (int t = 0; s.threads > 1 && t < s.threads; ++t) workers.emplace_back(Work, &run);
  Worker alone(0);
  FastaReader* reader = OpenFastaReader(fd);
  StartConsole(&console, [&run, reader] { return ProgressText(&run, reader); });
  bool read_error = false;
  std::size_t entries = 0, jobs = 0;
  Job job;
  // Hands a job to a worker (at most one waits for one: memory stays bounded by the entries
  // in hand), or does it here when there is no other thread.
  const auto dispatch = [&] {
    job.index = jobs++;
    std::unique_lock<std::mutex> lock(run.jobs_mutex);
    if (workers.empty()) {
      lock.unlock();
      ProcessJob(&run, &job, &alone);
      lock.lock();
      for (FastaEntry& e : job.entries) run.spare.push_back(std::move(e.seq));
    } else {
      run.jobs_changed.wait(lock, [&run] { return run.jobs.empty(); });
      run.jobs.push_back(std::move(job));
      run.jobs_changed.notify_all();
    }
    job = Job();
    job.first = entries;
  };
  FastaEntry entry;
  FastaStatus status;
  while (NextFastaEntry(reader, &entry, &status)) {
    read_error = status == FastaStatus::kReadError;
    if (read_error) break;
    ++entries;
    job.letters += entry.seq.size();
    job.entries.push_back(std::move(entry));
    job.statuses.push_back(status);
    if (job.entries.size() >= kJobEntries || job.letters >= kJobLetters) dispatch();
    // The next entry's letters go where a finished one's were, not into fresh memory.
    std::lock_guard<std::mutex> lock(run.jobs_mutex);
    if (!run.spare.empty()) {
      entry.seq.swap(run.spare.back());
      run.spare.pop_back();
    }
  }
  if (!read_error && !job.entries.empty()) dispatch();
  {
    std::lock_guard<std::mutex> lock(run.jobs_mutex);
    run.no_more_jobs = true;
  }
  run.jobs_changed.notify_all();
  for (std::thread& w : workers) w.join();
  StopConsole(&console);
  CloseFastaReader(reader);
  close(fd);
  if (read_error || entries == 0) Fatal(FatalStream::kStdoutLine, kErrorReadingFasta);
  // A run that analysed nothing ends as the first entry alone would.
  if (run.analysed == 0 && run.first_failure) Fail(*run.first_failure);
  if (!FinishOutputs(&outputs, [] {})) return 1;
  PrintElapsed(start);
  return 0;
}

}  // namespace

int CheckStandardOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fputs(kStandardOutputError, stderr);
  return 1;
}

int RunKestra(int argc, char** argv) {
  const std::time_t start = std::time(nullptr);
  std::optional<Failure> parse_failure;
  const Settings s = ParseCommandLine(argc, argv, &parse_failure);
  // Progress reaches a pipe or a log as it is printed; with many entries, a line each would
  // cost a write each, so the lines are flushed at least once a second instead.
  std::setvbuf(stdout, nullptr, s.all_entries ? _IOFBF : _IOLBF, 0);
  const bool alone = argc == 2;  // --help or --version as the only argument
  const std::string first = argc >= 2 ? argv[1] : "";
  if (s.help || (alone && first == "--help")) {
    std::fputs(HelpText().c_str(), stdout);
    return CheckStandardOutput();
  }
  if (s.version || (alone && first == "--version")) {
    std::fputs(VersionText().c_str(), stdout);
    return CheckStandardOutput();
  }
  if (argc < 3) Fatal(FatalStream::kStdoutLine, kHelp);
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) Fatal(FatalStream::kStdoutLine, kCantOpenInput);
  RefuseOutputThatIsInput(s, fd, argv[2]);
  const int64_t seed = s.seed != 0 ? s.seed : ClockSeed();
  try {
    const int status = s.all_entries ? RunAllEntries(s, parse_failure, fd, argv[2], start, seed)
                                     : RunFirstEntry(s, parse_failure, fd, argv[2], start, seed);
    return status == 0 ? CheckStandardOutput() : status;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}
