#include "output/written_files.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "output/indexes.h"
#include "process/process.h"
#include "report/report.h"

namespace kestra {

namespace {

bool WantsReport(const Settings& s) { return s.report; }
bool WantsMaskedCopy(const Settings& s) { return s.mask != MaskStyle::kNone; }
bool WantsBed(const Settings& s) { return s.bed; }
bool WantsTable(const Settings& s) { return s.table; }
bool WantsSummary(const Settings& s) { return s.summary; }

}  // namespace

// suffix, reads_suffix, wanted, first_line, first_line_with_evalues, last,
// open_stream, cannot_open, close_stream, cannot_close
const OutputRow kOutputTable[kOutputKinds] = {
    {".seg", nullptr, WantsReport, nullptr, nullptr, true,  //
     StandardStream::kStdoutLine, kCantOpenReport, StandardStream::kStdoutLine,
     kErrorClosingReport},
    {".fas", ".fq", WantsMaskedCopy, nullptr, nullptr, false,  //
     StandardStream::kStderr, kCantOpenOutput, StandardStream::kStderr, kErrorClosingFasta},
    {".bed", nullptr, WantsBed, nullptr, nullptr, false,  //
     StandardStream::kStderr, kCantOpenOutput, StandardStream::kStderr, kErrorClosingBed},
    {".tsv", nullptr, WantsTable, kTableHeader, kTableHeaderWithEvalues, false,  //
     StandardStream::kStderr, kCantOpenOutput, StandardStream::kStderr, kErrorClosingTable},
    {".summary.tsv", nullptr, WantsSummary, kSummaryHeader, kSummaryHeaderWithEvalues, false,
     StandardStream::kStderr, kCantOpenOutput, StandardStream::kStderr, kErrorClosingTable},
};

// suffix, of, needs_bgzf, of_blocks, write
const IndexRow kIndexTable[kIndexKinds] = {
    {".fai", kFastaOutput, false, false, WriteFastaIndex},
    {".gzi", kFastaOutput, true, true, SealBlockIndex},
    {".tbi", kBedOutput, true, false, WriteBedIndex},
};

Failure CannotMake(const OutputFile& output, OutputKind kind) {
  std::fputs(Formatted(kCannotCreatePath, output.path, std::strerror(output.error)).c_str(),
             stderr);
  const OutputRow& row = kOutputTable[kind];
  const std::string words = row.cannot_open;
  const bool names_path = words.find("%s") != std::string::npos;
  return Failure{row.open_stream, names_path ? Formatted(row.cannot_open, output.path) : words};
}

bool CannotWrite(const OutputFile& file, int error, OutputKind kind) {
  std::fputs(Formatted(kCannotWritePath, file.path, std::strerror(error)).c_str(), stderr);
  PrintFailure(Failure{kOutputTable[kind].close_stream, kOutputTable[kind].cannot_close});
  return false;
}

}  // namespace kestra
