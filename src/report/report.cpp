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

static const char kNormalNotValid[] =
    "\nNormal approximation to Binomial distribution is not valid\n";
static const char kFastaCloseError[] = "Error closing FASTA file\n";

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

// P-values by (count, length), printed once each: within a report the scan statistic depends
// on nothing else (and the empirical one on the length alone), and runs mode meets the same
// short segments over and over.
struct PValueTable {
  static constexpr int kSmall = 64;
  std::unordered_map<uint64_t, PValue> known;
  std::vector<const PValue*> small{kSmall * kSmall, nullptr};  // short segments, by length
  ScanWorkspace ws;
};

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
  if (h.estimate_ran == 2)
    SinkPrintf(out, "Estimates using %d shuffled sequences\n", h.random_seqs);
  if (h.estimate_ran == 1)
    SinkPrintf(out, "Estimates using %d generated sequences\n", h.random_seqs);
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
  if (slot != nullptr) *slot = &hit->second;  // map entries never move
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

// Writes and closes the masked copy and prints the masked-position count.
static bool FinishMaskedFasta(const ReportInput& in, const std::string& masked, int64_t count,
                              TextSink* fasta_out) {
  form_out_l(fasta_out, masked.data(), in.length, 80);
  const bool ok = SinkClose(fasta_out);
  if (!ok) std::fputs(kFastaCloseError, stderr);
  std::printf("Masked positions: %lld of %d %.2lf\n", static_cast<long long>(count), in.length,
              static_cast<double>(count) * 100.0 / in.length);
  return ok;
}

// The last line: the count of special residues in the whole sequence against the binomial.
static void WriteOverallLine(const ReportInput& in, TextSink* out) {
  const int a = ComputeNSuccesses(in.special_aa, in.seq, 0, in.length - 1);
  const int64_t e = static_cast<int64_t>(std::ceil(in.length * in.P_special));
  int valid = 1;
  const bool below = a < e;
  const double q = below ? ApproxBinomial_P_LessThan_K(a, in.length, in.P_special, &valid)
                         : ApproxBinomial_P_GreaterThan_K(a, in.length, in.P_special, &valid);
  if (valid == 0) std::fputs(kNormalNotValid, stderr);
  SinkPrintf(out, "#Overall: %d %e %e", a, 0.0, q);
  const char* mark = below ? (valid ? " (-)\n" : "* (-)\n") : (valid ? " (+)\n" : "* (+)\n");
  SinkWrite(out, mark, std::char_traits<char>::length(mark));
}

bool WriteSegmentsNT(const ReportInput& in, SegmentSource segments, TextSink* out,
                     TextSink* fasta_out) {
  const bool masking = in.fasta_output > 0;
  std::string masked;
  if (masking) {
    masked.assign(in.seq, static_cast<std::size_t>(in.length));
    SinkPut(fasta_out, '>');
    SinkWrite(fasta_out, in.header->data(), in.header->size());
    SinkPut(fasta_out, '\n');
  }
  SinkWrite(out, "\n>", 2);
  SinkWrite(out, in.header->data(), in.header->size());
  SinkPut(out, '\n');
  form_out_l(out, in.seq, in.length, 80);
  SinkPrintf(out, "\n#Segments: %d\n", segments.count);

  PValueTable table;
  const LetterView letters{in.seq, 1};
  int64_t masked_count = 0;
  int64_t covered = 0;
  FRAGMENT f;
  for (int i = 0; NextSegment(&segments, &f); ++i) {
    // Every record counts the special residues of its span in the binary sequence, which
    // marks exactly the letters of the set: the count the letters themselves give.
    const int n = f.n_special;
    const PValue& p = SegmentPValue(in, n, f.len, &table);
    WriteSegmentLine(out, letters, i + 1, f, n, p);
    if (masking && p.p < in.masking_p_val) {
      masked_count += MaskSegment(letters, f, in.fasta_output, &masked[0], &covered);
    }
  }
  bool fasta_ok = true;
  if (masking) fasta_ok = FinishMaskedFasta(in, masked, masked_count, fasta_out);
  SinkPut(out, '\n');
  WriteOverallLine(in, out);
  return fasta_ok;
}
