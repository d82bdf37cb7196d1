// Every entry of a file through the pipeline: read a job of entries (one thread at a time, in
// input order), analyse them on every thread, hand their results to the caller in input order.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "command_line/messages.h"
#include "library/library.h"
#include "parallel/reading_loop.h"
#include "report/report.h"

namespace kestra {
namespace {

// Entries a job holds at most, and the letters once it has them it is handed out with.
constexpr std::size_t kJobEntries = 4096;
constexpr std::size_t kJobLetters = std::size_t{4} << 20;

struct JobSlot {
  std::vector<FastaEntry> entries;  // the first `count` (their storage used again by later jobs)
  std::vector<FastaStatus> statuses;
  std::size_t count = 0;
  std::vector<Entry> done;
};

struct Reading {
  Settings settings;
  Pipeline* pipeline = nullptr;
  EntryStorage storage;
  EntryContext context;
  SegmentBuffers buffers;
  std::vector<EntryScratch> scratch;  // a lane's
  std::vector<JobSlot> slots;
  FastaReader* reader = nullptr;
  ParallelLoop loop;
  uint64_t reading_job = 0;
  bool read_error = false;
  ReadProblem problem;
};

bool ReadJob(Reading* r, uint64_t job, JobSlot* slot) {
  if (r->read_error) return false;
  r->reading_job = job;
  slot->count = 0;
  std::size_t letters = 0;
  while (slot->count < kJobEntries && letters < kJobLetters) {
    if (slot->entries.size() == slot->count) {
      slot->entries.emplace_back();
      slot->statuses.emplace_back();
    }
    FastaEntry& entry = slot->entries[slot->count];
    FastaStatus& status = slot->statuses[slot->count];
    if (!NextFastaEntry(r->reader, &entry, &status)) break;
    if (status == FastaStatus::kReadError) {
      r->read_error = true;
      r->problem = FastaReaderProblem(r->reader);
      break;
    }
    letters += entry.letters.size();
    ++slot->count;
  }
  return slot->count > 0;
}

void AnalyseJob(Reading* r, uint64_t job, JobSlot* slot) {
  slot->done.resize(slot->count);
  EntryScratch* scratch = &r->scratch[static_cast<std::size_t>(Lane())];
  for (std::size_t i = 0; i < slot->count; ++i) {
    FastaEntry* entry = &slot->entries[i];
    Entry& e = slot->done[i];
    e.header = entry->header;
    e.name = BedName(entry->header);
    e.length = static_cast<int64_t>(LetterCount(*entry));
    e.skipped.reset();
    const std::optional<Failure> failure =
        AnalyseInto(r->context, job, entry, slot->statuses[i], scratch, &r->buffers, &e.result);
    if (failure) {
      e.skipped = MessageWords(failure->text);
      e.result = Result();
    }
  }
}

void WriteJob(JobSlot* slot, const std::function<void(Entry&&)>& each) {
  for (std::size_t i = 0; i < slot->count; ++i) each(std::move(slot->done[i]));
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
  int fd;
  ~Closing() {
    if (r->reader != nullptr) CloseFastaReader(r->reader);
    if (r->pipeline != nullptr) StopPipeline(r->pipeline);
    if (fd > 0) close(fd);
  }
};

}  // namespace

void Read(const std::string& path, const std::function<void(Entry&&)>& each, const Options& options,
          int threads) {
  auto r = std::make_unique<Reading>();
  r->settings = SettingsOf(options);
  if (threads < 1 || threads > 1024) {
    ThrowInvalid({StandardStream::kStderr,
                  Formatted(kInvalidValue, "--threads " + std::to_string(threads))});
  }
  const int fd = OpenPath(path);
  Closing closing{r.get(), fd};
  const Settings& s = r->settings;
  const Significance significance = LookAcross(s, [&] { return SurveyOf(s, path, fd); });
  r->pipeline = StartPipeline(threads);
  r->context = MakeEntryContext(&s, SeedOf(options), r->pipeline, 0, &r->storage);
  r->context.significance = significance;
  r->buffers.resize(static_cast<std::size_t>(PieceBuffers(r->pipeline)));
  r->scratch.resize(static_cast<std::size_t>(Lanes(r->pipeline)));
  r->slots.resize(static_cast<std::size_t>(2 * threads + 2));
  r->loop = ReadingLoop(r->pipeline, &r->reading_job);
  // A plain file is read by position, as the command reads its ranges; anything else as a
  // stream, BGZF blocks inflated on every thread.
  const LetterLimit limit{kFastaMaxLetters, true};
  uint64_t size = 0;
  r->reader = IsPlainFile(fd, &size) ? OpenFastaRange(fd, 0, size, limit)
                                     : OpenFastaReader(fd, &r->loop, limit);
  Reading* run = r.get();
  PipelineSteps steps;
  steps.slots = r->slots.size();
  steps.read = [run](uint64_t job, std::size_t slot) {
    return ReadJob(run, job, &run->slots[slot]);
  };
  steps.analyse = [run](uint64_t job, std::size_t slot) {
    AnalyseJob(run, job, &run->slots[slot]);
  };
  uint64_t jobs = 0;
  steps.write = [run, &each, &jobs](uint64_t, std::size_t slot) {
    ++jobs;
    WriteJob(&run->slots[slot], each);
  };
  RunPipeline(r->pipeline, steps);
  if (r->read_error) ThrowAboutPath(kCannotReadPath, path, r->problem.reason);
  // An input without any entry fails as the command's run on it does.
  if (jobs == 0) throw std::runtime_error(MessageWords(kErrorReadingFasta));
}

}  // namespace kestra
