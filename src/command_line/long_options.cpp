// The long options: each its name and what it does with its value, if it takes one.
#include "command_line/long_options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line/messages.h"
#include "random/generator.h"

namespace kestra {

namespace {

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

// A whole number within [Low, High] into the field; one beyond them is out of range.
template <int64_t Settings::*Field, long long Low, long long High>
bool WholeInto(Settings* s, const std::string& value, bool* out_of_range) {
  long long n = 0;
  if (!WholeWithin(value, Low, High, out_of_range, &n)) return false;
  s->*Field = n;
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
    {"--seed", nullptr, WholeInto<&Settings::seed, 0, kLargestSeed>},
    {"--shard", nullptr, Shard},
    {"--line-width", nullptr, LineWidth},
    {"--background", nullptr, Background},
    {"--mask-evalue", nullptr, MaskEvalue},
    {"--evalue-entries", nullptr, WholeInto<&Settings::evalue_entries, 1, LLONG_MAX>},
    {"--compress-level", nullptr, CompressLevel},
    {"--report-out", nullptr, OutputPath<kReportOutput>},
    {"--fasta-out", nullptr, OutputPath<kFastaOutput>},
    {"--bed-out", nullptr, OutputPath<kBedOutput>},
    {"--table-out", nullptr, OutputPath<kTableOutput>},
    {"--summary-out", nullptr, OutputPath<kSummaryOutput>},
};

}  // namespace

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

}  // namespace kestra
