// kestra: finds compositionally biased segments in the entries of a FASTA file. A run, in
// order: the command line, the input, the outputs it will write, then the first entry alone
// or every entry, and last whether standard output received everything.
#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "driver/analysis.h"
#include "driver/messages.h"
#include "driver/run.h"

// Lines reach a pipe or a log as they are printed; with many entries, a line each would cost
// a write each, so they are flushed at least once a second instead.
static void ChooseStandardOutputBuffering(const Settings& s) {
  std::setvbuf(stdout, nullptr, s.all_entries ? _IOFBF : _IOLBF, 0);
}

// --help or --version among the switches, or alone as the only argument.
static bool Asks(bool flag, const char* option, int argc, char** argv) {
  return flag || (argc == 2 && std::strcmp(argv[1], option) == 0);
}

static int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return CheckStandardOutput();
}

static int OpenInput(const char* path) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) Fail({Stream::kStdoutLine, kCantOpenInput});
  return fd;
}

int main(int argc, char** argv) {
  const std::time_t start = std::time(nullptr);
  HoldStandardDescriptors();
  StopWhenOutOfMemory();
  InstallInterruptCleanup();
  std::optional<Failure> settings_failure;
  Settings settings = ParseCommandLine(argc, argv, &settings_failure);
  settings.threads = UsableThreads(settings.threads, RunLimitsFromEnvironment());
  ChooseStandardOutputBuffering(settings);
  if (Asks(settings.help, "--help", argc, argv)) return Print(HelpText());
  if (Asks(settings.version, "--version", argc, argv)) return Print(VersionText());
  if (argc < 3) Fail({Stream::kStdoutLine, kHelp});
  const int input = OpenInput(argv[1]);
  RunOutputs outputs;
  ChooseOutputs(settings, argv[2], &outputs);
  RefuseOutputThatIsInput(outputs, input);
  const int64_t seed = settings.seed != 0 ? settings.seed : ClockSeed();
  const RunRequest request{&settings, settings_failure, input, &outputs, seed, start};
  try {
    const int status = settings.all_entries ? RunAllEntries(request) : RunFirstEntry(request);
    return status == 0 ? CheckStandardOutput() : status;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}
