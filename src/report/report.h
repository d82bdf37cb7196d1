// An entry's outputs, formatted: its block of the report (.seg), its masked copy as a FASTA
// record (.fas) and its masked segments as BED lines (.bed). Each is written in parts that
// follow one another in the file, so that the parts of a long entry can be made apart (a
// piece of letters, the segments that open in a piece) and written in order.
#pragma once

#include <cstdint>
#include <string>

#include "base/mask_style.h"
#include "base/output_kind.h"
#include "base/piece_size.h"
#include "base/random_source.h"
#include "output/number_format.h"
#include "output/text_sink.h"
#include "score/scorer.h"
#include "segments/segments.h"

namespace kestra {

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

// An entry as its segment lines and masked copy show it.
struct EntryText {
  const std::string* header;  // the header line after '>'
  const char* letters;        // upper-cased
  const char* unmasked;       // what the masked copy shows unmasked: letters, or the input's case
  int length;
  MaskStyle mask;
  double mask_below;  // segments whose p-value lies below it are masked
  int line_width;     // of the masked copy; 0: one line
  bool all_segments;  // the table of segments lists every segment, not only the masked
  // With E-values (a segment's p-value times the entries of the input, evalue_entries; 0:
  // none), the table shows them, and with mask_by_evalue a segment is masked when its
  // E-value, not its p-value, lies below mask_below.
  double evalue_entries = 0.0;
  bool mask_by_evalue = false;
};

// The first line of the tables: their columns.
constexpr char kTableHeader[] = "#entry\tstart\tend\tlength\tspecial_residues\tp_value\tmasked\n";
constexpr char kSummaryHeader[] =
    "#entry\tletters\tlinkage\tspecial_residues\tsegments\tmasked\toverall_p\toverall_tail\t"
    "normal_approximation\tstatus\n";
// With E-values, each table gains a last column: a segment's E-value, an entry's least.
constexpr char kTableHeaderWithEvalues[] =
    "#entry\tstart\tend\tlength\tspecial_residues\tp_value\tmasked\te_value\n";
constexpr char kSummaryHeaderWithEvalues[] =
    "#entry\tletters\tlinkage\tspecial_residues\tsegments\tmasked\toverall_p\toverall_tail\t"
    "normal_approximation\tstatus\tleast_e_value\n";
// What the table of entries shows for a figure an entry does not have.
constexpr char kMissingFigure[] = "NA";

// The outputs an entry is written into, by kind; any may be absent.
struct EntrySinks {
  TextSink* of[kOutputKinds] = {};
};

// An entry's name: its header up to the first space or tab, as BED lines name it.
std::string BedName(const std::string& header);

// The report block, in order: its start (the run-parameter, special-residue and estimates
// lines, then the header line), the letters kLineWidth to a line, the count of segments, a line for
// each segment, and the overall line.
void WriteReportStart(TextSink* out, const ReportHeader& h, const std::string& header);
// The letters of cells [from, to), kLineWidth to a line; `from` is a
// multiple of kLineWidth.
void WriteLetterLines(TextSink* out, const char* letters, int64_t from, int64_t to);
void WriteSegmentCount(TextSink* out, int64_t count);
// Where a walk over segments writes: any may be absent.
struct SegmentSinks {
  TextSink* report;  // a line for each segment
  TextSink* bed;     // a BED line for each masked one
  TextSink* table;   // a row for each masked one, or each one with all_segments
};
// Walks the segments, writing their lines and marking the cells of each segment whose p-value
// (or E-value) lies below the threshold in the mask bits (shared with other pieces' writers,
// so marked atomically; no mask: none marked). Indices count on from `first_index`. Returns
// the least p-value of the segments when E-values are computed (infinity for none, or
// without E-values; one that is not a number is passed).
double WriteSegments(const EntryText& e, const uint64_t* bits, SegmentWalk* walk,
                     int64_t first_index, SegmentScorer* scorer, const SegmentSinks& sinks,
                     uint64_t* mask);
// The count of special residues in the whole sequence against the binomial, by the normal
// approximation: the count, the tail's probability, which tail, and whether the approximation
// holds.
struct OverallTest {
  int specials;
  double p;
  bool below;  // the lower tail: fewer than expected
  bool valid;
};
OverallTest TestOverall(int64_t specials, int length, double special_probability);
void WriteOverallLine(TextSink* out, const OverallTest& t);
// A row of the table of entries: an analysed one, with the positions its segments mask, or
// one skipped (its name, its letters, and NA in every column up to its status). With E-values
// (least_evalue given), the least of its segments' last, NA for an entry without segments or
// skipped.
void WriteSummaryRow(TextSink* out, const std::string& name, int64_t letters, int linkage,
                     int64_t segments, int64_t masked, const OverallTest& t,
                     const double* least_evalue = nullptr);
void WriteSkippedSummaryRow(TextSink* out, const std::string& name, int64_t letters,
                            bool evalues = false);

// The masked FASTA record: its header line, then the letters of each piece [from, to),
// e.line_width to a line (`from` a multiple of it), the cells marked in `mask` masked; with a
// width of 0 the letters make one line, which the record's last piece ends.
void WriteFastaHeader(TextSink* out, const std::string& header);
void WriteMaskedLines(TextSink* out, const EntryText& e, const uint64_t* mask, int64_t from,
                      int64_t to);

// The masked FASTQ record around its letters' one line: "@header" before it, the line "+" and
// the qualities after it, a piece [from, to) of them at a time (the first piece opens the
// line "+", the last ends their line).
void WriteFastqHeader(TextSink* out, const std::string& header);
void WriteFastqQualities(TextSink* out, const std::string& qualities, int64_t from, int64_t to);

// Letters and mask bits seen from a position on: letters.data[0] is 1-based position
// letters.first, mask.words[0] holds cells 64 * mask.first_word on (1 and 0 for a whole
// sequence), so that any piece can be handed in.
struct LetterView {
  const char* data;
  int64_t first;
};
struct MaskBits {
  uint64_t* words;
  int64_t first_word;
};
// The index, start and end of the segment lines, in decimal, each from the line before.
struct SegmentNumbers {
  DecimalCounter index, start, end;
};
// Before the first line, whose index is given.
void StartNumbers(SegmentNumbers* n, int64_t index);
// For segment s, the first after StartNumbers or the one after the last.
void NextNumbers(SegmentNumbers* n, const Span& s, bool first);
// A segment's line: "%d %d %d %d %d %e " with the index, start, end, length, special residues
// and p-value, then its letters and a newline.
void WriteSegmentLine(TextSink* out, LetterView letters, const SegmentNumbers& n, const Span& s,
                      const PValue& p);
// A segment's BED line: its entry's BED name, start - 1, end, the index,
// min(1000, floor(-10 log10 p)) (1000 for p = 0) and '.'.
void WriteBedLine(TextSink* out, const std::string& name, int64_t index, const Span& s, double p);
// A segment's row in the table of segments: its entry's name, start - 1, end, length,
// special residues, the p-value as the report prints it, 1 when it is masked, else 0, and,
// when given, its E-value as "%e" prints it.
void WriteTableRow(TextSink* out, const std::string& name, const Span& s, const PValue& p,
                   bool masked, const double* evalue = nullptr);
// Marks cells start - 1 .. end - 1 of the segment in the mask bits, atomically.
void MarkSegment(MaskBits mask, const Span& s);

}  // namespace kestra
