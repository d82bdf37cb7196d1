// The run's output files, one row a kind in the table of outputs: its suffix, when a run
// wants it, and what is said when it cannot be made or written. The files are checked
// together before any is written and put in place together at the end.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>

#include "command_line/settings.h"
#include "output/compressed.h"
#include "output/output_file.h"
#include "report/report.h"

namespace kestra {

struct OutputRow {
  const char* suffix;
  bool (*wanted)(const Settings& s);
  const char* first_line;               // written before any entry (a table's columns), or null
  const char* first_line_with_evalues;  // the same when E-values are computed
  Stream open_stream;                   // where "cannot make it" goes, and its words (%s: the path)
  const char* cannot_open;
  Stream close_stream;  // where "cannot write it completely" goes, and its words
  const char* cannot_close;
};
// By kind. Put in place in this order but for the report, which goes last: once it is there,
// the run is complete.
extern const OutputRow kOutputTable[kOutputKinds];

// The indexes the field's readers use, with --index: the masked FASTA's (.fai, and with BGZF
// the index of its blocks, .gzi), and the BGZF BED's (.tbi).
enum IndexKind : int { kFastaIndex, kBlockIndex, kBedIndex, kIndexKinds };

// The output an index is written beside.
OutputKind IndexedOutput(IndexKind index);

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
  bool fastq = false;  // the input is FASTQ, and so is the masked copy
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
// Of a FASTQ input the masked copy is FASTQ: named <base>.fq unless its path is given.
void WriteMaskedCopyAsFastq(const Settings& s, const std::string& base, RunOutputs* o);
// With the .fai wanted: the line of the masked copy's next record, whose header and count
// of letters are given, the records coming in the order they are written.
void IndexFastaRecord(RunOutputs* o, const std::string& header, int64_t letters, int width);
// The sinks of an entry's outputs: those of `sinks` whose file is wanted.
EntrySinks SinksFor(const RunOutputs& o, TextSink sinks[kOutputKinds]);
// Whether every byte written reached the outputs wanted, but the report, in the table's
// order; what cannot be written completely is said at once.
bool SealAllButReport(RunOutputs* o);
// The same for the report.
bool SealReport(RunOutputs* o);
// Puts every output in place, the report last; the failure of the first file that cannot be
// put in place (its reason said), which ends the run: those put in place before it stay.
std::optional<Failure> CommitOutputs(RunOutputs* o);
// Removes every output written.
void DiscardOutputs(RunOutputs* o);

}  // namespace kestra
