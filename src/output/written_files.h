// Every file a run writes, one row a kind: each output, under a path of its own, and each
// index, beside the output it indexes. A new kind of output is a row of kOutputTable (its
// kind named in base/output_kind.h, its switches in the settings) and the writer of its
// entries; a new index, a row of kIndexTable and its writer. Choosing the files, opening,
// sealing, indexing and putting them in place (output/outputs.h) walk these rows.
#pragma once

#include "base/output_kind.h"
#include "command_line/messages.h"
#include "command_line/settings.h"
#include "output/output_file.h"

namespace kestra {

struct RunOutputs;

// An output: how its path is chosen, when a run wants it, the line it begins with, and what is
// said when it cannot be made or written.
struct OutputRow {
  const char* suffix;        // after the base name, unless its path is given
  const char* reads_suffix;  // the same when the input is reads, and so the output; null: none
  bool (*wanted)(const Settings& s);
  const char* first_line;               // written before any entry (a table's columns), or null
  const char* first_line_with_evalues;  // the same when E-values are computed
  bool last;  // put in place after every other: once it is there, the run is complete
  StandardStream open_stream;  // where "cannot make it" goes, and its words (%s: the path)
  const char* cannot_open;
  StandardStream close_stream;  // where "cannot write it completely" goes, and its words
  const char* cannot_close;
};
// By kind, in the order the outputs are checked, opened, sealed and put in place.
extern const OutputRow kOutputTable[kOutputKinds];

// The indexes the field's readers use, with --index: the masked FASTA's (.fai, and with BGZF
// the index of its blocks, .gzi), and the BGZF BED's (.tbi).
enum IndexKind : int { kFastaIndex, kBlockIndex, kBedIndex, kIndexKinds };

// An index: its path (its output's and a suffix), when it is wanted, and its writer. What
// cannot be made or written of it is said in its output's words.
struct IndexRow {
  const char* suffix;  // after its output's path
  OutputKind of;       // the output it indexes
  bool needs_bgzf;     // wanted only when its output is written as BGZF
  bool of_blocks;      // gathered by its output's compressor as the blocks are written
  // Writes the index once its output is sealed, and seals it; false when that fails, said.
  bool (*write)(RunOutputs* o, IndexKind index);
};
extern const IndexRow kIndexTable[kIndexKinds];

// What is said of an output that cannot be made or put in place (its error, or that of one of
// its indexes, in output.error): the system's reason on standard error, then the run's own
// words, which stop it.
Failure CannotMake(const OutputFile& output, OutputKind kind);
// Says that a file (an output of the kind, or one of its indexes) could not be written
// completely: the system's reason, then the output's words; false.
bool CannotWrite(const OutputFile& file, int error, OutputKind kind);

}  // namespace kestra
