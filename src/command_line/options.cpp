#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command_line/messages.h"
#include "command_line/settings.h"
#include "random/generator.h"
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

// What a long option does with its value: false when the value cannot be taken (the message
// named `out_of_range` when it is a number beyond the option's range).
using ApplyValue = bool (*)(Settings* s, const std::string& value, bool* out_of_range);

bool Threads(Settings* s, const std::string& value, bool*) {
  long long n = 0;
  if (WholeNumber(value, 1, 1024, &n) != Number::kWhole) return false;
  s->threads = static_cast<int>(n);
  return true;
}

// A whole number in [low, high] into *n; *out_of_range tells a whole number outside it.
bool WholeWithin(const std::string& value, long long low, long long high, bool* out_of_range,
                 long long* n) {
  const Number read = WholeNumber(value, low, high, n);
  *out_of_range = read == Number::kOutOfRange;
  return read == Number::kWhole;
}

bool Seed(Settings* s, const std::string& value, bool* out_of_range) {
  long long n = 0;
  if (!WholeWithin(value, 0, kLargestSeed, out_of_range, &n)) return false;
  s->seed = n;
  return true;
}

// "I/N": the I-th of N parts, 1 <= I <= N; a part of the entries, each analysed as
// --all-entries does.
bool Shard(Settings* s, const std::string& value, bool*) {
  const std::size_t slash = value.find('/');
  long long index = 0, count = 0;
  if (slash == std::string::npos ||
      WholeNumber(value.substr(0, slash), 1, 1000000, &index) != Number::kWhole ||
      WholeNumber(value.substr(slash + 1), 1, 1000000, &count) != Number::kWhole || index > count) {
    return false;
  }
  s->shard_index = static_cast<int>(index);
  s->shard_count = static_cast<int>(count);
  s->all_entries = true;
  return true;
}

// --mask-evalue E: a number, all of the value, 0 or more.
bool MaskEvalue(Settings* s, const std::string& value, bool*) {
  char* end = nullptr;
  const double e = std::strtod(value.c_str(), &end);
  if (value.empty() || std::isspace(static_cast<unsigned char>(value[0])) || *end != '\0' ||
      !(e >= 0.0)) {
    return false;
  }
  s->mask_by_evalue = true;
  s->mask_evalue = e;
  return true;
}

bool EvalueEntries(Settings* s, const std::string& value, bool* out_of_range) {
  long long n = 0;
  if (!WholeWithin(value, 1, LLONG_MAX, out_of_range, &n)) return false;
  s->evalue_entries = n;
  return true;
}

bool Background(Settings* s, const std::string& value, bool*) {
  if (value.empty()) return false;
  s->background = value;
  return true;
}

bool CompressLevel(Settings* s, const std::string& value, bool*) {
  long long n = 0;
  if (WholeNumber(value, 0, 9, &n) != Number::kWhole) return false;
  s->compress_level = static_cast<int>(n);
  return true;
}

bool LineWidth(Settings* s, const std::string& value, bool*) {
  long long n = 0;
  if (WholeNumber(value, 0, INT_MAX, &n) != Number::kWhole) return false;
  s->line_width = static_cast<int>(n);
  return true;
}

// The path of one output; each implies the output it names (the masked FASTA with -F unless
// -L is given).
template <OutputKind kind>
bool OutputPath(Settings* s, const std::string& value, bool*) {
  if (value.empty()) return false;
  s->output_paths[kind] = value;
  if (kind == kFastaOutput && s->mask == MaskStyle::kNone) s->mask = MaskStyle::kN;
  if (kind == kBedOutput) s->bed = true;
  if (kind == kTableOutput) s->table = true;
  if (kind == kSummaryOutput) s->summary = true;
  return true;
}

struct LongOption {
  const char* name;
  bool Settings::*flag;  // set by the option, which takes no value; or
  ApplyValue apply;      // what takes its value
};
const LongOption kLongOptions[] = {
    {"--all-entries", &Settings::all_entries, nullptr},
    {"--bed", &Settings::bed, nullptr},
    {"--table", &Settings::table, nullptr},
    {"--summary", &Settings::summary, nullptr},
    {"--all-segments", &Settings::all_segments, nullptr},
    {"--keep-case", &Settings::keep_case, nullptr},
    {"--quiet", &Settings::quiet, nullptr},
    {"--compress", &Settings::compress, nullptr},
    {"--index", &Settings::index, nullptr},
    {"--strict", &Settings::strict, nullptr},
    {"--help", &Settings::help, nullptr},
    {"--version", &Settings::version, nullptr},
    {"--no-report", &Settings::no_report, nullptr},
    {"--evalues", &Settings::evalues, nullptr},
    {"--threads", nullptr, Threads},
    {"--seed", nullptr, Seed},
    {"--shard", nullptr, Shard},
    {"--line-width", nullptr, LineWidth},
    {"--background", nullptr, Background},
    {"--mask-evalue", nullptr, MaskEvalue},
    {"--evalue-entries", nullptr, EvalueEntries},
    {"--compress-level", nullptr, CompressLevel},
    {"--report-out", nullptr, OutputPath<kReportOutput>},
    {"--fasta-out", nullptr, OutputPath<kFastaOutput>},
    {"--bed-out", nullptr, OutputPath<kBedOutput>},
    {"--table-out", nullptr, OutputPath<kTableOutput>},
    {"--summary-out", nullptr, OutputPath<kSummaryOutput>},
};

// A long option at argv[*i]; a value follows as "=VALUE" or as the next argument.
void ApplyLongOption(int argc, char** argv, int* i, Settings* s, std::optional<Failure>* failure) {
  const std::string arg = argv[*i];
  const std::size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  const auto fail = [&](StandardStream where, const char* format, const std::string& what) {
    if (!*failure) *failure = Failure{where, Formatted(format, what)};
  };
  for (const LongOption& option : kLongOptions) {
    if (option.flag != nullptr && arg == option.name) {
      s->*option.flag = true;
      return;
    }
    if (option.apply == nullptr || name != option.name) continue;
    std::string value, typed = arg;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (*i + 1 < argc) {
      value = argv[++*i];
      typed += " " + value;
    } else {
      return fail(StandardStream::kStderr, kMissingValue, arg);
    }
    bool out_of_range = false;
    if (!option.apply(s, value, &out_of_range)) {
      fail(StandardStream::kStderr, out_of_range ? kValueOutOfRange : kInvalidValue, typed);
    }
    return;
  }
  fail(StandardStream::kStdout, kUnrecognizedLongArgument, arg);
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
