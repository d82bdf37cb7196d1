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

// Masking is strict: a segment whose p-value equals the threshold keeps its letters.
TEST(Report, PValueEqualToTheThresholdDoesNotMask) {
  const std::string header = "seq1", seq = "GAAATCGCAATAAGCTCGA";
  const std::vector<double> no_table;
  const ReportInput in{&header,   seq.data(), 19,
                       "A",       8.0 / 19,   0,
                       &no_table, 1,          P_scan_ge_K_in_W_N(1, 1, 19, 8.0 / 19)};
  const SegmentList list = {{2, 13, 12, 7, 0}, {19, 19, 1, 1, 0}};
  TextSink out, fasta;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(WriteSegmentsNT(in, SourceOfList(list), &out, &fasta));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Masked positions: 12 of 19 63.16\n");
  EXPECT_EQ(SinkText(fasta), ">seq1\nGNNNNNNNNNNNNGCTCGA\n");
}

TEST(Report, SinkPrintsTextLongerThanItsLineBuffer) {
  TextSink sink;
  SinkPrintf(&sink, "%s %d", std::string(2000, 'x').c_str(), 5);
  EXPECT_EQ(SinkText(sink), std::string(2000, 'x') + " 5");
}

// The formatters the report uses print exactly the bytes of "%e" and "%lld".
TEST(Report, FormattersPrintAsPrintf) {
  std::mt19937_64 rng(2024);
  std::vector<double> reals = {0.0,          -0.0,          HUGE_VAL, -HUGE_VAL,
                               std::nan(""), -std::nan(""), DBL_MIN,  DBL_TRUE_MIN,
                               DBL_MAX,      1.0,           0.5,      9.9999995e-01};
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
  // Powers of ten and their neighbours, where the digit count changes, then random values.
  std::vector<long long> ints = {LLONG_MIN, LLONG_MAX, INT_MIN, INT_MAX};
  for (long long p = 1; p <= LLONG_MAX / 10; p *= 10) {
    for (const long long v : {p - 1, p, p + 1}) ints.insert(ints.end(), {v, -v});
  }
  for (int i = 0; i < 2000000; ++i) ints.push_back(static_cast<long long>(rng()) >> (rng() % 64));
  for (const long long v : ints) {
    *FormatInt(fast, v) = '\0';
    std::snprintf(slow, sizeof slow, "%lld", v);
    if (std::strcmp(fast, slow) != 0 && mismatches++ == 0) ADD_FAILURE() << fast << " vs " << slow;
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
