#include "process/temporary_files.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace kestra {

namespace {

// In storage of their own: recording one allocates nothing, and removing them reads nothing
// that a handler could find half written.
char g_pending[kMaxTemporaryFiles][PATH_MAX];
volatile sig_atomic_t g_in_use[kMaxTemporaryFiles];

void DiscardAtExit() { DiscardAllTemporaryFiles(); }

}  // namespace

void RememberTemporaryFile(const std::string& temp) {
  for (int i = 0; i < kMaxTemporaryFiles; ++i) {
    if (!g_in_use[i] && temp.size() < PATH_MAX) {
      std::memcpy(g_pending[i], temp.c_str(), temp.size() + 1);
      g_in_use[i] = 1;
      return;
    }
  }
}

void ForgetTemporaryFile(const std::string& temp) {
  for (int i = 0; i < kMaxTemporaryFiles; ++i) {
    if (g_in_use[i] && temp == g_pending[i]) g_in_use[i] = 0;
  }
}

// Safe inside a signal handler: unlink only.
void DiscardAllTemporaryFiles() {
  for (int i = 0; i < kMaxTemporaryFiles; ++i) {
    if (g_in_use[i]) unlink(g_pending[i]);
  }
}

void DiscardTemporaryFilesAtExit() {
  static const bool registered = std::atexit(DiscardAtExit) == 0;
  (void)registered;
}

}  // namespace kestra
