// Where the outputs go. A regular file is written under a temporary name in its directory and
// renamed into place only when complete, so a failed or interrupted run leaves no partial
// file and an earlier file of the same name survives. A symbolic link is followed, not
// replaced; a device, FIFO or socket is written straight.
#pragma once

#include <sys/types.h>

#include <string>

#include "output/text_sink.h"

struct OutputFile {
  std::string path;       // as given
  std::string target;     // the file written: path with its final links followed
  bool direct = false;    // not a regular file: opened and written straight
  bool exists = false;    // a regular file is there already
  mode_t mode = 0;        // its permission bits, which the new file keeps
  std::string temp_path;  // where it is written meanwhile; empty once renamed or removed
};

// Follows the links of `path` and checks, before anything is written, that the file can be
// written and put in place: not a directory, an existing file that may be written and
// replaced, a writable directory. False when it cannot.
bool PrepareOutputFile(const std::string& path, OutputFile* file);
// Opens a prepared file for writing: the device itself, or a new temporary file with a short
// name in the target's directory. False when that fails.
bool OpenOutputFile(OutputFile* file, FileDestination* to);
// Renames the (closed) temporary file onto the target; false when that fails.
bool CommitOutputFile(OutputFile* file);
// Removes the temporary file, if any.
void DiscardOutputFile(OutputFile* file);
// Removes every temporary file not yet renamed; safe anywhere, a signal handler included.
void DiscardAllTemporaryFiles();
