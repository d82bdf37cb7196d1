#include "report/report.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "stats/scan.h"

namespace {

// Masking is strict: a segment whose p-value equals the threshold keeps its letters, and
// only masked segments make BED lines.
TEST(Report, PValueEqualToTheThresholdDoesNotMask) {
  const std::string header = "seq1 the first", seq = "GAAATCGCAATAAGCTCGA",
                    binary = "01110000110110000010";
  const ReportInput in{
      &header,  seq.data(), seq.data(), 19, "A",
      8.0 / 19, 0,          nullptr,    1,  P_scan_ge_K_in_W_N(1, 1, 19, 8.0 / 19)};
  TextSink fasta, bed;
  PValueTable* table = NewPValueTable();
  const EntryCounts counts =
      WriteSegmentsNT(in, SourceOfRuns(binary.data(), 19, 5), {nullptr, &fasta, &bed}, table);
  DeletePValueTable(table);
  EXPECT_EQ(counts.masked, 12);
  EXPECT_EQ(SinkText(fasta), ">seq1 the first\nGNNNNNNNNNNNNGCTCGA\n");
  EXPECT_EQ(SinkText(bed), "seq1\t1\t13\t1\t2\t.\n");  // -10 log10 0.5077702 is 2.94
}

// A BED score is -10 log10 p rounded down, at most 1000.
TEST(Report, BedScores) {
  const std::pair<double, const char*> cases[] = {{0.0, "1000"}, {1e-200, "1000"}, {1e-100, "1000"},
                                                  {0.05, "13"},  {0.1, "10"},      {1.0, "0"}};
  for (const auto& [p, score] : cases) {
    TextSink bed;
    WriteBedLine(&bed, "chr\tx", 3, FRAGMENT{5, 9, 5, 2, 0.0}, p);
    EXPECT_EQ(SinkText(bed), std::string("chr\t4\t9\t3\t") + score + "\t.\n") << p;
  }
}

// A sequence may reach the largest int: a segment ending there is listed and masked through
// a view of its last letters, without a position overflowing.
TEST(Report, SegmentEndingAtTheLastPosition) {
  const int64_t first = INT_MAX - 7;
  const std::string letters = "ACGTAAAA";
  std::string masked = letters;
  const FRAGMENT f{INT_MAX - 3, INT_MAX, 4, 4, 0.0};
  int64_t covered = INT_MAX - 5;
  EXPECT_EQ(MaskSegment({letters.data(), first}, f, 2, &masked[0], &covered), 4);
  EXPECT_EQ(masked, "ACGTaaaa");
  EXPECT_EQ(covered, INT_MAX);
  EXPECT_EQ(MaskSegment({letters.data(), first}, f, 1, &masked[0], &covered), 0);
  EXPECT_EQ(masked, "ACGTNNNN");
  TextSink out;
  WriteSegmentLine(&out, {letters.data(), first}, 7, f, 4, MakePValue(0.25));
  EXPECT_EQ(SinkText(out), "7 2147483644 2147483647 4 4 2.500000e-01 AAAA\n");
}

// The formatters the report uses print exactly the bytes of "%e" and "%lld": every binary
// exponent with its neighbours, the values that round up to a new decimal exponent, the
// boundaries of the digit counts, and random samples.
TEST(Report, FormattersPrintAsPrintf) {
  std::mt19937_64 rng(2024);
  std::vector<double> reals = {0.0,     -0.0,         HUGE_VAL, -HUGE_VAL, std::nan(""),
                               DBL_MIN, DBL_TRUE_MIN, DBL_MAX,  1.0,       -std::nan("")};
  for (int e = -1074; e <= 1023; ++e) {
    const double x = std::ldexp(1.0, e);
    reals.insert(reals.end(), {x, std::nextafter(x, 0.0), std::nextafter(x, HUGE_VAL)});
  }
  for (int d = -310; d <= 308; ++d) {
    const double x = 9.9999995 * std::pow(10.0, d);  // a tie that rounds to the next power
    reals.insert(reals.end(), {x, std::nextafter(x, 0.0), std::nextafter(x, HUGE_VAL)});
  }
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    reals.insert(reals.end(), {x, static_cast<double>(rng() % 100000000) / 1e8});
  }
  int mismatches = 0;
  char fast[40], slow[400];
  for (const double x : reals) {
    *FormatSci(fast, x) = '\0';
    std::snprintf(slow, sizeof slow, "%e", x);
    if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
  }
  std::vector<long long> ints = {LLONG_MIN, LLONG_MAX, INT_MIN, INT_MAX};
  for (long long p = 1; p <= LLONG_MAX / 10; p *= 10) {
    for (const long long v : {p - 1, p, p + 1}) ints.insert(ints.end(), {v, -v});
  }
  for (int i = 0; i < 20000; ++i) ints.push_back(static_cast<long long>(rng()) >> (rng() % 64));
  for (const long long v : ints) {
    *FormatInt(fast, v) = '\0';
    std::snprintf(slow, sizeof slow, "%lld", v);
    if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
