// The outputs a run writes, by kind: the report (.seg), the masked FASTA (.fas), the masked
// segments as BED (.bed), the table of segments and the table of entries.
#pragma once

namespace kestra {

enum OutputKind : int {
  kReportOutput,
  kFastaOutput,
  kBedOutput,
  kTableOutput,
  kSummaryOutput,
  kOutputKinds
};

}  // namespace kestra
