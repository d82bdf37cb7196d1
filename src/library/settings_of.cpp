// Options as the command line they stand for: the command's own reading and checks give the
// settings, and its messages the words of what is refused.
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "library/library.h"
#include "random/generator.h"

namespace kestra {
namespace {

std::string Real(const char* prefix, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%.17g", prefix, value);
  return text;
}

// The arguments the options stand for, after the input and output of a command line.
std::vector<std::string> ArgumentsOf(const Options& o) {
  std::vector<std::string> args = {"-W:" + std::to_string(o.window),
                                   "-E:" + std::to_string(o.linkage), Real("-P:", o.window_p),
                                   "-R:" + o.residues};
  if (o.estimate_linkage) args.push_back("-K");
  if (!o.merge) args.push_back("-N");
  const char* letters[4] = {"-A:", "-T:", "-G:", "-C:"};
  for (int i = 0; i < 4; ++i) {
    if (o.frequencies[i]) args.push_back(Real(letters[i], *o.frequencies[i]));
  }
  if (o.mask_p) args.push_back(Real("-M:", *o.mask_p));
  if (o.shuffles != 0) args.push_back("-S:" + std::to_string(o.shuffles));
  if (o.generated != 0) args.push_back("-B:" + std::to_string(o.generated));
  // Long options take their values as the next argument, as the messages then show them.
  const auto option = [&args](const char* name, const std::string& value) {
    args.insert(args.end(), {name, value});
  };
  if (o.seed != 0) option("--seed", std::to_string(o.seed));
  if (!o.background.empty()) option("--background", o.background);
  if (o.mask_evalue) option("--mask-evalue", Real("", *o.mask_evalue));
  if (o.evalues) args.push_back("--evalues");
  if (o.evalue_entries != 0) option("--evalue-entries", std::to_string(o.evalue_entries));
  return args;
}

}  // namespace

std::string MessageWords(const std::string& text) {
  const std::size_t from = text.find_first_not_of('\n');
  const std::size_t to = text.find_last_not_of('\n');
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

void ThrowInvalid(const Failure& failure) {
  throw std::invalid_argument(MessageWords(failure.text));
}

Settings SettingsOf(const Options& options) {
  std::vector<std::string> args = {"kestra", "in", "out"};
  for (std::string& a : ArgumentsOf(options)) args.push_back(std::move(a));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  std::optional<Failure> failure;
  std::vector<std::string> misread;
  Settings s = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &failure, &misread);
  if (failure) ThrowInvalid(*failure);
  if (!misread.empty())
    ThrowInvalid({StandardStream::kStderr, Formatted(kStrictError, misread[0])});
  if (auto checked = CheckSettings(s, nullptr, nullptr)) ThrowInvalid(*checked);
  return s;
}

void CheckOptions(const Options& options) { SettingsOf(options); }

int64_t SeedOf(const Options& options) {
  if (options.seed != 0) return options.seed;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const int64_t ticks = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  return 1 + ticks % kLargestSeed;
}

}  // namespace kestra
