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
  const char* estimates;   // "shuffled", "generated", or nullptr for no estimates line
  int random_seqs;
};

// What the report body needs besides the segment list.
struct ReportInput {
  const std::string* header;  // header text of the entry
  const char* seq;            // upper-cased letters
  const char* unmasked;       // the letters the masked copy starts from (seq, or input case)
  int length;
  std::string special_aa;
  double P_special;
  int random_seqs;                    // above 0: empirical p-values
  const RandomMaxCounts* random_max;  // largest merged lengths of the random sequences
  int mask_style;                     // 1 mask with N, 2 lower case
  double masking_p_val;
};

// Where an entry's outputs go; any of them may be absent.
struct EntrySinks {
  TextSink* report;
  TextSink* fasta;
  TextSink* bed;
};

// What an entry's outputs came to, for the lines the driver prints.
struct EntryCounts {
  int segments = 0;
  int64_t masked = 0;        // positions masked
  bool normal_valid = true;  // the overall test's normal approximation holds
};

// P-values by (count, length), each computed and printed once within an entry; kept from
// one entry to the next (emptied, not freed) by whoever writes many.
struct PValueTable;
PValueTable* NewPValueTable();
void DeletePValueTable(PValueTable* table);

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
// Walks the segments once: the report body (header line, letters, segment lines, overall
// line), the masked copy as a FASTA entry, and a BED line for each segment masked, into
// whichever sinks are given. Prints nothing.
EntryCounts WriteSegmentsNT(const ReportInput& in, SegmentSource segments, const EntrySinks& sinks,
                            PValueTable* table);
// A FASTA entry: ">header", then the letters, 80 to a line.
void WriteFastaEntry(TextSink* out, const std::string& header, const char* letters, long n);

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
// Writes the BED line of a segment: the header up to its first blank, start - 1, end, the
// index, min(1000, floor(-10 log10 p)) (1000 for p = 0) and '.'.
void WriteBedLine(TextSink* out, const std::string& header, int index, const FRAGMENT& f, double p);
// Writes "%d %d %d %d %d %e " with index, start, end, len, n and the p-value, then the
// segment's letters and a newline.
void WriteSegmentLine(TextSink* out, LetterView seq, int index, const FRAGMENT& f, int n,
                      const PValue& p);
// Masks the segment's positions in `masked` (a view like seq): 'N' for style 1, lower case
// for style 2. Returns how many of them lie after *covered, the last position masked so far,
// and moves *covered on: segments come in ascending order of start, so every position
// counts once.
int64_t MaskSegment(LetterView seq, const FRAGMENT& f, int style, char* masked, int64_t* covered);
