#include "report/report.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "stats/scan.h"

namespace {

// Masking is strict: a segment whose p-value equals the threshold keeps its letters, and
// only masked segments make BED lines.
TEST(Report, PValueEqualToTheThresholdDoesNotMask) {
  const std::string header = "seq1 the first", seq = "GAAATCGCAATAAGCTCGA",
                    binary = "01110000110110000010";
  const double p = 8.0 / 19;
  const EntryText in{&header, seq.data(), seq.data(),    19,
                     "A",     p,          MaskStyle::kN, ScanPValue(1, 1, 19, p)};
  TextSink fasta, bed;
  SegmentScorer scorer;
  StartScoring(&scorer, 19, p, nullptr);
  SegmentSource source = MergedRunSource(std::vector<char>(binary.begin(), binary.end()), 19, 5);
  const EntryCounts counts = WriteEntryOutputs(in, &source, &scorer, {nullptr, &fasta, &bed});
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
    WriteBedLine(&bed, BedName("chr\tx"), 3, Segment{5, 9, 5, 2}, p);
    EXPECT_EQ(SinkText(bed), std::string("chr\t4\t9\t3\t") + score + "\t.\n") << p;
  }
}

// A sequence may reach the largest int: a segment ending there is listed and masked through
// a view of its last letters, without a position overflowing.
TEST(Report, SegmentEndingAtTheLastPosition) {
  const int64_t first = INT_MAX - 7;
  const std::string letters = "ACGTAAAA";
  std::string masked = letters;
  const Segment s{INT_MAX - 3, INT_MAX, 4, 4};
  int64_t covered = INT_MAX - 5;
  EXPECT_EQ(MaskSegment({letters.data(), first}, s, MaskStyle::kLowerCase, &masked[0], &covered),
            4);
  EXPECT_EQ(masked, "ACGTaaaa");
  EXPECT_EQ(covered, INT_MAX);
  EXPECT_EQ(MaskSegment({letters.data(), first}, s, MaskStyle::kN, &masked[0], &covered), 0);
  EXPECT_EQ(masked, "ACGTNNNN");
  TextSink out;
  WriteSegmentLine(&out, {letters.data(), first}, 7, s, MakePValue(0.25));
  EXPECT_EQ(SinkText(out), "7 2147483644 2147483647 4 4 2.500000e-01 AAAA\n");
}

}  // namespace
