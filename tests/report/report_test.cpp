#include "report/report.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "sequence/composition.h"
#include "stats/scan.h"

using namespace kestra;

namespace {

// Masking is strict: a segment whose p-value equals the threshold (the lone A at 19) keeps its
// letters and its row of the table of every segment, and makes no BED line; the masked copy,
// written in two pieces as a long entry's is, is wrapped at the width asked for. (The widths
// of 80 and 0 and the table of masked segments alone are held end to end: fasta_masks_with_n,
// line_width_0_one_line, table_of_masked_segments.)
TEST(Report, PValueEqualToTheThresholdDoesNotMask) {
  const std::string header = "seq1 the first", seq = "GAAATCGCAATAAGCTCGA";
  std::vector<uint64_t> bits(2);
  PackBits("0111000011011000001", 19, bits.data());
  const double p = 8.0 / 19;
  const EntryText in{&header, seq.data(), seq.data(), 19, MaskStyle::kN, ScanPValue(1, 1, 19, p),
                     7,       true};
  TextSink fasta, bed, table;
  SegmentScorer scorer;
  StartScoring(&scorer, 19, p, nullptr);
  SegmentWalk walk = MergedRunSegments(bits.data(), 19, 5, 0, 19);
  std::vector<uint64_t> mask(2, 0);
  WriteSegments(in, bits.data(), &walk, 1, &scorer, SegmentSinks{nullptr, &bed, &table},
                mask.data());
  WriteMaskedLines(&fasta, in, mask.data(), 0, 14);
  WriteMaskedLines(&fasta, in, mask.data(), 14, 19);
  EXPECT_EQ(SinkText(fasta), "GNNNNNN\nNNNNNNG\nCTCGA\n");
  EXPECT_EQ(SinkText(bed), "seq1\t1\t13\t1\t2\t.\n");  // -10 log10 0.5077702 is 2.94
  EXPECT_EQ(SinkText(table),
            "seq1\t1\t13\t12\t7\t5.077702e-01\t1\nseq1\t18\t19\t1\t1\t9.999691e-01\t0\n");
}

// A BED score is -10 log10 p rounded down, at most 1000 (p = 0 included).
TEST(Report, BedScores) {
  const std::pair<double, const char*> cases[] = {{0.0, "1000"}, {1e-200, "1000"}, {1e-100, "1000"},
                                                  {0.05, "13"},  {0.1, "10"},      {1.0, "0"}};
  for (const auto& [p, score] : cases) {
    TextSink bed;
    WriteBedLine(&bed, BedName("chr\tx"), 3, Span{5, 9, 5, 2}, p);
    EXPECT_EQ(SinkText(bed), std::string("chr\t4\t9\t3\t") + score + "\t.\n") << p;
  }
}

// A sequence may reach the largest int: a segment ending there is listed and masked through
// views of its last letters and mask words, without a position overflowing.
TEST(Report, SegmentEndingAtTheLastPosition) {
  const int64_t first = INT_MAX - 7;
  const std::string letters = "ACGTAAAA";
  const Span s{INT_MAX - 3, INT_MAX, 4, 4};
  const int64_t first_word = (int64_t{INT_MAX} - 100) / 64;
  std::vector<uint64_t> mask(4, 0);
  MarkSegment({mask.data(), first_word}, s);
  for (int64_t cell = 64 * first_word; cell < 64 * (first_word + 4); ++cell) {
    const bool set = (mask[(cell - 64 * first_word) / 64] >> (cell % 64)) & 1;
    EXPECT_EQ(set, cell >= INT_MAX - 4 && cell <= INT_MAX - 1) << cell;
  }
  TextSink out;
  SegmentNumbers numbers;
  StartNumbers(&numbers, 7);
  NextNumbers(&numbers, s, true);
  WriteSegmentLine(&out, {letters.data(), first}, numbers, s, MakePValue(0.25));
  EXPECT_EQ(SinkText(out), "7 2147483644 2147483647 4 4 2.500000e-01 AAAA\n");
}

}  // namespace
