// The segment report (.seg) and the masked FASTA copy (.fas).
#pragma once

#include <string>
#include <vector>

#include "random/estimate.h"
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
  int random_seqs;                    // above 0: empirical p-values
  const RandomMaxCounts* random_max;  // largest merged lengths of the random sequences
  int fasta_output;                   // 0 none, 1 mask with N, 2 lower case
  double masking_p_val;
};

// The segments a report lists, walked as they are written so that no list of them is kept:
// the merged runs of the binary sequence (runs mode) or the recorded windows (window mode).
struct SegmentSource {
  bool windows;
  MergedRuns runs;
  WindowWalk walk;
  int count;  // how many segments there are
};
SegmentSource SourceOfRuns(const char* binary, int length, int max_separation);
SegmentSource SourceOfWindows(const WindowWalk& walk);

// Counts the indices from..to (0-based, both included) whose letter is in `set`.
int ComputeNSuccesses(const std::string& set, const char* seq, int from, int to);
// Writes the run-parameter, special-residue and estimates lines.
void WriteReportHeader(TextSink* out, const ReportHeader& h);
// Writes the report body to out and, when fasta_output > 0, the masked copy to fasta_out,
// which it closes; prints the masked-positions line and the normal-approximation warning.
// Returns false when the masked FASTA file could not be written completely.
bool WriteSegmentsNT(const ReportInput& in, SegmentSource segments, TextSink* out,
                     TextSink* fasta_out);

// Per-segment steps of the report, over letters seen from a position on: data[0] holds
// 1-based position `first` (1 for a whole sequence), so any stretch can be handed in.
struct LetterView {
  const char* data;
  int64_t first;
};
// A p-value and the text "%e" makes of it.
struct PValue {
  double p;
  int size;
  char text[32];
};
PValue MakePValue(double p);
// Writes "%d %d %d %d %d %e " with index, start, end, len, n and the p-value, then the
// segment's letters and a newline.
void WriteSegmentLine(TextSink* out, LetterView seq, int index, const FRAGMENT& f, int n,
                      const PValue& p);
// Masks the segment's positions in `masked` (a view like seq): 'N' for style 1, lower case
// for style 2. Returns how many of them lie after *covered, the last position masked so far,
// and moves *covered on: segments come in ascending order of start, so every position
// counts once.
int64_t MaskSegment(LetterView seq, const FRAGMENT& f, int style, char* masked, int64_t* covered);
