// The look across the whole input that a background and E-values need, before any entry is
// analysed: the input read once for its count of entries and its composition (every part of
// a --shard run reads it whole, so that all parts use the same figures), and the background
// file, when one is named, for its composition.
#include "sequence/survey.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "command_line/messages.h"
#include "run/run.h"
#include "sequence/composition.h"

namespace kestra {
namespace {

// Whether the input can be read once for the survey and again for the run: a pipe, a
// terminal or a socket cannot. A directory can be tried, and fails as the run would.
bool ReadableTwice(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode);
}

// Surveys fd on a pipeline of `threads`, a BGZF input's blocks inflated on every thread; the
// offset of a file is where it was before.
bool SurveyOnThreads(int fd, int threads, InputSurvey* survey, ReadProblem* problem) {
  const off_t offset = lseek(fd, 0, SEEK_CUR);
  Pipeline* pipeline = StartPipeline(threads);
  const uint64_t job = 0;
  bool ok = false;
  PipelineSteps steps;
  steps.read = [&](uint64_t k, std::size_t) {
    if (k != 0) return false;
    const ParallelLoop loop = ReadingLoop(pipeline, &job);
    ok = SurveyInput(fd, &loop, survey, problem);
    return true;
  };
  steps.analyse = [](uint64_t, std::size_t) {};
  steps.write = [](uint64_t, std::size_t) {};
  RunPipeline(pipeline, steps);
  StopPipeline(pipeline);
  if (offset >= 0) lseek(fd, offset, SEEK_SET);
  return ok;
}

// Why the input cannot be surveyed: the first option that needs it.
Failure RefuseSurveyOfAPipe(const Settings& s) {
  if (s.surveys_composition()) return Failure{StandardStream::kStderr, kBackgroundOfAPipe};
  return Failure{StandardStream::kStderr, s.mask_by_evalue ? kMaskEvalueOfAPipe : kEvaluesOfAPipe};
}

// The frequencies of the surveyed letters into *out; the failure of a background without
// nucleotides.
std::optional<Failure> TakeBackground(const InputSurvey& survey, const std::string& name,
                                      Significance* out) {
  out->background = FrequenciesOf(survey.counts, out->frequencies);
  if (out->background) return std::nullopt;
  return Failure{StandardStream::kStderr, Formatted(kBackgroundWithoutNucleotides, name)};
}

// The background file's composition: read once, so it may be a pipe too.
std::optional<Failure> SurveyBackgroundFile(const Settings& s, Significance* out) {
  const std::string& path = s.background;
  const int fd = path == "-" ? 0 : open(path.c_str(), O_RDONLY);
  if (fd < 0)
    return Failure{StandardStream::kStderr, Formatted(kCannotOpenPath, path, std::strerror(errno))};
  InputSurvey survey;
  ReadProblem problem;
  const bool read = SurveyOnThreads(fd, s.threads, &survey, &problem);
  if (fd != 0) close(fd);
  if (!read)
    return Failure{StandardStream::kStderr, Formatted(kCannotReadPath, path, problem.reason)};
  return TakeBackground(survey, path, out);
}

}  // namespace

std::optional<Failure> LookAcrossTheInput(const RunRequest& r, Significance* out) {
  const Settings& s = *r.settings;
  *out = Significance();
  // Settings that fail already are said by the run as they always are.
  if (r.settings_failure || CheckSettings(s, nullptr, nullptr)) return std::nullopt;
  if (!s.background.empty() && !s.surveys_composition()) {
    if (auto failure = SurveyBackgroundFile(s, out)) return failure;
  }
  out->entries = s.evalue_entries;
  if (!s.surveys_entries() && !s.surveys_composition()) return std::nullopt;
  if (!ReadableTwice(r.input)) return RefuseSurveyOfAPipe(s);
  InputSurvey survey;
  ReadProblem problem;
  if (!SurveyOnThreads(r.input, s.threads, &survey, &problem)) {
    TellReadProblem(r, problem);
    return Failure{StandardStream::kStdoutLine, kErrorReadingFasta};
  }
  // An input without entries fails as the run does; its E-values are never written.
  if (s.surveys_entries()) out->entries = std::max<int64_t>(1, survey.entries);
  if (s.surveys_composition()) return TakeBackground(survey, kBackgroundInput, out);
  return std::nullopt;
}

std::string BackgroundLine(const Settings& s, const Significance& significance) {
  if (!significance.background) return "";
  const double* f = significance.frequencies;
  std::vector<char> line(s.background.size() + 128);
  std::snprintf(line.data(), line.size(), kBackgroundFrequencies, s.background.c_str(), f[0], f[1],
                f[2], f[3]);
  return line.data();
}

}  // namespace kestra
