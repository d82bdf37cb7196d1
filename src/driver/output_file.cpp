#include "report/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

// Temporary files not yet renamed, for the exit and signal paths. Each holds a copy of the
// path made when the file was created, so removing them allocates nothing.
static constexpr int kMaxPending = 4;
static char* volatile g_pending[kMaxPending];

static void Remember(const std::string& temp) {
  for (char* volatile& slot : g_pending) {
    if (slot == nullptr) {
      slot = strdup(temp.c_str());
      return;
    }
  }
}

static void Forget(const std::string& temp) {
  for (char* volatile& slot : g_pending) {
    if (slot != nullptr && temp == slot) {
      char* copy = slot;
      slot = nullptr;
      std::free(copy);
    }
  }
}

void DiscardPendingOutputFiles() {
  for (char* volatile& slot : g_pending) {
    if (slot != nullptr) unlink(slot);
  }
}

static void DiscardAtExit() { DiscardPendingOutputFiles(); }

bool OpenOutputFile(const std::string& path, OutputFile* file, TextSink* sink) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  // mkstemp makes the file private; give it the permissions a new file gets.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  static const bool registered = std::atexit(DiscardAtExit) == 0;
  (void)registered;
  Remember(temp);
  sink->file = fdopen(fd, "w");
  if (sink->file == nullptr) {
    close(fd);
    unlink(temp.c_str());
    Forget(temp);
    return false;
  }
  file->path = path;
  file->temp_path = temp;
  return true;
}

bool CommitOutputFile(OutputFile* file) {
  if (file->temp_path.empty()) return true;
  const bool ok = std::rename(file->temp_path.c_str(), file->path.c_str()) == 0;
  if (!ok) unlink(file->temp_path.c_str());
  Forget(file->temp_path);
  file->temp_path.clear();
  return ok;
}

void DiscardOutputFile(OutputFile* file) {
  if (file->temp_path.empty()) return;
  unlink(file->temp_path.c_str());
  Forget(file->temp_path);
  file->temp_path.clear();
}
