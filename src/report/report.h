// An entry's outputs, formatted: its block of the report (.seg), its masked copy as a FASTA
// entry (.fas) and its masked segments as BED lines (.bed).
#pragma once

#include <cstdint>
#include <string>

#include "output/text_sink.h"
#include "random/estimate.h"
#include "score/scorer.h"
#include "segments/segments.h"

// How significant segments are masked in the FASTA copy: -F, -L.
enum class MaskStyle { kNone, kN, kLowerCase };

// What the report's first lines show.
struct ReportHeader {
  int length;
  int window;  // as given: below 2, runs mode
  int linkage;
  double window_threshold;
  std::string special_residues;
  bool user_frequencies;
  RandomSource random;  // -S or -B: the estimates line
  int random_sequences;
};

// An entry as its outputs show it.
struct EntryText {
  const std::string* header;  // the header line after '>'
  const char* letters;        // upper-cased
  const char* unmasked;       // what the masked copy starts from: letters, or the input's case
  int length;
  std::string special_residues;
  double special_probability;
  MaskStyle mask;
  double mask_below;  // segments whose p-value lies below it are masked
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

// An entry's name: its header up to the first space or tab, as BED lines name it.
std::string BedName(const std::string& header);
// Writes the run-parameter, special-residue and estimates lines.
void WriteReportHeader(TextSink* out, const ReportHeader& h);
// Walks the segments once: the report block (header line, letters, segment lines, overall
// line), the masked copy, and a BED line for each segment masked, into whichever sinks are
// given; each segment's p-value comes from the scorer, readied for the entry.
EntryCounts WriteEntryOutputs(const EntryText& e, SegmentSource* segments, SegmentScorer* scorer,
                              const EntrySinks& sinks);
// A FASTA entry: ">header", then the letters, 80 to a line.
void WriteFastaEntry(TextSink* out, const std::string& header, const char* letters, long n);

// The steps of WriteEntryOutputs, over letters seen from a position on: data[0] holds
// 1-based position `first` (1 for a whole sequence), so that any stretch can be handed in.
struct LetterView {
  const char* data;
  int64_t first;
};
// "%d %d %d %d %d %e " with the index, start, end, length, special residues and p-value,
// then the segment's letters and a newline.
void WriteSegmentLine(TextSink* out, LetterView letters, int index, const Segment& s,
                      const PValue& p);
// The BED line of a segment: its entry's BED name, start - 1, end, the index,
// min(1000, floor(-10 log10 p)) (1000 for p = 0) and '.'.
void WriteBedLine(TextSink* out, const std::string& name, int index, const Segment& s, double p);
// Masks the segment's positions in `masked` (a view like `letters`): 'N', or lower case.
// Returns how many of them lie after *covered, the last position masked so far, and moves
// *covered on: segments come in ascending order of start, so every position counts once.
int64_t MaskSegment(LetterView letters, const Segment& s, MaskStyle style, char* masked,
                    int64_t* covered);
