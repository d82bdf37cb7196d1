#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line/messages.h"
#include "command_line/settings.h"
#include "random/generator.h"
#include "sequence/composition.h"

namespace kestra {

namespace {

// The letters of the one-letter switches.
constexpr char kSwitchLetters[] = "WESRPNFLATGCMKB";

// The value of a switch starts at its fourth character; the third (':') is skipped whatever
// it is. A switch shorter than that reads from empty text.
const char* ValueText(const char* arg) { return std::strlen(arg) >= 3 ? arg + 3 : ""; }

// An integer read as far as it goes (text that is not a number reads 0); a number beyond
// the range of int is refused rather than wrapped into another value.
int IntValue(const char* arg, std::optional<Failure>* failure) {
  const long value = std::strtol(ValueText(arg), nullptr, 10);
  if (value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  if (!*failure) *failure = Failure{Stream::kStderr, Formatted(kValueOutOfRange, arg)};
  return 0;
}

double RealValue(const char* arg) { return std::strtod(ValueText(arg), nullptr); }

// The switch letter, upper-cased; NUL for an argument shorter than two characters.
char SwitchLetter(const char* arg) {
  const char second = arg[0] == '\0' ? '\0' : arg[1];
  return static_cast<char>(std::toupper(static_cast<unsigned char>(second)));
}

// clang-format off
void ApplySwitch(Settings* s, char letter, const char* arg, std::optional<Failure>* failure) {
  switch (letter) {
    case 'W': s->window = IntValue(arg, failure); break;
    case 'E': s->linkage = IntValue(arg, failure); break;
    case 'S': s->random = RandomSource::kShuffle; s->random_sequences = IntValue(arg, failure); break;
    case 'B': s->random = RandomSource::kGenerate; s->random_sequences = IntValue(arg, failure); break;
    case 'P': s->window_threshold = RealValue(arg); break;
    case 'M': s->mask_threshold = RealValue(arg); break;
    case 'N': s->merge = false; break;
    case 'K': s->estimate_linkage = true; break;
    case 'F': s->mask = MaskStyle::kN; break;
    case 'L': s->mask = MaskStyle::kLowerCase; break;
    case 'R': s->special_residues = ParseResidueSet(ValueText(arg)); break;
    case 'A': case 'T': case 'G': case 'C': {
      const int cell = NucleotideIndex(letter);
      s->user_frequencies[cell] = RealValue(arg);
      s->has_user_frequency[cell] = true;
      break;
    }
    default: break;
  }
}
// clang-format on

enum class Number { kWhole, kOutOfRange, kInvalid };

// A whole decimal number from `text` to its end, within [low, high]; a whole number beyond
// them, even beyond 64 bits, is out of range.
Number WholeNumber(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return Number::kInvalid;
  errno = 0;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0') return Number::kInvalid;
  return errno == 0 && *value >= low && *value <= high ? Number::kWhole : Number::kOutOfRange;
}

// "I/N": the I-th of N parts, 1 <= I <= N.
bool ShardOf(const std::string& text, Settings* s) {
  const std::size_t slash = text.find('/');
  long long index = 0, count = 0;
  if (slash == std::string::npos ||
      WholeNumber(text.substr(0, slash), 1, 1000000, &index) != Number::kWhole ||
      WholeNumber(text.substr(slash + 1), 1, 1000000, &count) != Number::kWhole || index > count) {
    return false;
  }
  s->shard_index = static_cast<int>(index);
  s->shard_count = static_cast<int>(count);
  return true;
}

// A long option at argv[*i]; a value may follow as "=VALUE" or as the next argument.
void ApplyLongOption(int argc, char** argv, int* i, Settings* s, std::optional<Failure>* failure) {
  const std::string arg = argv[*i];
  const std::size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  const auto fail = [&](const char* format, const std::string& what) {
    if (!*failure) *failure = Failure{Stream::kStderr, Formatted(format, what)};
  };
  if (name == "--threads" || name == "--seed" || name == "--shard") {
    std::string value, typed = arg;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (*i + 1 < argc) {
      value = argv[++*i];
      typed += " " + value;
    } else {
      return fail(kMissingValue, arg);
    }
    long long number = 0;
    if (name == "--shard") {
      if (!ShardOf(value, s)) return fail(kInvalidValue, typed);
      s->all_entries = true;  // a part of the entries, each analysed as --all-entries does
      return;
    }
    if (name == "--threads") {
      if (WholeNumber(value, 1, 1024, &number) != Number::kWhole) return fail(kInvalidValue, typed);
      s->threads = static_cast<int>(number);
      return;
    }
    switch (WholeNumber(value, 0, kLargestSeed, &number)) {
      case Number::kWhole:
        s->seed = number;
        return;
      case Number::kOutOfRange:
        return fail(kValueOutOfRange, typed);
      case Number::kInvalid:
        return fail(kInvalidValue, typed);
    }
    return;
  }
  bool* const flags[] = {&s->all_entries, &s->bed, &s->keep_case, &s->help, &s->version};
  const char* const names[] = {"--all-entries", "--bed", "--keep-case", "--help", "--version"};
  for (int k = 0; k < 5; ++k) {
    if (arg == names[k]) {
      *flags[k] = true;
      return;
    }
  }
  if (arg == "--no-report") {
    s->report = false;
  } else if (!*failure) {
    *failure = Failure{Stream::kStdout, Formatted(kUnrecognizedLongArgument, arg)};
  }
}

}  // namespace

bool Settings::frequencies_given() const {
  return has_user_frequency[0] || has_user_frequency[1] || has_user_frequency[2] ||
         has_user_frequency[3];
}

Settings ParseCommandLine(int argc, char** argv, std::optional<Failure>* failure) {
  Settings s;
  failure->reset();
  for (int i = 3; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1] == '-') {
      ApplyLongOption(argc, argv, &i, &s, failure);
      continue;
    }
    const char letter = SwitchLetter(arg);
    if (letter == '\0' || std::strchr(kSwitchLetters, letter) == nullptr) {
      if (!*failure)
        *failure = Failure{Stream::kStdout, Formatted(kUnrecognizedArgument, {letter})};
      continue;
    }
    // An argument that does not begin with '-' is accepted and changes nothing.
    if (arg[0] == '-') ApplySwitch(&s, letter, arg, failure);
  }
  return s;
}

void EffectiveFrequencies(const Settings& s, const double own[4], double freq[4]) {
  for (int i = 0; i < 4; ++i) freq[i] = s.has_user_frequency[i] ? s.user_frequencies[i] : own[i];
}

std::optional<Failure> CheckSettings(const Settings& s, const double* freq, const int* length) {
  const auto fail = [](Stream where, const char* text) {
    return std::optional<Failure>(Failure{where, text});
  };
  const bool all_given = s.has_user_frequency[0] && s.has_user_frequency[1] &&
                         s.has_user_frequency[2] && s.has_user_frequency[3];
  for (int i = 0; i < 4; ++i) {
    const double f = freq != nullptr ? freq[i] : s.user_frequencies[i];
    if ((freq != nullptr || s.has_user_frequency[i]) && !(f >= 0.0 && f <= 1.0)) {
      return fail(Stream::kStderr, kFrequencyRange);
    }
  }
  if (freq != nullptr || all_given) {
    const double* f = freq != nullptr ? freq : s.user_frequencies;
    const double sum = f[0] + f[1] + f[2] + f[3];
    if (sum < 0.999 || sum > 1.001) return fail(Stream::kStderr, kFrequencySum);
  }
  if (s.window >= 2 && s.random_sequences >= 1) return fail(Stream::kStderr, kWindowAndRandom);
  if (!s.merge && s.window < 2) return fail(Stream::kStderr, kNoMergeLinkage);
  if (!s.merge && s.mask != MaskStyle::kNone) return fail(Stream::kStderr, kNoMergeFasta);
  if (length != nullptr && s.window > *length) {
    return fail(Stream::kStdoutLine, kWindowTooLong);
  }
  if (!s.report && s.mask == MaskStyle::kNone && !s.bed) {
    return fail(Stream::kStderr, kNoReportAlone);
  }
  return std::nullopt;
}

std::string HelpText() { return kFullHelp; }

std::string VersionText() { return std::string("kestra ") + KESTRA_VERSION + "\n"; }

}  // namespace kestra
