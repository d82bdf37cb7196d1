// The look across the input that a background and E-values need: the background file's
// composition, and the input's count of entries and composition, as the command takes them.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "command_line/messages.h"
#include "library/library.h"
#include "sequence/composition.h"

namespace kestra {
namespace {

// The frequencies of the surveyed letters; a background without nucleotides is refused.
void TakeBackground(const InputSurvey& survey, const std::string& name, Significance* out) {
  out->background = FrequenciesOf(survey.counts, out->frequencies);
  if (!out->background) {
    ThrowInvalid({StandardStream::kStderr, Formatted(kBackgroundWithoutNucleotides, name)});
  }
}

InputSurvey SurveyFile(const std::string& path) {
  const int fd = path == "-" ? 0 : open(path.c_str(), O_RDONLY);
  if (fd < 0) ThrowAboutPath(kCannotOpenPath, path, std::strerror(errno));
  InputSurvey survey;
  ReadProblem problem;
  const bool read = SurveyInput(fd, nullptr, &survey, &problem);
  if (fd != 0) close(fd);
  if (!read) ThrowAboutPath(kCannotReadPath, path, problem.reason);
  return survey;
}

}  // namespace

void ThrowAboutPath(const char* format, const std::string& path, const std::string& reason) {
  throw std::runtime_error(MessageWords(Formatted(format, path, reason)));
}

Significance LookAcross(const Settings& s, const std::function<InputSurvey()>& survey_input) {
  Significance out;
  if (!s.background.empty() && !s.surveys_composition()) {
    TakeBackground(SurveyFile(s.background), s.background, &out);
  }
  out.entries = s.evalue_entries;
  if (!s.surveys_entries() && !s.surveys_composition()) return out;
  const InputSurvey survey = survey_input();
  if (s.surveys_entries()) out.entries = std::max<int64_t>(1, survey.entries);
  if (s.surveys_composition()) TakeBackground(survey, kBackgroundInput, &out);
  return out;
}

}  // namespace kestra
