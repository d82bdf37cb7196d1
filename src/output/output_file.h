// Where the outputs go. A regular file is written as a file without a name in its directory
// (O_TMPFILE), linked into place only when complete, so that no failure, interruption or kill
// (-9 or the out-of-memory killer's) leaves a partial file, and an earlier file of the same
// name survives. Where the file system cannot make a file without a name, it is written under
// a temporary name and renamed, which only a signal the run can catch cleans up after. A
// symbolic link is followed, not replaced; a device, FIFO or socket is written straight, and so
// is standard output, the path "-".
#pragma once

#include <sys/types.h>

#include <string>

#include "output/text_sink.h"

namespace kestra {

struct OutputFile {
  std::string path;         // as given
  std::string target;       // the file written: path with its final links followed
  bool direct = false;      // not a regular file: opened and written straight
  bool exists = false;      // a regular file is there already
  mode_t mode = 0;          // its permission bits, which the new file keeps
  bool unnamed = false;     // written as a file without a name, until it is linked into place
  std::string temp_path;    // the name it is written under meanwhile; empty once renamed or removed
  int error = 0;            // why it could not be made or put in place: an errno
  bool compressed = false;  // written as BGZF
};

// The path that names standard output.
inline bool IsStandardOutput(const std::string& path) { return path == "-"; }

// The directory part of a path ("." for a bare name).
std::string DirectoryOf(const std::string& path);
// The final links of `path` followed as the kernel follows them, a relative target taken
// from the link's own directory. Stops at the first name that is no link (or does not
// exist); false for a loop of links.
bool FollowLinks(const std::string& path, std::string* target);
// Follows the links of `path` and checks, before anything is written, that the file can be
// written and put in place: not a directory, an existing file that may be written and
// replaced, a writable directory. False when it cannot.
bool PrepareOutputFile(const std::string& path, OutputFile* file);
// Opens a prepared file for writing: the device itself, or a new file without a name (or with
// a short temporary one) in the target's directory. False when that fails.
bool OpenOutputFile(OutputFile* file, FileDestination* to);
// Whether every byte written reached the file; a named temporary file or a device is closed.
bool SealOutputFile(OutputFile* file, FileDestination* to);
// Puts the sealed file in place of the target and closes it; false when that fails (the file
// is then gone).
bool CommitOutputFile(OutputFile* file, FileDestination* to);
// Removes the file written, if any, and closes it.
void DiscardOutputFile(OutputFile* file, FileDestination* to);

}  // namespace kestra
