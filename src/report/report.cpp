#include "report/report.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "stats/binomial.h"
#include "stats/scan.h"

// Which bytes are special residues; letters compare exactly, without case folding.
using LetterTable = std::array<bool, 256>;

static LetterTable MakeLetterTable(const std::string& set) {
  LetterTable table{};
  for (char c : set) table[static_cast<unsigned char>(c)] = true;
  return table;
}

static int CountLetters(const LetterTable& table, const char* seq, int from, int to) {
  int n = 0;
  for (int64_t i = from; i <= to; ++i) n += table[static_cast<unsigned char>(seq[i])];
  return n;
}

SegmentSource SourceOfRuns(const char* binary, int length, int max_separation) {
  return SegmentSource{false, StartMergedRuns(binary, length, max_separation), WindowWalk{},
                       CountMergedRuns(binary, length, max_separation)};
}

SegmentSource SourceOfWindows(const WindowWalk& walk) {
  return SegmentSource{true, MergedRuns{}, walk, CountWindowRecords(walk)};
}

// The next segment in report order; false past the last one.
static bool NextSegment(SegmentSource* src, FRAGMENT* f) {
  return src->windows ? SlideWindowP(&src->walk, f) : NextMergedRun(&src->runs, f);
}

PValue MakePValue(double p) {
  PValue v;
  v.p = p;
  v.size = static_cast<int>(FormatSci(v.text, p) - v.text);
  return v;
}

// Within an entry the scan statistic depends on nothing but (count, length) (and the
// empirical p-value on the length alone), and runs mode meets the same short segments over
// and over: each pair is scored and printed once.
struct PValueTable {
  static constexpr int kSmall = 64;
  std::unordered_map<uint64_t, PValue> known;
  std::vector<const PValue*> small = std::vector<const PValue*>(kSmall * kSmall, nullptr);
  std::vector<int> small_used;  // slots of `small` filled, to empty them again cheaply
  ScanWorkspace ws;
};

PValueTable* NewPValueTable() { return new PValueTable(); }
void DeletePValueTable(PValueTable* table) { delete table; }

// Empties the table for another entry, keeping its storage.
static void ResetPValueTable(PValueTable* t) {
  for (const int slot : t->small_used) t->small[slot] = nullptr;
  t->small_used.clear();
  t->known.clear();
}

int ComputeNSuccesses(const std::string& set, const char* seq, int from, int to) {
  return CountLetters(MakeLetterTable(set), seq, from, to);
}

void WriteReportHeader(TextSink* out, const ReportHeader& h) {
  if (h.window < 2) {
    SinkPrintf(out, "Length=%d W=%d E=%d\n", h.length, h.window, h.max_separation);
  } else {
    SinkPrintf(out, "Length=%d W=%d E=%d P=%lf\n", h.length, h.window, h.max_separation,
               h.min_p_val);
  }
  SinkPrintf(out, "Special residues: %s; %s\n", h.special_aa.c_str(), h.freq_label);
  if (h.estimates != nullptr) {
    SinkPrintf(out, "Estimates using %d %s sequences\n", h.random_seqs, h.estimates);
  }
}

// The segment's p-value: empirical from the random-maximum distribution when random
// sequences were drawn, else the scan statistic with the segment's length as the window.
static const PValue& SegmentPValue(const ReportInput& in, int n, int len, PValueTable* table) {
  const bool empirical = in.random_seqs > 0;
  const int count = empirical ? 0 : n;
  const int k = PValueTable::kSmall;
  const PValue** slot = len < k && count < k ? &table->small[len * k + count] : nullptr;
  if (slot != nullptr && *slot != nullptr) return **slot;
  const uint64_t key =
      (static_cast<uint64_t>(static_cast<uint32_t>(count)) << 32) | static_cast<uint32_t>(len);
  auto hit = table->known.find(key);
  if (hit == table->known.end()) {
    const double p = empirical ? EmpiricalPValue(*in.random_max, len)
                               : P_scan_ge_K_in_W_N(n, len, in.length, in.P_special, &table->ws);
    hit = table->known.emplace(key, MakePValue(p)).first;
  }
  if (slot != nullptr) {
    *slot = &hit->second;  // map entries never move
    table->small_used.push_back(static_cast<int>(slot - table->small.data()));
  }
  return hit->second;
}

int64_t MaskSegment(LetterView seq, const FRAGMENT& f, int style, char* masked, int64_t* covered) {
  // 64-bit positions: a segment may end at the largest int.
  const int64_t from = f.start - seq.first, to = int64_t{f.end} - seq.first;
  for (int64_t i = from; i <= to; ++i) {
    const unsigned char c = static_cast<unsigned char>(seq.data[i]);
    masked[i] = style == 1 ? 'N' : static_cast<char>(std::tolower(c));
  }
  const int64_t after = std::max<int64_t>(f.start - 1, *covered);
  const int64_t fresh = f.end > after ? f.end - after : 0;
  *covered = std::max<int64_t>(*covered, f.end);
  return fresh;
}

// The numbers are formatted straight into the sink's buffer.
void WriteSegmentLine(TextSink* out, LetterView seq, int index, const FRAGMENT& f, int n,
                      const PValue& p) {
  const std::size_t room = 5 * 32 + sizeof p.text + static_cast<std::size_t>(f.len) + 1;
  if (out->used + room > out->buffer.size()) SinkMakeRoom(out, room);
  char* const begin = &out->buffer[out->used];
  char* at = begin;
  for (const long long value : {index, f.start, f.end, f.len, n}) {
    at = FormatInt(at, value);
    *at++ = ' ';
  }
  std::memcpy(at, p.text, static_cast<std::size_t>(p.size));
  at += p.size;
  *at++ = ' ';
  std::memcpy(at, seq.data + (f.start - seq.first), static_cast<std::size_t>(f.len));
  at += f.len;
  *at++ = '\n';
  out->used += static_cast<std::size_t>(at - begin);
}

void WriteFastaEntry(TextSink* out, const std::string& header, const char* letters, long n) {
  SinkPut(out, '>');
  SinkWrite(out, header.data(), header.size());
  SinkPut(out, '\n');
  form_out_l(out, letters, n, 80);
}

void WriteBedLine(TextSink* out, const std::string& header, int index, const FRAGMENT& f,
                  double p) {
  const std::size_t blank = header.find_first_of(" \t");
  const std::size_t chrom = blank == std::string::npos ? header.size() : blank;
  const double phred = p > 0.0 ? std::floor(-10.0 * std::log10(p)) : 1000.0;
  const int score = phred < 1000.0 ? static_cast<int>(phred) : 1000;
  const std::size_t room = chrom + 4 * 24 + 3;
  if (out->used + room > out->buffer.size()) SinkMakeRoom(out, room);
  char* const begin = &out->buffer[out->used];
  std::memcpy(begin, header.data(), chrom);
  char* at = begin + chrom;
  for (const long long value : {static_cast<long long>(f.start) - 1, static_cast<long long>(f.end),
                                static_cast<long long>(index), static_cast<long long>(score)}) {
    *at++ = '\t';
    at = FormatInt(at, value);
  }
  std::memcpy(at, "\t.\n", 3);
  out->used += static_cast<std::size_t>(at + 3 - begin);
}

// The last line: the count of special residues in the whole sequence against the binomial.
// Returns whether the normal approximation holds.
static bool WriteOverallLine(const ReportInput& in, TextSink* out) {
  const int a = ComputeNSuccesses(in.special_aa, in.seq, 0, in.length - 1);
  const int64_t e = static_cast<int64_t>(std::ceil(in.length * in.P_special));
  int valid = 1;
  const bool below = a < e;
  const double q = below ? ApproxBinomial_P_LessThan_K(a, in.length, in.P_special, &valid)
                         : ApproxBinomial_P_GreaterThan_K(a, in.length, in.P_special, &valid);
  SinkPrintf(out, "#Overall: %d %e %e", a, 0.0, q);
  const char* mark = below ? (valid ? " (-)\n" : "* (-)\n") : (valid ? " (+)\n" : "* (+)\n");
  SinkWrite(out, mark, std::char_traits<char>::length(mark));
  return valid != 0;
}

EntryCounts WriteSegmentsNT(const ReportInput& in, SegmentSource segments, const EntrySinks& sinks,
                            PValueTable* table) {
  TextSink* const out = sinks.report;
  std::string masked;
  if (sinks.fasta != nullptr) masked.assign(in.unmasked, static_cast<std::size_t>(in.length));
  if (out != nullptr) {
    SinkWrite(out, "\n>", 2);
    SinkWrite(out, in.header->data(), in.header->size());
    SinkPut(out, '\n');
    form_out_l(out, in.seq, in.length, 80);
    SinkPrintf(out, "\n#Segments: %d\n", segments.count);
  }
  ResetPValueTable(table);
  const LetterView letters{in.seq, 1};
  EntryCounts counts;
  counts.segments = segments.count;
  int64_t covered = 0;
  FRAGMENT f;
  for (int i = 0; NextSegment(&segments, &f); ++i) {
    // Every record counts the special residues of its span in the binary sequence, which
    // marks exactly the letters of the set: the count the letters themselves give.
    const int n = f.n_special;
    const PValue& p = SegmentPValue(in, n, f.len, table);
    if (out != nullptr) WriteSegmentLine(out, letters, i + 1, f, n, p);
    if (!(p.p < in.masking_p_val)) continue;
    if (sinks.fasta != nullptr) {
      counts.masked += MaskSegment(letters, f, in.mask_style, &masked[0], &covered);
    }
    if (sinks.bed != nullptr) WriteBedLine(sinks.bed, *in.header, i + 1, f, p.p);
  }
  if (sinks.fasta != nullptr) WriteFastaEntry(sinks.fasta, *in.header, masked.data(), in.length);
  if (out != nullptr) {
    SinkPut(out, '\n');
    counts.normal_valid = WriteOverallLine(in, out);
  }
  return counts;
}
