// The writers of the indexes beside the outputs: the lines of the masked copy's .fai, gathered
// as its records are written, and each index put in its file once its output is sealed.
#pragma once

#include <cstdint>
#include <string>

#include "output/written_files.h"

namespace kestra {

// With the .fai wanted: the line of the masked copy's next record, whose header and count
// of letters are given, the records coming in the order they are written.
void IndexFastaRecord(RunOutputs* o, const std::string& header, int64_t letters, int width);

// Each index's writer (IndexRow::write): false when the index cannot be written, said.
// The .fai: its lines into its file.
bool WriteFastaIndex(RunOutputs* o, IndexKind index);
// The .gzi, which the compressor wrote as it sealed the output: checked.
bool SealBlockIndex(RunOutputs* o, IndexKind index);
// The .tbi, from the sealed BGZF file.
bool WriteBedIndex(RunOutputs* o, IndexKind index);

}  // namespace kestra
