// kestra: finds compositionally biased segments in the entries of a FASTA file. A run, in
// order: the process's streams and signals, the command line, the input, the outputs it will
// write, then the first entry alone or every entry, and last whether standard output received
// everything.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "command_line/messages.h"
#include "output/shared_files.h"
#include "process/process.h"
#include "random/generator.h"
#include "run/run.h"

namespace {

using namespace kestra;

// Lines reach a pipe or a log as they are printed; with many entries, a line each would cost
// a write each, so they are flushed at least once a second instead. The status lines go to
// standard error while an output goes to standard output.
void ChooseStatusLines(const Settings& s, const RunOutputs& outputs) {
  const bool to_error = AnyToStandardOutput(outputs);
  RouteStatusLines(to_error, s.quiet);
  std::setvbuf(to_error ? stderr : stdout, nullptr, s.all_entries ? _IOFBF : _IOLBF, 0);
}

// Switches read otherwise than they are written: said, or with --strict refused.
void TellMisreadSwitches(const Settings& s, const std::vector<std::string>& misread) {
  if (s.strict && !misread.empty())
    Fail({StandardStream::kStderr, Formatted(kStrictError, misread[0])});
  for (const std::string& words : misread) std::fputs(Formatted(kWarning, words).c_str(), stderr);
}

// At most one output may go to standard output.
void RefuseTwoOnStandardOutput(const RunOutputs& outputs) {
  int on_it = 0;
  for (int k = 0; k < kOutputKinds; ++k) {
    on_it += outputs.wanted[k] && IsStandardOutput(outputs.files[k].path);
  }
  if (on_it > 1) Fail({StandardStream::kStderr, kOneStandardOutput});
}

// No file the run writes may be the input or another of its files; an index is written only
// beside a regular file, which is said once for each output that is none.
void RefuseSharedFilesOrTellUnindexed(RunOutputs* outputs, int input, const char* input_path) {
  const std::vector<std::string> unindexed = DropIndexesOfDirectOutputs(outputs);
  if (auto failure = RefuseSharedFiles(ListWrittenFiles(*outputs), input, input_path)) {
    Fail(*failure);
  }
  for (const std::string& path : unindexed) {
    const std::string where = IsStandardOutput(path) ? "standard output" : "'" + path + "'";
    std::fputs(Formatted(kNothingIndexed, where).c_str(), stderr);
  }
}

// --help or --version among the switches, or alone as the only argument.
bool Asks(bool flag, const char* option, int argc, char** argv) {
  return flag || (argc == 2 && std::strcmp(argv[1], option) == 0);
}

int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return CheckStandardOutput();
}

// The input: "-" is standard input (a file named "-" is "./-").
int OpenInput(const char* path) {
  if (std::strcmp(path, "-") == 0) return 0;
  const int fd = open(path, O_RDONLY);
  if (fd < 0) {
    std::fputs(Formatted(kCannotOpenPath, path, std::strerror(errno)).c_str(), stderr);
    Fail({StandardStream::kStdoutLine, kCantOpenInput});
  }
  return fd;
}

// The seed the clock gives: a run with --seed set to it draws the same numbers.
int64_t ClockSeed() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  int64_t last = 0;
  for (int i = 0; i < 100; ++i) last = std::rand();
  // A 0 seeds with 123456789, as seeding from the clock does; the one value past the
  // largest seed would fold onto the zero state, so it takes that seed too.
  return last >= 1 && last <= kLargestSeed ? last : 123456789;
}

}  // namespace

int main(int argc, char** argv) {
  const std::time_t start = std::time(nullptr);
  HoldStandardDescriptors();
  StopWhenOutOfMemory();
  InstallInterruptCleanup();
  std::optional<Failure> settings_failure;
  std::vector<std::string> misread;
  Settings settings = ParseCommandLine(argc, argv, &settings_failure, &misread);
  const RunLimits limits = RunLimitsFromEnvironment();
  settings.threads = UsableThreads(settings.threads, limits);
  RunOutputs outputs;
  if (argc >= 3) ChooseOutputs(settings, argv[2], &outputs);
  ChooseStatusLines(settings, outputs);
  if (Asks(settings.help, "--help", argc, argv)) return Print(HelpText());
  if (Asks(settings.version, "--version", argc, argv)) return Print(VersionText());
  if (argc < 3) Fail({StandardStream::kStdoutLine, kHelp});
  TellMisreadSwitches(settings, misread);
  RefuseTwoOnStandardOutput(outputs);
  const int input = OpenInput(argv[1]);
  // Reads come back as reads; a pipe cannot be looked at before it is read, and keeps FASTA.
  if (outputs.wanted[kFastaOutput] && IsFastqFile(input)) {
    WriteMaskedCopyAsFastq(settings, argv[2], &outputs);
  }
  RefuseSharedFilesOrTellUnindexed(&outputs, input, argv[1]);
  const int64_t seed = settings.seed != 0 ? settings.seed : ClockSeed();
  RunRequest request{&settings, settings_failure, input, argv[1], &outputs, seed,
                     start,     limits,           {}};
  try {
    if (auto failure = LookAcrossTheInput(request, &request.significance)) Fail(*failure);
    const int status = settings.all_entries ? RunAllEntries(request) : RunFirstEntry(request);
    return status == 0 ? CheckStandardOutput() : status;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  } catch (const std::system_error&) {
    OutOfMemory();  // a thread the system could not start
  }
}
