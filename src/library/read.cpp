// Every entry of a file through the pipeline, read as the command reads it: a plain file a
// range of bytes a job, whose entries the thread that analyses the job reads into the one
// entry it keeps; anything else a stream, a job of entries read one thread at a time. The
// results are handed to the caller in input order.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "command_line/messages.h"
#include "library/library.h"
#include "parallel/reading_loop.h"
#include "report/report.h"
#include "sequence/job_reading.h"

namespace kestra {
namespace {

// Entries a job read from a stream holds at most, and the letters once it has them it is
// handed out with; the bytes of a plain file's range.
constexpr std::size_t kJobEntries = 4096;
constexpr std::size_t kJobLetters = std::size_t{4} << 20;
constexpr uint64_t kRangeBytes = uint64_t{256} << 10;

struct JobSlot {
  uint64_t from = 0, to = 0;          // a plain file's range of bytes
  std::vector<FastaEntry> entries;    // entries read from a stream: the first `count`
  std::vector<FastaStatus> statuses;  // (their storage used again by later jobs)
  std::size_t count = 0;
  std::vector<Entry> done;  // the first `analysed`
  std::size_t analysed = 0;
};

// What a thread keeps from one job to the next: the entry read from a range, and the bits of
// the entry it analyses.
struct LaneWork {
  FastaEntry entry;
  EntryScratch scratch;
};

struct Reading {
  Settings settings;
  Pipeline* pipeline = nullptr;
  EntryStorage storage;
  EntryContext context;
  SegmentBuffers buffers;
  std::vector<LaneWork> lanes;
  std::vector<JobSlot> slots;
  int fd = -1;
  LetterLimit limit{kFastaMaxLetters, true};
  // A plain file, read by ranges.
  bool plain = false;
  uint64_t size = 0;
  uint64_t next = 0;                     // where the next job's range begins
  std::atomic<uint64_t> entries_end{0};  // where the entries the ranges read so far end
  std::vector<char> block;
  // Anything else, read by the read step.
  FastaReader* reader = nullptr;
  ParallelLoop loop;
  uint64_t reading_job = 0;
  EarliestReadFailure read_failure;
};

// The next range of a plain file. On one thread the job before is analysed by then: the
// range begins past its entries. On several, a range begins where an entry begins and ends
// where the first entry after the range's size begins.
bool ReadRange(Reading* r, uint64_t job, JobSlot* slot) {
  ReadProblem problem;
  const RangeCut cut =
      NextJobRange(r->fd, 0, r->size, std::max(r->next, r->entries_end.load()), kRangeBytes,
                   PipelineThreads(r->pipeline) > 1, &r->block, &slot->from, &slot->to, &problem);
  if (cut == RangeCut::kFailed) NoteReadFailure(&r->read_failure, job, problem);
  if (cut != RangeCut::kCut) return false;
  r->next = slot->to;
  return !r->read_failure.failed;
}

// The entries of a stream up to a job's size.
bool ReadEntries(Reading* r, uint64_t job, JobSlot* slot) {
  r->reading_job = job;
  if (!ReadJobEntries(r->reader, kJobEntries, kJobLetters, &slot->entries, &slot->statuses,
                      &slot->count)) {
    NoteReadFailure(&r->read_failure, job, FastaReaderProblem(r->reader));
  }
  return slot->count > 0;
}

bool ReadJob(Reading* r, uint64_t job, JobSlot* slot) {
  if (r->read_failure.failed) return false;
  slot->count = 0;
  slot->analysed = 0;
  return r->plain ? ReadRange(r, job, slot) : ReadEntries(r, job, slot);
}

// Analyses the entry into the job's next result.
void AnalyseEntryOf(Reading* r, uint64_t job, JobSlot* slot, FastaEntry* entry,
                    FastaStatus status) {
  if (slot->done.size() == slot->analysed) slot->done.emplace_back();
  Entry& e = slot->done[slot->analysed++];
  e.header = entry->header;
  e.name = BedName(entry->header);
  e.length = static_cast<int64_t>(LetterCount(*entry));
  e.skipped.reset();
  EntryScratch* scratch = &r->lanes[static_cast<std::size_t>(Lane())].scratch;
  const std::optional<Failure> failure =
      AnalyseInto(r->context, job, entry, status, scratch, &r->buffers, &e.result);
  if (failure) {
    e.skipped = MessageWords(failure->text);
    e.result = Result();
  }
}

// The entries of a range, read on this thread; an input that cannot be read ends the
// reading: what is left of the range is not analysed.
void AnalyseRange(Reading* r, uint64_t job, JobSlot* slot) {
  FastaEntry* entry = &r->lanes[static_cast<std::size_t>(Lane())].entry;
  FastaReader* reader = OpenFastaRange(r->fd, slot->from, slot->to, r->limit);
  FastaStatus status;
  while (!r->read_failure.failed && NextFastaEntry(reader, entry, &status)) {
    if (status == FastaStatus::kReadError) {
      NoteReadFailure(&r->read_failure, job, FastaReaderProblem(reader));
      break;
    }
    AnalyseEntryOf(r, job, slot, entry, status);
  }
  if (PipelineThreads(r->pipeline) == 1) r->entries_end = FastaRangeEnd(reader);
  CloseFastaReader(reader);
}

void AnalyseJob(Reading* r, uint64_t job, JobSlot* slot) {
  if (r->plain) {
    AnalyseRange(r, job, slot);
    return;
  }
  for (std::size_t i = 0; i < slot->count; ++i) {
    AnalyseEntryOf(r, job, slot, &slot->entries[i], slot->statuses[i]);
  }
}

// Hands the job's results over, unless an earlier job's input could not be read: its
// entries come after those the reading stopped at.
std::size_t WriteJob(Reading* r, uint64_t job, JobSlot* slot,
                     const std::function<void(Entry&&)>& each) {
  if (AfterReadFailure(&r->read_failure, job)) return 0;
  for (std::size_t i = 0; i < slot->analysed; ++i) each(std::move(slot->done[i]));
  return slot->analysed;
}

int OpenPath(const std::string& path) {
  if (path == "-") return 0;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) ThrowAboutPath(kCannotOpenPath, path, std::strerror(errno));
  return fd;
}

// The input surveyed for a background or E-values: read once before, so not a pipe.
InputSurvey SurveyOf(const Settings& s, const std::string& path, int fd) {
  if (path == "-") {
    if (s.surveys_composition()) ThrowInvalid({StandardStream::kStderr, kBackgroundOfAPipe});
    ThrowInvalid(
        {StandardStream::kStderr, s.mask_by_evalue ? kMaskEvalueOfAPipe : kEvaluesOfAPipe});
  }
  InputSurvey survey;
  ReadProblem problem;
  const off_t offset = lseek(fd, 0, SEEK_CUR);
  const bool read = SurveyInput(fd, nullptr, &survey, &problem);
  if (offset >= 0) lseek(fd, offset, SEEK_SET);
  if (!read) ThrowAboutPath(kCannotReadPath, path, problem.reason);
  return survey;
}

// Closes what the reading holds, however it ends.
struct Closing {
  Reading* r;
  ~Closing() {
    if (r->reader != nullptr) CloseFastaReader(r->reader);
    if (r->pipeline != nullptr) StopPipeline(r->pipeline);
    if (r->fd > 0) close(r->fd);
  }
};

// Where the reading reads: a plain file's ranges, or a stream whose BGZF blocks are inflated
// on every thread.
void ChooseReading(Reading* r) {
  r->plain = IsPlainFile(r->fd, &r->size);
  if (r->plain) return;
  r->loop = ReadingLoop(r->pipeline, &r->reading_job);
  r->reader = OpenFastaReader(r->fd, &r->loop, r->limit);
}

}  // namespace

void Read(const std::string& path, const std::function<void(Entry&&)>& each, const Options& options,
          int threads) {
  auto r = std::make_unique<Reading>();
  r->settings = SettingsOf(options);
  if (threads < 1 || threads > 1024) {
    ThrowInvalid({StandardStream::kStderr,
                  Formatted(kInvalidValue, "--threads " + std::to_string(threads))});
  }
  r->fd = OpenPath(path);
  Closing closing{r.get()};
  const Settings& s = r->settings;
  const Significance significance = LookAcross(s, [&] { return SurveyOf(s, path, r->fd); });
  r->pipeline = StartPipeline(threads);
  r->context = MakeEntryContext(&s, SeedOf(options), r->pipeline, 0, &r->storage);
  r->context.significance = significance;
  r->buffers.resize(static_cast<std::size_t>(PieceBuffers(r->pipeline)));
  r->lanes.resize(static_cast<std::size_t>(Lanes(r->pipeline)));
  r->slots.resize(JobsInFlight(threads));
  ChooseReading(r.get());
  Reading* run = r.get();
  PipelineSteps steps = StepsOverSlots(run, &run->slots, ReadJob, AnalyseJob);
  std::size_t entries = 0;
  steps.write = [run, &each, &entries](uint64_t job, std::size_t slot) {
    entries += WriteJob(run, job, &run->slots[slot], each);
  };
  RunPipeline(r->pipeline, steps);
  if (r->read_failure.failed) ThrowAboutPath(kCannotReadPath, path, r->read_failure.problem.reason);
  // An input without any entry fails as the command's run on it does.
  if (entries == 0) throw std::runtime_error(MessageWords(kErrorReadingFasta));
}

}  // namespace kestra
