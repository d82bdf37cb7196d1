// The run's output files: the report (.seg), the masked FASTA (.fas) and the BED file
// (.bed), checked together before any is written and put in place together at the end.
#pragma once

#include <functional>
#include <string>

#include "driver/output_files.h"
#include "driver/settings.h"

enum OutputKind { kReportFile, kFastaFile, kBedFile, kOutputKinds };

struct RunOutputs {
  bool wanted[kOutputKinds] = {false, false, false};
  OutputFile files[kOutputKinds];
  FileDestination destinations[kOutputKinds];
};

// Which outputs the settings ask for, and each one's path.
void ChooseOutputs(const Settings& s, const std::string& base, RunOutputs* o);
// An output that is the input file itself (a name like it, a link or a hard link to it)
// would replace what is being read: the run stops before anything is written. An input that
// is no regular file, a pipe or a terminal, cannot be an output.
void RefuseOutputThatIsInput(const RunOutputs& o, int input_fd);
// Checks every output, then opens them all; a file that cannot be made ends the run.
void OpenOutputs(RunOutputs* o);
// The sinks of an entry's outputs: those of `sinks` whose file is wanted.
EntrySinks SinksFor(const RunOutputs& o, TextSink sinks[kOutputKinds]);
// Closes every output; when all were written completely, puts them in place and returns
// true. A failure prints its message and removes the temporary files. `between` runs once
// the masked FASTA and BED files are closed, before the report is.
bool FinishOutputs(RunOutputs* o, const std::function<void()>& between);
