#include "output/shared_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "command_line/messages.h"

namespace kestra {

namespace {

// The file a path leads to, named by its directory's real path and its own final name, so
// that "./o", "d/../o" and a link to o all give one name, whether or not o exists yet.
std::string ResolvedName(const std::string& path) {
  std::string target;
  if (!FollowLinks(path, &target)) return path;
  char real[PATH_MAX];
  const std::string dir = DirectoryOf(target);
  if (realpath(dir.c_str(), real) == nullptr) return target;
  const std::size_t slash = target.rfind('/');
  const std::string own = slash == std::string::npos ? target : target.substr(slash + 1);
  return std::string(real) + (real[1] == '\0' ? "" : "/") + own;
}

WrittenFile Locate(const std::string& path) {
  WrittenFile file;
  file.path = path;
  struct stat st {};
  const bool there = IsStandardOutput(path) ? fstat(1, &st) == 0 : stat(path.c_str(), &st) == 0;
  file.regular = there && S_ISREG(st.st_mode);
  file.direct = IsStandardOutput(path) ? !file.regular : there && !file.regular;
  if (file.regular) {
    file.device = st.st_dev;
    file.inode = st.st_ino;
  }
  if (!file.direct && !IsStandardOutput(path)) file.name = ResolvedName(path);
  return file;
}

bool SameFile(const WrittenFile& a, const WrittenFile& b) {
  if (a.direct || b.direct) return false;
  if (a.regular && b.regular) return a.device == b.device && a.inode == b.inode;
  return !a.name.empty() && a.name == b.name;
}

}  // namespace

std::vector<WrittenFile> ListWrittenFiles(const RunOutputs& o) {
  std::vector<WrittenFile> files;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o.wanted[k]) files.push_back(Locate(o.files[k].path));
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    if (o.index_wanted[i]) files.push_back(Locate(o.index_files[i].path));
  }
  return files;
}

std::vector<std::string> DropIndexesOfDirectOutputs(RunOutputs* o) {
  std::vector<std::string> unindexed;
  for (int k = 0; k < kOutputKinds; ++k) {
    bool dropped = false;
    for (int i = 0; i < kIndexKinds; ++i) {
      if (!o->index_wanted[i] || kIndexTable[i].of != k) continue;
      const WrittenFile output = Locate(o->files[k].path);
      if (!output.direct && !IsStandardOutput(output.path)) continue;
      o->index_wanted[i] = false;
      dropped = true;
    }
    const std::string& path = o->files[k].path;
    if (dropped && std::find(unindexed.begin(), unindexed.end(), path) == unindexed.end()) {
      unindexed.push_back(path);
    }
  }
  return unindexed;
}

std::optional<Failure> RefuseSharedFiles(const std::vector<WrittenFile>& files, int input_fd,
                                         const std::string& input_path) {
  WrittenFile input;
  struct stat st {};
  if (fstat(input_fd, &st) == 0 && S_ISREG(st.st_mode)) {
    input.regular = true;
    input.device = st.st_dev;
    input.inode = st.st_ino;
    if (input_fd != 0) input.name = ResolvedName(input_path);
  } else {
    input.direct = true;  // a pipe, a terminal or a device is never an output's file
  }
  for (const WrittenFile& file : files) {
    if (SameFile(file, input))
      return Failure{StandardStream::kStderr, Formatted(kOutputIsInput, file.path)};
  }
  for (std::size_t a = 0; a < files.size(); ++a) {
    for (std::size_t b = a + 1; b < files.size(); ++b) {
      if (SameFile(files[a], files[b])) {
        return Failure{StandardStream::kStderr,
                       Formatted(kOutputsShareAFile, files[a].path, files[b].path)};
      }
    }
  }
  return std::nullopt;
}

}  // namespace kestra
