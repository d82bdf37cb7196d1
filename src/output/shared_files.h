// Where every file a run writes stands, in one list made before anything is read: each output
// wanted and each index beside one. No file of it may be the input or another file of it: two
// names for one file would leave one of them lost, or the input overwritten while it is read.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "output/outputs.h"

namespace kestra {

struct WrittenFile {
  std::string path;      // as given ("-": standard output)
  bool regular = false;  // a regular file is there now, whose identity follows
  dev_t device = 0;
  ino_t inode = 0;
  bool direct = false;  // a device, FIFO or socket, or standard output that is no file
  std::string name;     // the file the links lead to, its directory resolved; empty if direct
};

// Where each file of the run stands now, outputs first in the table's order, then indexes.
std::vector<WrittenFile> ListWrittenFiles(const RunOutputs& o);
// Drops each index wanted beside an output that is no regular file (a device, a FIFO,
// standard output): nothing can be indexed there. Returns the paths of those outputs,
// each once.
std::vector<std::string> DropIndexesOfDirectOutputs(RunOutputs* o);
// A file of the list that is the input (the same file, by any name or link, standard output
// included) or another file of the list; the input may be standard input (fd 0).
std::optional<Failure> RefuseSharedFiles(const std::vector<WrittenFile>& files, int input_fd,
                                         const std::string& input_path);

}  // namespace kestra
