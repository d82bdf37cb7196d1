#include "report/report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "output/number_format.h"
#include "sequence/composition.h"
#include "stats/normal.h"

std::string BedName(const std::string& header) {
  return header.substr(0, header.find_first_of(" \t"));
}

void WriteReportHeader(TextSink* out, const ReportHeader& h) {
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
}

int64_t MaskSegment(LetterView letters, const Segment& s, MaskStyle style, char* masked,
                    int64_t* covered) {
  // 64-bit positions: a segment may end at the largest int.
  const int64_t from = s.start - letters.first, to = int64_t{s.end} - letters.first;
  for (int64_t i = from; i <= to; ++i) {
    const unsigned char c = static_cast<unsigned char>(letters.data[i]);
    masked[i] = style == MaskStyle::kN ? 'N' : static_cast<char>(std::tolower(c));
  }
  const int64_t after = std::max<int64_t>(s.start - 1, *covered);
  const int64_t fresh = s.end > after ? s.end - after : 0;
  *covered = std::max<int64_t>(*covered, s.end);
  return fresh;
}

// The numbers are formatted straight into the sink's buffer.
void WriteSegmentLine(TextSink* out, LetterView letters, int index, const Segment& s,
                      const PValue& p) {
  char* const begin =
      SinkReserve(out, 5 * 32 + sizeof p.text + static_cast<std::size_t>(s.length) + 1);
  char* at = begin;
  for (const long long value : {index, s.start, s.end, s.length, s.specials}) {
    at = FormatInt(at, value);
    *at++ = ' ';
  }
  std::memcpy(at, p.text, static_cast<std::size_t>(p.size));
  at += p.size;
  *at++ = ' ';
  std::memcpy(at, letters.data + (s.start - letters.first), static_cast<std::size_t>(s.length));
  at += s.length;
  *at++ = '\n';
  SinkCommit(out, at);
}

void WriteFastaEntry(TextSink* out, const std::string& header, const char* letters, long n) {
  SinkPut(out, '>');
  SinkWrite(out, header);
  SinkPut(out, '\n');
  WriteWrapped(out, letters, n, 80);
}

void WriteBedLine(TextSink* out, const std::string& name, int index, const Segment& s, double p) {
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

// The special residues among letters[from..to] (0-based, both included).
static int64_t CountSpecialLetters(const SpecialTable& special, const char* letters, int64_t from,
                                   int64_t to) {
  int64_t n = 0;
  for (int64_t i = from; i <= to; ++i) n += special[static_cast<unsigned char>(letters[i])];
  return n;
}

// The last line: the count of special residues in the whole sequence against the binomial.
// Returns whether the normal approximation holds.
static bool WriteOverallLine(const EntryText& e, TextSink* out) {
  const int a = static_cast<int>(
      CountSpecialLetters(MakeSpecialTable(e.special_residues), e.letters, 0, e.length - 1));
  const double p = e.special_probability;
  const int64_t expected = static_cast<int64_t>(std::ceil(e.length * p));
  bool valid = true;
  const bool below = a < expected;
  const double q =
      below ? NormalLowerTail(a, e.length, p, &valid) : NormalUpperTail(a, e.length, p, &valid);
  SinkPrintf(out, "#Overall: %d %e %e", a, 0.0, q);
  SinkWrite(out, below ? (valid ? " (-)\n" : "* (-)\n") : (valid ? " (+)\n" : "* (+)\n"));
  return valid;
}

EntryCounts WriteEntryOutputs(const EntryText& e, SegmentSource* segments, SegmentScorer* scorer,
                              const EntrySinks& sinks) {
  TextSink* const out = sinks.report;
  std::string masked;
  if (sinks.fasta != nullptr) masked.assign(e.unmasked, static_cast<std::size_t>(e.length));
  if (out != nullptr) {
    SinkWrite(out, "\n>", 2);
    SinkWrite(out, *e.header);
    SinkPut(out, '\n');
    WriteWrapped(out, e.letters, e.length, 80);
    SinkPrintf(out, "\n#Segments: %d\n", segments->count);
  }
  const std::string bed_name = sinks.bed != nullptr ? BedName(*e.header) : "";
  const LetterView letters{e.letters, 1};
  EntryCounts counts;
  counts.segments = segments->count;
  int64_t covered = 0;
  Segment s;
  for (int i = 0; NextSegment(segments, &s); ++i) {
    // Every segment counts the special residues of its span in the binary sequence, which
    // marks exactly the letters of the set: the count the letters themselves give.
    const PValue& p = ScoreSegment(scorer, s.specials, s.length);
    if (out != nullptr) WriteSegmentLine(out, letters, i + 1, s, p);
    if (!(p.p < e.mask_below)) continue;
    if (sinks.fasta != nullptr) {
      counts.masked += MaskSegment(letters, s, e.mask, &masked[0], &covered);
    }
    if (sinks.bed != nullptr) WriteBedLine(sinks.bed, bed_name, i + 1, s, p.p);
  }
  if (sinks.fasta != nullptr) WriteFastaEntry(sinks.fasta, *e.header, masked.data(), e.length);
  if (out != nullptr) {
    SinkPut(out, '\n');
    counts.normal_valid = WriteOverallLine(e, out);
  }
  return counts;
}
