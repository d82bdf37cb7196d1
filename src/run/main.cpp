// kestra: finds compositionally biased segments in the entries of a FASTA file. A run, in
// order: the process's streams and signals, the command line, the input, the outputs it will
// write, then the first entry alone or every entry, and last whether standard output received
// everything.
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <system_error>

#include "command_line/messages.h"
#include "process/process.h"
#include "random/generator.h"
#include "run/run.h"

namespace {

using namespace kestra;

// Lines reach a pipe or a log as they are printed; with many entries, a line each would cost
// a write each, so they are flushed at least once a second instead.
void ChooseStandardOutputBuffering(const Settings& s) {
  std::setvbuf(stdout, nullptr, s.all_entries ? _IOFBF : _IOLBF, 0);
}

// --help or --version among the switches, or alone as the only argument.
bool Asks(bool flag, const char* option, int argc, char** argv) {
  return flag || (argc == 2 && std::strcmp(argv[1], option) == 0);
}

int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return CheckStandardOutput();
}

int OpenInput(const char* path) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) Fail({Stream::kStdoutLine, kCantOpenInput});
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
  Settings settings = ParseCommandLine(argc, argv, &settings_failure);
  const RunLimits limits = RunLimitsFromEnvironment();
  settings.threads = UsableThreads(settings.threads, limits);
  ChooseStandardOutputBuffering(settings);
  if (Asks(settings.help, "--help", argc, argv)) return Print(HelpText());
  if (Asks(settings.version, "--version", argc, argv)) return Print(VersionText());
  if (argc < 3) Fail({Stream::kStdoutLine, kHelp});
  const int input = OpenInput(argv[1]);
  RunOutputs outputs;
  ChooseOutputs(settings, argv[2], &outputs);
  if (auto failure = RefuseOutputThatIsInput(outputs, input)) Fail(*failure);
  const int64_t seed = settings.seed != 0 ? settings.seed : ClockSeed();
  const RunRequest request{&settings, settings_failure, input, &outputs, seed, start, limits};
  try {
    const int status = settings.all_entries ? RunAllEntries(request) : RunFirstEntry(request);
    return status == 0 ? CheckStandardOutput() : status;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  } catch (const std::system_error&) {
    OutOfMemory();  // a thread the system could not start
  }
}
