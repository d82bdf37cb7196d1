#include "report/report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "output/number_format.h"
#include "stats/normal.h"

namespace kestra {

std::string BedName(const std::string& header) {
  return header.substr(0, header.find_first_of(" \t"));
}

void WriteReportStart(TextSink* out, const ReportHeader& h, const std::string& header) {
  if (h.window < 2) {
    SinkPrintf(out, "Length=%d W=%d E=%d\n", h.length, h.window, h.linkage);
  } else {
    SinkPrintf(out, "Length=%d W=%d E=%d P=%lf\n", h.length, h.window, h.linkage,
               h.window_threshold);
  }
  SinkPrintf(out, "Special residues: %s; %s\n", h.special_residues.c_str(),
             h.user_frequencies ? "User-supplied frequencies" : "Default frequencies");
  if (h.random != RandomSource::kNone) {
    SinkPrintf(out, "Estimates using %d %s sequences\n", h.random_sequences,
               h.random == RandomSource::kShuffle ? "shuffled" : "generated");
  }
  SinkWrite(out, "\n>", 2);
  SinkWrite(out, header);
  SinkPut(out, '\n');
}

void WriteLetterLines(TextSink* out, const char* letters, int64_t from, int64_t to) {
  WriteWrapped(out, letters + from, static_cast<long>(to - from), kLineWidth);
}

void WriteSegmentCount(TextSink* out, int64_t count) {
  SinkPrintf(out, "\n#Segments: %lld\n", static_cast<long long>(count));
}

void MarkSegment(MaskBits mask, const Span& s) {
  // 64-bit cells: a segment may end at the largest int.
  const int64_t from = int64_t{s.start} - 1, to = int64_t{s.end};  // cells [from, to)
  for (int64_t w = from / 64; 64 * w < to; ++w) {
    uint64_t bits = ~uint64_t{0};
    if (64 * w < from) bits &= ~uint64_t{0} << (from % 64);
    if (64 * w + 64 > to) bits &= ~uint64_t{0} >> (64 - (to - 64 * w));
    __atomic_fetch_or(&mask.words[w - mask.first_word], bits, __ATOMIC_RELAXED);
  }
}

// Copies n bytes, n small: in two overlapping words, without a call.
static inline void CopyFew(char* to, const char* from, std::size_t n) {
  if (n >= 8 && n <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else {
    std::memcpy(to, from, n);
  }
}

// The numbers are formatted straight into the sink's buffer.
void WriteSegmentLine(TextSink* out, LetterView letters, const SegmentNumbers& n, const Span& s,
                      const PValue& p) {
  char* const begin =
      SinkReserve(out, 5 * 32 + sizeof p.text + static_cast<std::size_t>(s.length) + 1);
  char* at = begin;
  for (const DecimalCounter* c : {&n.index, &n.start, &n.end}) {
    at = WriteCounter(at, *c);
    *at++ = ' ';
  }
  for (const int value : {s.length, s.specials}) {
    at = FormatInt(at, value);
    *at++ = ' ';
  }
  std::memcpy(at, p.text, 16);  // the text is at most 14 bytes long; its array is 32
  at += p.size;
  *at++ = ' ';
  CopyFew(at, letters.data + (s.start - letters.first), static_cast<std::size_t>(s.length));
  at += s.length;
  *at++ = '\n';
  SinkCommit(out, at);
}

void StartNumbers(SegmentNumbers* n, int64_t index) {
  StartCounter(&n->index, static_cast<uint64_t>(index));
  StartCounter(&n->start, 0);
  StartCounter(&n->end, 0);
}

// Moves a counter to `value`. Starts and ends only grow along a walk (a window ends W - 1
// after it starts); anything else is formatted afresh.
static void MoveCounter(DecimalCounter* c, uint64_t value) {
  if (value >= c->value) {
    AdvanceCounter(c, value - c->value);
  } else {
    StartCounter(c, value);
  }
}

void NextNumbers(SegmentNumbers* n, const Span& s, bool first) {
  if (!first) CountUp(&n->index);
  MoveCounter(&n->start, static_cast<uint64_t>(s.start));
  MoveCounter(&n->end, static_cast<uint64_t>(s.end));
}

void WriteBedLine(TextSink* out, const std::string& name, int64_t index, const Span& s,
                  double p) {
  const double phred = p > 0.0 ? std::floor(-10.0 * std::log10(p)) : 1000.0;
  const int score = phred < 1000.0 ? static_cast<int>(phred) : 1000;
  char* const begin = SinkReserve(out, name.size() + 4 * 24 + 3);
  std::memcpy(begin, name.data(), name.size());
  char* at = begin + name.size();
  for (const long long value : {static_cast<long long>(s.start) - 1, static_cast<long long>(s.end),
                                static_cast<long long>(index), static_cast<long long>(score)}) {
    *at++ = '\t';
    at = FormatInt(at, value);
  }
  std::memcpy(at, "\t.\n", 3);
  SinkCommit(out, at + 3);
}

void WriteTableRow(TextSink* out, const std::string& name, const Span& s, const PValue& p,
                   bool masked, const double* evalue) {
  char* const begin = SinkReserve(out, name.size() + 4 * 24 + 2 * sizeof p.text + 5);
  std::memcpy(begin, name.data(), name.size());
  char* at = begin + name.size();
  for (const long long value :
       {static_cast<long long>(s.start) - 1, static_cast<long long>(s.end),
        static_cast<long long>(s.length), static_cast<long long>(s.specials)}) {
    *at++ = '\t';
    at = FormatInt(at, value);
  }
  *at++ = '\t';
  std::memcpy(at, p.text, static_cast<std::size_t>(p.size));
  at += p.size;
  std::memcpy(at, masked ? "\t1\t" : "\t0\t", 3);
  at += 2;
  if (evalue != nullptr) at = FormatSci(at + 1, *evalue);
  *at++ = '\n';
  SinkCommit(out, at);
}

namespace {

// The walk of WriteSegments, made twice: without E-values, each segment costs no more than its
// p-value's own rule.
template <bool kEvalues>
double WalkSegments(const EntryText& e, const uint64_t* bits, SegmentWalk* walk,
                    int64_t first_index, SegmentScorer* scorer, const SegmentSinks& sinks,
                    uint64_t* mask) {
  const std::string name = sinks.bed != nullptr || sinks.table != nullptr ? BedName(*e.header) : "";
  TextSink* const every = e.all_segments ? sinks.table : nullptr;  // rows of every segment
  TextSink* const masked_rows = e.all_segments ? nullptr : sinks.table;
  const LetterView letters{e.letters, 1};
  SegmentNumbers numbers;
  StartNumbers(&numbers, first_index);
  double least = std::numeric_limits<double>::infinity();
  bool first = true;
  for (Span s; NextSegment(bits, walk, &s); ++first_index, first = false) {
    NextNumbers(&numbers, s, first);
    // Every segment counts the special residues of its span in the bits, which mark exactly
    // the letters of the set: the count the letters themselves give.
    const PValue& p = ScoreSegment(scorer, s.specials, s.length);
    if (sinks.report != nullptr) WriteSegmentLine(sinks.report, letters, numbers, s, p);
    const double evalue = kEvalues ? p.p * e.evalue_entries : 0.0;
    const double* const shown = kEvalues ? &evalue : nullptr;
    if (kEvalues && p.p < least) least = p.p;
    const bool masked = (kEvalues && e.mask_by_evalue ? evalue : p.p) < e.mask_below;
    if (every != nullptr) WriteTableRow(every, name, s, p, masked, shown);
    if (!masked) continue;
    if (mask != nullptr) MarkSegment(MaskBits{mask, 0}, s);
    if (sinks.bed != nullptr) WriteBedLine(sinks.bed, name, first_index, s, p.p);
    if (masked_rows != nullptr) WriteTableRow(masked_rows, name, s, p, true, shown);
  }
  return least;
}

}  // namespace

double WriteSegments(const EntryText& e, const uint64_t* bits, SegmentWalk* walk,
                     int64_t first_index, SegmentScorer* scorer, const SegmentSinks& sinks,
                     uint64_t* mask) {
  return e.evalue_entries > 0.0
             ? WalkSegments<true>(e, bits, walk, first_index, scorer, sinks, mask)
             : WalkSegments<false>(e, bits, walk, first_index, scorer, sinks, mask);
}

OverallTest TestOverall(int64_t specials, int length, double p) {
  OverallTest t;
  t.specials = static_cast<int>(specials);
  const int64_t expected = static_cast<int64_t>(std::ceil(length * p));
  t.valid = true;
  t.below = t.specials < expected;
  t.p = t.below ? NormalLowerTail(t.specials, length, p, &t.valid)
                : NormalUpperTail(t.specials, length, p, &t.valid);
  return t;
}

void WriteOverallLine(TextSink* out, const OverallTest& t) {
  SinkPrintf(out, "\n#Overall: %d %e %e", t.specials, 0.0, t.p);
  SinkWrite(out, t.below ? (t.valid ? " (-)\n" : "* (-)\n") : (t.valid ? " (+)\n" : "* (+)\n"));
}

void WriteSummaryRow(TextSink* out, const std::string& name, int64_t letters, int linkage,
                     int64_t segments, int64_t masked, const OverallTest& t,
                     const double* least_evalue) {
  SinkPrintf(out, "%s\t%lld\t%d\t%d\t%lld\t%lld\t%e\t%s\t%s\tanalysed", name.c_str(),
             static_cast<long long>(letters), linkage, t.specials, static_cast<long long>(segments),
             static_cast<long long>(masked), t.p, t.below ? "-" : "+",
             t.valid ? "valid" : "not valid");
  if (least_evalue != nullptr && segments > 0) {
    SinkPrintf(out, "\t%e", *least_evalue);
  } else if (least_evalue != nullptr) {
    SinkPrintf(out, "\t%s", kMissingFigure);
  }
  SinkPut(out, '\n');
}

// What a skipped entry lacks is NA, which tables read as missing ('-' would make the numeric
// columns text, and is a tail in overall_tail).
void WriteSkippedSummaryRow(TextSink* out, const std::string& name, int64_t letters, bool evalues) {
  const char* const m = kMissingFigure;
  SinkPrintf(out, "%s\t%lld\t%s\t%s\t%s\t%s\t%s\t%s\t%s\tskipped", name.c_str(),
             static_cast<long long>(letters), m, m, m, m, m, m, m);
  if (evalues) SinkPrintf(out, "\t%s", m);
  SinkPut(out, '\n');
}

void WriteFastaHeader(TextSink* out, const std::string& header) {
  SinkPut(out, '>');
  SinkWrite(out, header);
  SinkPut(out, '\n');
}

void WriteMaskedLines(TextSink* out, const EntryText& e, const uint64_t* mask, int64_t from,
                      int64_t to) {
  // One line is written a block at a time, and ended by the block that ends the letters.
  const int64_t step = e.line_width > 0 ? e.line_width : int64_t{1} << 16;
  for (int64_t line = from; line < to; line += step) {
    const int64_t end = std::min(to, line + step);
    const bool ends_line = e.line_width > 0 || end == e.length;
    char* const begin = SinkReserve(out, static_cast<std::size_t>(end - line) + 1);
    std::memcpy(begin, e.unmasked + line, static_cast<std::size_t>(end - line));
    // The masked cells of the line, from the words that hold them.
    for (int64_t w = line / 64; 64 * w < end; ++w) {
      uint64_t bits = mask[w];
      if (64 * w < line) bits &= ~uint64_t{0} << (line - 64 * w);
      for (; bits != 0; bits &= bits - 1) {
        const int64_t cell = 64 * w + __builtin_ctzll(bits);
        if (cell >= end) break;
        const unsigned char c = static_cast<unsigned char>(e.letters[cell]);
        begin[cell - line] = e.mask == MaskStyle::kN ? 'N' : static_cast<char>(std::tolower(c));
      }
    }
    begin[end - line] = '\n';
    SinkCommit(out, begin + (end - line) + (ends_line ? 1 : 0));
  }
}

void WriteFastqHeader(TextSink* out, const std::string& header) {
  SinkPut(out, '@');
  SinkWrite(out, header);
  SinkPut(out, '\n');
}

void WriteFastqQualities(TextSink* out, const std::string& qualities, int64_t from, int64_t to) {
  if (from == 0) SinkWrite(out, "+\n", 2);
  SinkWrite(out, qualities.data() + from, static_cast<std::size_t>(to - from));
  if (to == static_cast<int64_t>(qualities.size())) SinkPut(out, '\n');
}

}  // namespace kestra
