#include "process/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "command_line/messages.h"
#include "process/temporary_files.h"

namespace kestra {

namespace {

constexpr int kTerminating[] = {SIGINT,  SIGTERM, SIGHUP,    SIGPIPE, SIGQUIT, SIGALRM,
                                SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};

void CleanUpAndStop(int sig) {
  DiscardAllTemporaryFiles();
  signal(sig, SIG_DFL);
  raise(sig);  // delivered once the handler returns, with the default action
}

// Where the status lines go, set once at the start of a run.
std::FILE* g_status = stdout;
bool g_quiet = false;

}  // namespace

void RouteStatusLines(bool to_standard_error, bool quiet) {
  g_status = to_standard_error ? stderr : stdout;
  g_quiet = quiet;
}

std::FILE* StatusStream() { return g_status; }

bool StatusQuiet() { return g_quiet; }

void PrintStatus(const std::string& text) {
  if (!g_quiet) std::fputs(text.c_str(), g_status);
}

void PrintFailure(const Failure& f) {
  std::FILE* stream = f.where == StandardStream::kStderr ? stderr : g_status;
  std::fwrite(f.text.data(), 1, f.text.size(), stream);
  if (f.where == StandardStream::kStdoutLine) std::fputc('\n', stream);
  std::fflush(stream);
}

void Fail(const Failure& f) {
  PrintFailure(f);
  std::exit(1);  // the exit removes whatever temporary output is left
}

void OutOfMemory() {
  // The first thread to get here says it; any other waits for the exit.
  static std::atomic<bool> said{false};
  if (said.exchange(true)) {
    for (;;) pause();
  }
  PrintFailure({StandardStream::kStdoutLine, kAllocationError});
  DiscardAllTemporaryFiles();
  _exit(1);
}

void StopWhenOutOfMemory() {
  std::set_new_handler([] { OutOfMemory(); });
}

void HoldStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the one closed.
    const int held = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (held >= 0 && held != fd) close(held);
  }
}

sigset_t TerminatingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kTerminating) sigaddset(&set, sig);
  return set;
}

void InstallInterruptCleanup() {
  signal(SIGXFSZ, SIG_IGN);
  for (const int sig : kTerminating) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction cleanup = {};
    cleanup.sa_handler = CleanUpAndStop;
    sigemptyset(&cleanup.sa_mask);
    sigaction(sig, &cleanup, nullptr);
  }
}

void PrintElapsedTime(std::time_t start) {
  char line[64];
  std::snprintf(line, sizeof line, kElapsedTime, static_cast<int>(std::time(nullptr) - start));
  PrintStatus(line);
}

int CheckStandardOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fputs(kStandardOutputError, stderr);
  return 1;
}

}  // namespace kestra
