// What the library's calls share: the settings an Options stands for, the failures thrown
// with the command's words, and one entry analysed into a Result on a pipeline's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "command_line/settings.h"
#include "entry/entry.h"
#include "kestra/kestra.h"
#include "sequence/survey.h"

namespace kestra {

// The words of a message, without the line ends around it.
std::string MessageWords(const std::string& text);
// Throws std::invalid_argument with the failure's words.
[[noreturn]] void ThrowInvalid(const Failure& failure);

// The settings of the options, read as the command reads the switches and long options they
// stand for, and checked as it checks them; a switch read otherwise than written is refused
// as with --strict. Throws std::invalid_argument.
Settings SettingsOf(const Options& options);
// The seed of the random sequences: the options', or one from the clock.
int64_t SeedOf(const Options& options);

// Segments that pieces running on other threads collect, one list a buffer of the pipeline.
using SegmentBuffers = std::vector<std::vector<Segment>>;

// Analyses the entry into *result; the failure that skips it, if any. The context's
// significance gives the E-values' entries and a background.
std::optional<Failure> AnalyseInto(const EntryContext& c, uint64_t job, FastaEntry* entry,
                                   FastaStatus status, EntryScratch* scratch,
                                   SegmentBuffers* buffers, Result* result);

// Throws std::runtime_error with the words of the message `format` about `path`: the
// command's "cannot open" and "cannot read".
[[noreturn]] void ThrowAboutPath(const char* format, const std::string& path,
                                 const std::string& reason);
// What a look across the input gives its entries: the background's frequencies and the
// entries the E-values are taken over. `survey_input` surveys the input when the settings
// need it (a pipe cannot be); a background file is surveyed here.
Significance LookAcross(const Settings& s, const std::function<InputSurvey()>& survey_input);

}  // namespace kestra
