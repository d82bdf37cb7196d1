// The run's output files, walked in the table of every file a run writes
// (output/written_files.h): chosen, checked together before any is written, opened, sealed
// with their indexes, and put in place together at the end, or discarded.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>

#include "command_line/settings.h"
#include "output/compressed.h"
#include "output/indexes.h"
#include "output/output_file.h"
#include "output/written_files.h"
#include "report/report.h"

namespace kestra {

struct RunOutputs {
  bool wanted[kOutputKinds] = {};
  OutputFile files[kOutputKinds];
  FileDestination destinations[kOutputKinds];
  int level = -1;        // of BGZF compression; -1: the default
  bool evalues = false;  // the tables have a column of E-values
  bool index_wanted[kIndexKinds] = {};
  OutputFile index_files[kIndexKinds];
  FileDestination index_destinations[kIndexKinds];
  TextSink fasta_index;                           // the lines of the .fai, as records are written
  bool fastq = false;                             // the input is FASTQ, and so is the masked copy
  uint64_t fasta_bytes = 0;                       // of the masked copy so far, uncompressed
  std::unordered_set<std::string> indexed_names;  // the sequences the .fai has a line for
  hts_tpool* compression = nullptr;
};

// Which outputs the settings ask for, and each one's path: the one given, else the base name
// and the suffix (and ".gz" with --compress); a path that ends in ".gz" is written as BGZF.
// And which indexes.
void ChooseOutputs(const Settings& s, const std::string& base, RunOutputs* o);
// Whether an output goes to standard output ("-").
bool AnyToStandardOutput(const RunOutputs& o);
// Checks every output, then opens them all and writes their first lines (but for a part of
// an input after the first: the parts of a whole, one after another, hold them once); the
// failure of a file that cannot be made, whose reason has been said.
std::optional<Failure> OpenOutputs(RunOutputs* o, bool first_lines, int threads);
// The input is reads: each output that has a suffix for reads is named with it (the masked
// copy, FASTQ, is <base>.fq) unless its path is given.
void WriteMaskedCopyAsFastq(const Settings& s, const std::string& base, RunOutputs* o);
// The sinks of an entry's outputs: those of `sinks` whose file is wanted.
EntrySinks SinksFor(const RunOutputs& o, TextSink sinks[kOutputKinds]);
// Whether every byte written reached the outputs wanted, and their indexes, but the last
// output (the report), in the table's order; what cannot be written completely is said at once.
bool SealAllButReport(RunOutputs* o);
// The same for the last.
bool SealReport(RunOutputs* o);
// Puts every output in place, the last one last; the failure of the first file that cannot be
// put in place (its reason said), which ends the run: those put in place before it stay.
std::optional<Failure> CommitOutputs(RunOutputs* o);
// Removes every output written.
void DiscardOutputs(RunOutputs* o);

}  // namespace kestra
