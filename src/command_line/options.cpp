#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line/long_options.h"
#include "command_line/messages.h"
#include "command_line/settings.h"
#include "sequence/composition.h"

namespace kestra {

namespace {

// What a one-letter switch takes after its letter.
enum class Value { kNone, kInteger, kReal, kResidues };

struct Switch {
  char letter;
  Value value;
};
// In the order their letters are tested.
constexpr Switch kSwitches[] = {
    {'W', Value::kInteger}, {'E', Value::kInteger}, {'S', Value::kInteger},  {'B', Value::kInteger},
    {'P', Value::kReal},    {'M', Value::kReal},    {'N', Value::kNone},     {'K', Value::kNone},
    {'F', Value::kNone},    {'L', Value::kNone},    {'R', Value::kResidues}, {'A', Value::kReal},
    {'T', Value::kReal},    {'G', Value::kReal},    {'C', Value::kReal}};

const Switch* FindSwitch(char letter) {
  for (const Switch& s : kSwitches) {
    if (s.letter == letter) return &s;
  }
  return nullptr;
}

// The value of a switch starts at its fourth character; the third (':') is skipped whatever
// it is. A switch shorter than that reads from empty text.
const char* ValueText(const char* arg) { return std::strlen(arg) >= 3 ? arg + 3 : ""; }

// The switch letter, upper-cased; NUL for an argument shorter than two characters.
char SwitchLetter(const char* arg) {
  const char second = arg[0] == '\0' ? '\0' : arg[1];
  return static_cast<char>(std::toupper(static_cast<unsigned char>(second)));
}

// A value read as far as it is a number: an integer (a number beyond the range of int is
// refused rather than wrapped into another value) or a real; text that is no number reads 0.
// *used is the number's text.
int IntegerValue(const char* arg, std::string* used, std::optional<Failure>* failure) {
  const char* text = ValueText(arg);
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  used->assign(text, static_cast<std::size_t>(end - text));
  if (value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  if (!*failure) *failure = Failure{StandardStream::kStderr, Formatted(kValueOutOfRange, arg)};
  return 0;
}

double RealValue(const char* arg, std::string* used) {
  const char* text = ValueText(arg);
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  used->assign(text, static_cast<std::size_t>(end - text));
  return value;
}

// The characters of `text` that name no residue.
std::string NotResidues(const std::string& text) {
  std::string none;
  for (const char c : text) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ParseResidueSet(std::string(1, upper).c_str()).empty()) none += c;
  }
  return none;
}

// Whether `text` after the colon would be read whole as the value of `sw`: a number to its
// end, or residue letters only.
bool ReadsAsValueOf(const Switch& sw, const std::string& text) {
  if (text.empty()) return false;
  if (sw.value == Value::kResidues) return NotResidues(text).empty();
  char* end = nullptr;
  if (sw.value == Value::kInteger) {
    std::strtol(text.c_str(), &end, 10);
  } else {
    std::strtod(text.c_str(), &end);
  }
  return end != text.c_str() && *end == '\0';
}

// Where a switch is read otherwise than it is written, what it is read as and why; nothing
// where it reads as written. `used` is the text its value was read from, `residues` the set
// -R gave; `next` the argument after it (null at the end), which a bare letter may have been
// meant to take as its value (-E 25 for -E:25). That argument is read on its own all the same.
std::string Misreading(const char* arg, const char* next, const Switch& sw, const std::string& used,
                       const std::string& residues) {
  const std::string typed = arg;
  const std::string head = typed.substr(0, 2);
  if (arg[0] != '-') return Formatted(kWarnNotASwitch, typed);
  if (sw.value == Value::kNone) {
    return typed.size() > 2 ? Formatted(kWarnTextAfterLetter, typed, head) : "";
  }
  const bool residue_set = sw.value == Value::kResidues;
  const std::string read_as = head + ":" + (residue_set ? residues : used.empty() ? "0" : used);
  const std::string value = ValueText(arg);
  if (typed.size() < 3) {
    if (next != nullptr && ReadsAsValueOf(sw, next)) {
      return Formatted(kWarnValueApart, typed, read_as, head + ":" + next);
    }
    return Formatted(kWarnNoValue, typed, read_as);
  }
  if (typed[2] != ':') return Formatted(kWarnNoColon, typed, read_as, head + ":" + typed.substr(2));
  if (value.empty()) return Formatted(kWarnNoValue, typed, read_as);
  if (residue_set) {
    const std::string ignored = NotResidues(value);
    if (residues.empty()) return Formatted(kWarnNoResidue, typed, ignored);
    return ignored.empty() ? "" : Formatted(kWarnNotResidues, typed, read_as, ignored);
  }
  if (used.empty()) return Formatted(kWarnNotANumber, typed, read_as, value);
  if (used.size() < value.size()) {
    return Formatted(kWarnTextAfterNumber, typed, read_as, value.substr(used.size()));
  }
  return "";
}

// Applies the switch `arg` whose letter is sw.letter; returns what it misreads, if anything.
// `next` is the argument after it, or null.
std::string ApplySwitch(Settings* s, const Switch& sw, const char* arg, const char* next,
                        std::optional<Failure>* failure) {
  std::string used;
  std::string residues;
  // An argument that does not begin with '-' is accepted and changes nothing.
  if (arg[0] == '-') {
    switch (sw.letter) {
      case 'W':
        s->window = IntegerValue(arg, &used, failure);
        break;
      case 'E':
        s->linkage = IntegerValue(arg, &used, failure);
        break;
      case 'S':
      case 'B':
        s->random = sw.letter == 'S' ? RandomSource::kShuffle : RandomSource::kGenerate;
        s->random_sequences = IntegerValue(arg, &used, failure);
        break;
      case 'P':
        s->window_threshold = RealValue(arg, &used);
        break;
      case 'M':
        s->mask_threshold = RealValue(arg, &used);
        s->mask_threshold_given = true;
        break;
      case 'N':
        s->merge = false;
        break;
      case 'K':
        s->estimate_linkage = true;
        break;
      case 'F':
        s->mask = MaskStyle::kN;
        break;
      case 'L':
        s->mask = MaskStyle::kLowerCase;
        break;
      case 'R':
        residues = ParseResidueSet(ValueText(arg));
        s->special_residues = residues;
        break;
      default: {  // A, T, G, C
        const int cell = NucleotideIndex(sw.letter);
        s->user_frequencies[cell] = RealValue(arg, &used);
        s->has_user_frequency[cell] = true;
      }
    }
  }
  return Misreading(arg, next, sw, used, residues);
}

}  // namespace

bool Settings::frequencies_given() const {
  return has_user_frequency[0] || has_user_frequency[1] || has_user_frequency[2] ||
         has_user_frequency[3];
}

Settings ParseCommandLine(int argc, char** argv, std::optional<Failure>* failure,
                          std::vector<std::string>* misread) {
  Settings s;
  failure->reset();
  for (int i = 3; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1] == '-') {
      ApplyLongOption(argc, argv, &i, &s, failure);
      continue;
    }
    const char letter = SwitchLetter(arg);
    const Switch* sw = letter == '\0' ? nullptr : FindSwitch(letter);
    if (sw == nullptr) {
      // Named by its letter; an argument too short to have one, by itself.
      const std::string named = letter == '\0' ? std::string(arg) : std::string(1, letter);
      if (!*failure)
        *failure = Failure{StandardStream::kStdout, Formatted(kUnrecognizedArgument, named)};
      continue;
    }
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    const std::string misreading = ApplySwitch(&s, *sw, arg, next, failure);
    if (!misreading.empty() && misread != nullptr) misread->push_back(misreading);
  }
  s.report = !s.no_report;
  return s;
}

void EffectiveFrequencies(const Settings& s, const double own[4], double freq[4]) {
  for (int i = 0; i < 4; ++i) freq[i] = s.has_user_frequency[i] ? s.user_frequencies[i] : own[i];
}

std::optional<Failure> CheckSettings(const Settings& s, const double* freq, const int* length) {
  const auto fail = [](StandardStream where, const char* text) {
    return std::optional<Failure>(Failure{where, text});
  };
  const bool all_given = s.has_user_frequency[0] && s.has_user_frequency[1] &&
                         s.has_user_frequency[2] && s.has_user_frequency[3];
  for (int i = 0; i < 4; ++i) {
    const double f = freq != nullptr ? freq[i] : s.user_frequencies[i];
    if ((freq != nullptr || s.has_user_frequency[i]) && !(f >= 0.0 && f <= 1.0)) {
      return fail(StandardStream::kStderr, kFrequencyRange);
    }
  }
  if (freq != nullptr || all_given) {
    const double* f = freq != nullptr ? freq : s.user_frequencies;
    const double sum = f[0] + f[1] + f[2] + f[3];
    if (sum < 0.999 || sum > 1.001) return fail(StandardStream::kStderr, kFrequencySum);
  }
  if (s.window >= 2 && s.random_sequences >= 1)
    return fail(StandardStream::kStderr, kWindowAndRandom);
  if (!s.merge && s.window < 2) return fail(StandardStream::kStderr, kNoMergeLinkage);
  if (!s.merge && s.mask != MaskStyle::kNone) return fail(StandardStream::kStderr, kNoMergeFasta);
  if (s.mask_threshold_given && s.mask_by_evalue) return fail(StandardStream::kStderr, kMaskTwice);
  if (length != nullptr && s.window > *length) {
    return fail(StandardStream::kStdoutLine, kWindowTooLong);
  }
  if (s.no_report && !s.output_paths[kReportOutput].empty()) {
    return fail(StandardStream::kStderr, kNoReportWithPath);
  }
  if (!s.report && s.mask == MaskStyle::kNone && !s.bed && !s.table && !s.summary) {
    return fail(StandardStream::kStderr, kNoReportAlone);
  }
  return std::nullopt;
}

std::string HelpText() { return kFullHelp; }

std::string VersionText() { return std::string("kestra ") + KESTRA_VERSION + "\n"; }

}  // namespace kestra
