// Output files written under a temporary name beside their final path and renamed into place
// only when complete, so a failed or interrupted run leaves no partial file and an earlier
// file of the same name survives.
#pragma once

#include <string>

#include "report/sink.h"

struct OutputFile {
  std::string path;       // where the file belongs
  std::string temp_path;  // where it is written meanwhile; empty once renamed or removed
};

// Creates the temporary file for `path` and points sink at it; false when it cannot be made
// or when `path` is a directory.
bool OpenOutputFile(const std::string& path, OutputFile* file, TextSink* sink);
// Renames the (closed) temporary file into place; false when that fails.
bool CommitOutputFile(OutputFile* file);
// Removes the temporary file, if any.
void DiscardOutputFile(OutputFile* file);
// Removes every temporary file not yet renamed; safe inside a signal handler.
void DiscardPendingOutputFiles();
