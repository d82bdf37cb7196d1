#include "output/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "process/process.h"
#include "process/temporary_files.h"

namespace kestra {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool FollowLinks(const std::string& path, std::string* target) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = at;
      return true;
    }
    char buf[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), buf, sizeof buf - 1);
    if (n < 0) return false;
    const std::string link(buf, static_cast<std::size_t>(n));
    at = link[0] == '/' ? link : DirectoryOf(at) + "/" + link;
  }
  return false;
}

namespace {

// Whether a rename in `dir` may replace a file owned by `owner`: a sticky directory lets only
// the owners of the file or of the directory do it.
bool MayReplace(const struct stat& dir, uid_t owner) {
  const uid_t me = geteuid();
  return !(dir.st_mode & S_ISVTX) || me == 0 || me == owner || me == dir.st_uid;
}

// A socket is written through a connection, not opened.
int ConnectSocket(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A temporary file in dir, recorded for removal; signals wait meanwhile, so that none can end
// the run between creating the file and recording it.
int CreateTemporary(const std::string& dir, std::string* temp) {
  const sigset_t block = TerminatingSignals();
  sigset_t old;
  sigprocmask(SIG_BLOCK, &block, &old);
  *temp = dir + "/.kestra-XXXXXX";
  const int fd = mkstemp(&(*temp)[0]);
  if (fd >= 0) RememberTemporaryFile(*temp);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return fd;
}

// A file without a name in dir, which nothing but a link made at the end can keep: -1 where
// the file system cannot make one, or where it could not be linked later (no /proc).
int CreateUnnamed(const std::string& dir, mode_t mode) {
  static const bool can_link = access("/proc/self/fd", X_OK) == 0;
  if (!can_link) return -1;
  return open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

// Links the unnamed file open on fd under a fresh temporary name in dir, recorded for removal
// (signals wait meanwhile); false when that fails.
bool LinkUnnamed(int fd, const std::string& dir, std::string* temp) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  const sigset_t block = TerminatingSignals();
  sigset_t old;
  sigprocmask(SIG_BLOCK, &block, &old);
  bool linked = false;
  for (int attempt = 0; attempt < 100 && !linked; ++attempt) {
    *temp = dir + "/.kestra-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    linked = linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp->c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked && errno != EEXIST) break;
  }
  if (linked) RememberTemporaryFile(*temp);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return linked;
}

// The bits a new file gets: the old file's, or those the umask leaves of 0666.
mode_t NewFileMode(const OutputFile& file) {
  if (file.exists) return file.mode;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

// Records why the file cannot be made: false.
static bool Refuse(OutputFile* file, int error) {
  file->error = error;
  return false;
}

bool PrepareOutputFile(const std::string& path, OutputFile* file) {
  *file = OutputFile();
  file->path = path;
  if (IsStandardOutput(path)) {
    file->direct = true;
    return true;
  }
  // The kernel's own view first: it also follows the links only it can (/dev/stdout).
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Refuse(file, EISDIR);
    if (!S_ISREG(st.st_mode)) {
      file->target = path;
      file->direct = true;
      return true;
    }
    file->exists = true;
    file->mode = st.st_mode & 07777;
    if (access(path.c_str(), W_OK) != 0) return Refuse(file, errno);
  } else if (errno != ENOENT) {
    return Refuse(file, errno);
  }
  // A regular file, or none yet: the temporary file goes beside the file the links lead to.
  if (!FollowLinks(path, &file->target)) return Refuse(file, ELOOP);
  const std::string dir = DirectoryOf(file->target);
  struct stat dir_st;
  if (stat(dir.c_str(), &dir_st) != 0 || access(dir.c_str(), W_OK | X_OK) != 0) {
    return Refuse(file, errno);
  }
  return !file->exists || MayReplace(dir_st, st.st_uid) || Refuse(file, EPERM);
}

bool OpenOutputFile(OutputFile* file, FileDestination* to) {
  DiscardTemporaryFilesAtExit();
  *to = FileDestination();
  if (IsStandardOutput(file->path)) {
    // A descriptor of its own, so that closing the output leaves standard output open.
    to->fd = fcntl(1, F_DUPFD_CLOEXEC, 3);
    return to->fd >= 0 || Refuse(file, errno);
  }
  if (file->direct) {
    struct stat st {};
    const bool socket = stat(file->target.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    to->fd =
        socket ? ConnectSocket(file->target) : open(file->target.c_str(), O_WRONLY | O_CLOEXEC);
    return to->fd >= 0 || Refuse(file, errno);
  }
  const std::string dir = DirectoryOf(file->target);
  const mode_t mode = NewFileMode(*file);
  int fd = CreateUnnamed(dir, mode);
  file->unnamed = fd >= 0;
  if (fd < 0) {
    std::string temp;
    fd = CreateTemporary(dir, &temp);
    if (fd < 0) return Refuse(file, errno);
    file->temp_path = temp;
  }
  // Both kinds are made private, whatever mode they were asked for: give the file its bits.
  fchmod(fd, mode);
  to->fd = fd;
  return true;
}

bool SealOutputFile(OutputFile* file, FileDestination* to) {
  // A file without a name must stay open until it is linked: closing it would remove it.
  if (file->unnamed) return !to->failed;
  return CloseDestination(to);
}

bool CommitOutputFile(OutputFile* file, FileDestination* to) {
  if (file->unnamed) {
    file->unnamed = false;
    const bool linked = LinkUnnamed(to->fd, DirectoryOf(file->target), &file->temp_path);
    const int error = errno;
    CloseDestination(to);
    if (!linked) return Refuse(file, error);
  }
  if (file->temp_path.empty()) return true;
  const bool ok = std::rename(file->temp_path.c_str(), file->target.c_str()) == 0;
  if (!ok) {
    file->error = errno;
    unlink(file->temp_path.c_str());
  }
  ForgetTemporaryFile(file->temp_path);
  file->temp_path.clear();
  return ok;
}

void DiscardOutputFile(OutputFile* file, FileDestination* to) {
  file->unnamed = false;
  CloseDestination(to);
  if (file->temp_path.empty()) return;
  unlink(file->temp_path.c_str());
  ForgetTemporaryFile(file->temp_path);
  file->temp_path.clear();
}

}  // namespace kestra
