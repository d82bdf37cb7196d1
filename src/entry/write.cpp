// An analysed entry written out: its report block, its masked copy and its BED lines, piece by
// piece, each piece consumed in order into the entry's outputs.
#include <algorithm>
#include <limits>

#include "entry/entry.h"
#include "entry/pieces.h"
#include "sequence/composition.h"

namespace kestra {
namespace {

// Where piece `buffer` writes its `kind` of output: straight into the entry's when it runs in
// order, else into its buffer, which takes room once for what a piece writes (a report holds
// about four bytes a letter, a masked copy one): growing it would copy it and touch fresh
// memory each time.
TextSink* Into(const EntryContext& c, int buffer, const EntrySinks& sinks, OutputKind kind,
               int64_t cells) {
  TextSink* out = PieceOutput(c, buffer, sinks, kind);
  if (buffer != kInOrder && out != nullptr) {
    const std::size_t room =
        static_cast<std::size_t>(kind == kReportOutput ? 6 : 2) * static_cast<std::size_t>(cells);
    if (out->buffer.capacity() < room) SinkReserveCapacity(out, room);
  }
  return out;
}

// Hands what a piece wrote in its buffer on to the entry's outputs, and empties the buffer.
void Pass(const EntryContext& c, int buffer, const EntrySinks& sinks) {
  if (buffer == kInOrder) return;
  for (int kind = 0; kind < kOutputKinds; ++kind) {
    if (sinks.of[kind] == nullptr) continue;
    TextSink& written = (*c.buffers)[static_cast<std::size_t>(buffer)].out[kind];
    SinkWriteBlock(sinks.of[kind], written.buffer.data(), written.used);
    written.used = 0;
  }
}

// Frequencies from a background are not the entry's own: the report calls them supplied.
ReportHeader HeaderOf(const EntryContext& c, const EntryAnalysis& a) {
  const Settings& s = *c.settings;
  const bool supplied = s.frequencies_given() || c.significance.background;
  return ReportHeader{a.length,           s.window, a.linkage, s.window_threshold,
                      s.special_residues, supplied, s.random,  s.random_sequences};
}

// The report's letters, a line of kLineWidth at a time.
void WriteLetters(const EntryContext& c, uint64_t job, const Pieces& pieces, const char* letters,
                  const EntrySinks& sinks) {
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        WriteLetterLines(Into(c, buffer, sinks, kReportOutput, pieces.cells), letters,
                         pieces.From(i), pieces.To(i));
      },
      [&](int64_t, int buffer) { Pass(c, buffer, sinks); });
}

// A report line for each segment, a BED line for each masked one, and the mask; returns the
// least p-value of the segments.
double WriteSegmentLines(const EntryContext& c, uint64_t job, const Pieces& pieces,
                         const EntryAnalysis& a, const EntryText& text, const uint64_t* bits,
                         const EntrySinks& sinks, uint64_t* mask) {
  const Settings& s = *c.settings;
  // What the consume needs, behind one reference: a function that small costs no allocation.
  struct Consumed {
    const EntryContext* c;
    const EntrySinks* sinks;
    double least, in_order;
  } k{&c, &sinks, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        LaneScratch& lane = ThisLane(c);
        StartScoring(&lane.scorer, a.length, a.special_probability,
                     s.draws_random() ? &a.random_longest : nullptr);
        SegmentWalk walk = SegmentsIn(s, a, bits, pieces.From(i), pieces.To(i), &lane.windows);
        const int64_t first =
            a.first_index.empty() ? 1 : a.first_index[static_cast<std::size_t>(i)];
        const SegmentSinks into{Into(c, buffer, sinks, kReportOutput, pieces.cells),
                                Into(c, buffer, sinks, kBedOutput, pieces.cells),
                                Into(c, buffer, sinks, kTableOutput, pieces.cells)};
        double& piece_least = buffer == kInOrder ? k.in_order : (*c.buffers)[buffer].least_p;
        piece_least = WriteSegments(text, bits, &walk, first, &lane.scorer, into, mask);
      },
      [&k](int64_t, int buffer) {
        Pass(*k.c, buffer, *k.sinks);
        const double piece = buffer == kInOrder ? k.in_order : (*k.c->buffers)[buffer].least_p;
        k.least = std::min(k.least, piece);
      });
  return k.least;
}

// The masked copy; returns how many positions it masks.
int64_t WriteMaskedCopy(const EntryContext& c, uint64_t job, const Pieces& pieces,
                        const EntryText& text, const std::string* qualities, const uint64_t* mask,
                        const EntrySinks& sinks) {
  TextSink* copy = sinks.of[kFastaOutput];
  if (c.fastq_copy) {
    WriteFastqHeader(copy, *text.header);
  } else {
    WriteFastaHeader(copy, *text.header);
  }
  int64_t masked = 0, in_order = 0;
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        WriteMaskedLines(Into(c, buffer, sinks, kFastaOutput, pieces.cells), text, mask,
                         pieces.From(i), pieces.To(i));
        int64_t& count = buffer == kInOrder ? in_order : (*c.buffers)[buffer].masked;
        count = CountSpecials(mask, pieces.From(i), pieces.To(i));
      },
      [&](int64_t, int buffer) {
        Pass(c, buffer, sinks);
        masked += buffer == kInOrder ? in_order : (*c.buffers)[buffer].masked;
      });
  if (c.fastq_copy) {
    if (text.length == 0) SinkPut(copy, '\n');
    WriteFastqQualities(copy, *qualities);
  }
  return masked;
}

// Pieces of the masked copy: whole words of its mask and whole lines of its letters.
Pieces MaskedCopyPieces(const Pieces& pieces, int width) {
  int64_t quantum = 64;
  while (width > 0 && quantum % width != 0) quantum += 64;
  return CutIntoPieces(pieces.length, (pieces.cells + quantum - 1) / quantum * quantum);
}

}  // namespace

EntryWritten WriteEntry(const EntryContext& c, uint64_t job, const FastaEntry& entry,
                        const EntryAnalysis& a, EntryScratch* scratch, const EntrySinks& sinks) {
  const Settings& s = *c.settings;
  const Pieces pieces = CutIntoPieces(a.length, a.piece_cells);
  TextSink* report = sinks.of[kReportOutput];
  TextSink* summary = sinks.of[kSummaryOutput];
  const bool masked_copy = sinks.of[kFastaOutput] != nullptr && s.mask != MaskStyle::kNone;
  // The mask, for the masked copy or for the count of positions it masks.
  uint64_t* mask = masked_copy || summary != nullptr ? scratch->mask.data() : nullptr;
  const char* letters = entry.letters.data();
  const std::string& original = scratch->original;
  const double m = static_cast<double>(c.significance.entries);
  const int line_width = c.fastq_copy ? 0 : s.line_width;  // a FASTQ record's letters: one line
  const EntryText text{
      &entry.header,   letters,        original.empty() ? letters : original.data(),
      a.length,        s.mask,         s.mask_by_evalue ? s.mask_evalue : s.mask_threshold,
      line_width,      s.all_segments, m,
      s.mask_by_evalue};
  EntryWritten written;
  if (report != nullptr) {
    WriteReportStart(report, HeaderOf(c, a), entry.header);
    WriteLetters(c, job, pieces, letters, sinks);
    WriteSegmentCount(report, a.segments);
  }
  const double least_p =
      WriteSegmentLines(c, job, pieces, a, text, scratch->bits.data(), sinks, mask);
  // Multiplying by m keeps the order of the p-values: the least E-value is the least p-value's.
  const double least_evalue = least_p * m;
  const OverallTest overall = report != nullptr || summary != nullptr
                                  ? TestOverall(a.specials, a.length, a.special_probability)
                                  : OverallTest{0, 0.0, false, true};
  if (report != nullptr) WriteOverallLine(report, overall);
  written.normal_valid = overall.valid;
  if (masked_copy) {
    written.masked =
        WriteMaskedCopy(c, job, MaskedCopyPieces(pieces, text.line_width), text, &entry.qualities,
                        mask, sinks);
  } else if (mask != nullptr) {
    written.masked = CountSpecials(mask, 0, a.length);
  }
  if (summary != nullptr) {
    WriteSummaryRow(summary, BedName(entry.header), a.length, a.linkage, a.segments, written.masked,
                    overall, m > 0.0 ? &least_evalue : nullptr);
  }
  return written;
}

void WriteSkippedEntry(const EntryContext& c, FastaEntry* entry, const EntryScratch& scratch,
                       const EntrySinks& sinks) {
  const Settings& s = *c.settings;
  // Sizes as they stand: an entry too long for a count of positions is written all the same.
  // Its letters are kept for the masked copy; without it they may have been only counted.
  std::string& letters = entry->letters;
  if (sinks.of[kSummaryOutput] != nullptr) {
    WriteSkippedSummaryRow(sinks.of[kSummaryOutput], BedName(entry->header),
                           static_cast<int64_t>(LetterCount(*entry)), s.computes_evalues());
  }
  TextSink* copy = sinks.of[kFastaOutput];
  if (copy == nullptr) return;
  const long n = static_cast<long>(letters.size());
  // The input's case: kept aside before the letters were upper-cased, if they were.
  const std::string& as_read = scratch.original.empty() ? letters : scratch.original;
  if (!s.keep_case) UpperCase(&letters[0], n);
  const char* shown = s.keep_case ? as_read.data() : letters.data();
  if (c.fastq_copy) {
    WriteFastqRecord(copy, entry->header, shown, n, entry->qualities);
  } else {
    WriteFastaEntry(copy, entry->header, shown, n, s.line_width);
  }
}

}  // namespace kestra
