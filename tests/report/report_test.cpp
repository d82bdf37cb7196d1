#include "report/report.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "stats/scan.h"

namespace {

// Masking is strict: a segment whose p-value equals the threshold keeps its letters, and a
// position inside two masked segments is counted once.
TEST(Report, MaskingThresholdAndCount) {
  const std::string header = "seq1";
  const std::string seq = "GAAATCGCAATAAGCTCGA";
  const std::vector<double> no_table;
  const double p_single = P_scan_ge_K_in_W_N(1, 1, 19, 8.0 / 19);
  struct Case {
    const char* name;
    SegmentList list;
    double threshold;
    std::string fasta, stdout_text;
  };
  const Case cases[] = {
      {"equal p-value does not mask", {{2, 13, 12, 7, 0}, {19, 19, 1, 1, 0}}, p_single,
       ">seq1\nGNNNNNNNNNNNNGCTCGA\n", "Masked positions: 12 of 19 63.16\n"},
      {"overlapping segments", {{2, 4, 3, 3, 0}, {3, 5, 3, 2, 0}}, 1.0,
       ">seq1\nGNNNNCGCAATAAGCTCGA\n", "Masked positions: 4 of 19 21.05\n"},
  };
  for (const Case& c : cases) {
    const ReportInput in{&header, seq.data(), 19, "A", 8.0 / 19, 0, &no_table, 1, c.threshold};
    TextSink out, fasta;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(WriteSegmentsNT(in, SourceOfList(c.list), &out, &fasta)) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.stdout_text) << c.name;
    EXPECT_EQ(SinkText(fasta), c.fasta) << c.name;
  }
}

TEST(Report, SinkWritesLongTextAndReportsFailure) {
  TextSink ok;
  ok.file = std::fopen("/dev/null", "w");
  SinkPrintf(&ok, "%s %d", std::string(2000, 'x').c_str(), 5);  // longer than the line buffer
  EXPECT_EQ(ok.used, 2002u);
  EXPECT_TRUE(SinkClose(&ok));
  TextSink full;
  full.file = std::fopen("/dev/full", "w");
  SinkWrite(&full, "data", 4);
  EXPECT_FALSE(SinkClose(&full));
}

// The formatters the report uses print exactly the bytes of "%e" and "%d".
TEST(Report, FormattersPrintAsPrintf) {
  std::mt19937_64 rng(2024);
  std::vector<double> reals = {0.0, -0.0, HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan(""),
                               DBL_MIN, DBL_TRUE_MIN, DBL_MAX, 1.0, 0.5, 9.9999995e-01};
  for (int e = -1074; e <= 1023; ++e) reals.push_back(std::ldexp(1.0, e));  // exact ties too
  for (int i = 0; i < 2000000; ++i) {
    const uint64_t bits = rng();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    reals.push_back(x);
    reals.push_back(static_cast<double>(rng() % 100000000) / 1e8);  // p-values
  }
  int mismatches = 0;
  char fast[40], slow[400];
  for (const double x : reals) {
    *FormatSci(fast, x) = '\0';
    std::snprintf(slow, sizeof slow, "%e", x);
    if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
  }
  for (long long v : {0LL, -1LL, 2147483647LL, -2147483648LL}) {
    for (int i = 0; i < 1000000; ++i, v = static_cast<int>(rng())) {
      *FormatInt(fast, v) = '\0';
      std::snprintf(slow, sizeof slow, "%d", static_cast<int>(v));
      if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
