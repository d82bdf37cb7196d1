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

// What a consume needs, behind one reference: a function that small costs no allocation.
struct Handing {
  const EntryContext* c;
  const EntrySinks* sinks;
  const BetweenPieces* between;
  int64_t pieces;
};

// Hands what piece i wrote on to the entry's outputs; between two pieces the run may write
// them out.
void HandOn(const Handing& h, int64_t i, int buffer) {
  Pass(*h.c, buffer, *h.sinks);
  if (i + 1 < h.pieces && *h.between) (*h.between)();
}

// Bytes of a record a piece of `cells` at a time (a multiple of `width`), the run's turn
// points between the pieces: `width` to a line, or with a width of 0 one line left unended.
void WriteInPieces(TextSink* out, const char* bytes, int64_t n, int64_t cells, int width,
                   const BetweenPieces& between) {
  for (int64_t from = 0; from < n; from += cells) {
    const int64_t to = std::min(n, from + cells);
    if (width > 0) {
      WriteWrapped(out, bytes + from, static_cast<long>(to - from), width);
    } else {
      SinkWrite(out, bytes + from, static_cast<std::size_t>(to - from));
    }
    if (to < n && between) between();
  }
}

// A FASTQ record's qualities, a piece at a time.
void WriteQualitiesInPieces(TextSink* out, const std::string& qualities, int64_t cells,
                            const BetweenPieces& between) {
  const Pieces pieces = CutIntoPieces(static_cast<int64_t>(qualities.size()), cells);
  for (int64_t i = 0; i < pieces.count; ++i) {
    if (i > 0 && between) between();
    WriteFastqQualities(out, qualities, pieces.From(i), pieces.To(i));
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
                  const EntrySinks& sinks, const BetweenPieces& between) {
  const Handing h{&c, &sinks, &between, pieces.count};
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        WriteLetterLines(Into(c, buffer, sinks, kReportOutput, pieces.cells), letters,
                         pieces.From(i), pieces.To(i));
      },
      [&h](int64_t i, int buffer) { HandOn(h, i, buffer); });
}

// A report line for each segment, a BED line for each masked one, and the mask; returns the
// least p-value of the segments.
double WriteSegmentLines(const EntryContext& c, uint64_t job, const Pieces& pieces,
                         const EntryAnalysis& a, const EntryText& text, const uint64_t* bits,
                         const EntrySinks& sinks, const BetweenPieces& between, uint64_t* mask) {
  const Settings& s = *c.settings;
  struct Consumed {
    Handing h;
    double least, in_order;
  } k{{&c, &sinks, &between, pieces.count},
      std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::infinity()};
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
      [&k](int64_t i, int buffer) {
        const double piece = buffer == kInOrder ? k.in_order : (*k.h.c->buffers)[buffer].least_p;
        k.least = std::min(k.least, piece);
        HandOn(k.h, i, buffer);
      });
  return k.least;
}

// The masked copy; returns how many positions it masks.
int64_t WriteMaskedCopy(const EntryContext& c, uint64_t job, const Pieces& pieces,
                        const EntryText& text, const std::string* qualities, const uint64_t* mask,
                        const EntrySinks& sinks, const BetweenPieces& between) {
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
      [&](int64_t i, int buffer) {
        masked += buffer == kInOrder ? in_order : (*c.buffers)[buffer].masked;
        Pass(c, buffer, sinks);
        if (i + 1 < pieces.count && between) between();
      });
  if (c.fastq_copy) {
    if (text.length == 0) SinkPut(copy, '\n');
    WriteQualitiesInPieces(copy, *qualities, pieces.cells, between);
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
                        const EntryAnalysis& a, EntryScratch* scratch, const EntrySinks& sinks,
                        const BetweenPieces& between) {
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
    WriteLetters(c, job, pieces, letters, sinks, between);
    WriteSegmentCount(report, a.segments);
  }
  const double least_p =
      WriteSegmentLines(c, job, pieces, a, text, scratch->bits.data(), sinks, between, mask);
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
                        mask, sinks, between);
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
                       const EntrySinks& sinks, const BetweenPieces& between) {
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
  // In pieces of whole lines, as the masked copy of an analysed entry.
  const int width = c.fastq_copy ? 0 : std::max(s.line_width, 0);
  const int64_t cells = MaskedCopyPieces(CutIntoPieces(n, c.piece_cells), width).cells;
  if (c.fastq_copy) {
    WriteFastqHeader(copy, entry->header);
    WriteInPieces(copy, shown, n, cells, 0, between);
    SinkPut(copy, '\n');
    WriteQualitiesInPieces(copy, entry->qualities, cells, between);
  } else {
    WriteFastaHeader(copy, entry->header);
    WriteInPieces(copy, shown, n, cells, width, between);
    if (width == 0 && n > 0) SinkPut(copy, '\n');
  }
}

}  // namespace kestra
