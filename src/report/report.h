// The segment report (.seg) and the masked FASTA copy (.fas).
#pragma once

#include <string>
#include <vector>

#include "report/sink.h"
#include "segments/segments.h"

// What the report's first lines show.
struct ReportHeader {
  int length;
  int window;
  int max_separation;
  double min_p_val;
  std::string special_aa;
  const char* freq_label;  // "Default frequencies" or "User-supplied frequencies"
  int estimate_ran;        // 2 shuffled, 1 generated, 0 none
  int random_seqs;
};

// What the report body needs besides the segment list.
struct ReportInput {
  const std::string* header;  // header text of the entry
  const char* seq;            // upper-cased letters
  int length;
  std::string special_aa;
  double P_special;
  int random_seqs;                           // above 0: empirical p-values
  const std::vector<double>* special_rand_p;  // random-maximum distribution
  int fasta_output;                          // 0 none, 1 mask with N, 2 lower case
  double masking_p_val;
};

// The segments a report lists: a list (window mode), or the merged runs of the binary
// sequence walked as they are written (runs mode), so no list of them is kept.
struct SegmentSource {
  const SegmentList* list;  // nullptr: take the merged runs
  MergedRuns runs;
  int count;  // how many segments there are
};
SegmentSource SourceOfList(const SegmentList& list);
SegmentSource SourceOfRuns(const char* binary, int length, int max_separation);

// Counts the indices from..to (0-based, both included) whose letter is in `set`.
int ComputeNSuccesses(const std::string& set, const char* seq, int from, int to);
// Writes the run-parameter, special-residue and estimates lines.
void WriteReportHeader(TextSink* out, const ReportHeader& h);
// Writes the report body to out and, when fasta_output > 0, the masked copy to fasta_out,
// which it closes; prints the masked-positions line and the normal-approximation warning.
// Returns false when the masked FASTA file could not be written completely.
bool WriteSegmentsNT(const ReportInput& in, SegmentSource segments, TextSink* out,
                     TextSink* fasta_out);
