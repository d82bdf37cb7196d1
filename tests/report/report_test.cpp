#include "report/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "stats/scan.h"

namespace {

TEST(Report, SequenceLines) {
  struct Case {
    const char* name;
    long n;
    std::string expected_shape;  // line lengths, one digit-group per line
  };
  const std::string letters(200, 'A');
  const Case cases[] = {
      {"empty", 0, ""},
      {"one short line", 5, "5"},
      {"exactly one line", 80, "80"},
      {"one more", 81, "80 1"},
      {"two full lines", 160, "80 80"},
  };
  for (const Case& c : cases) {
    TextSink sink;
    form_out_l(&sink, letters.data(), c.n, 80);
    std::string shape;
    size_t begin = 0;
    for (size_t nl = sink.pending.find('\n'); nl != std::string::npos;
         nl = sink.pending.find('\n', begin)) {
      shape += (shape.empty() ? "" : " ") + std::to_string(nl - begin);
      begin = nl + 1;
    }
    EXPECT_EQ(begin, sink.pending.size()) << c.name << ": text after the last newline";
    EXPECT_EQ(shape, c.expected_shape) << c.name;
  }
}

struct ExampleRun {
  std::string header = "seq1";
  std::string seq = "GAAATCGCAATAAGCTCGA";
  std::vector<double> rand_p;
  ReportInput Input(int fasta_output, double masking) const {
    return ReportInput{&header, seq.data(), static_cast<int>(seq.size()), "A", 8.0 / 19, 0,
                       &rand_p, fasta_output, masking};
  }
};

SegmentList ExampleSegments() {
  return {{2, 13, 12, 7, 0.0}, {19, 19, 1, 1, 0.0}};
}

TEST(Report, ExampleBodyAndMasking) {
  const std::string body =
      "\n>seq1\nGAAATCGCAATAAGCTCGA\n\n#Segments: 2\n"
      "1 2 13 12 7 5.077702e-01 AAATCGCAATAA\n"
      "2 19 19 1 1 9.999691e-01 A\n"
      "\n#Overall: 8 0.000000e+00 5.918592e-01* (+)\n";
  struct Case {
    const char* name;
    int fasta_output;
    double masking;
    std::string fasta;
  };
  const Case cases[] = {
      {"no masked copy", 0, 0.05, ""},
      {"nothing below the threshold", 1, 0.05, ">seq1\nGAAATCGCAATAAGCTCGA\n"},
      {"mask with N", 1, 0.6, ">seq1\nGNNNNNNNNNNNNGCTCGA\n"},
      {"mask with lower case", 2, 0.6, ">seq1\nGaaatcgcaataaGCTCGA\n"},
      {"a p-value equal to the threshold does not mask", 1,
       P_scan_ge_K_in_W_N(1, 1, 19, 8.0 / 19), ">seq1\nGNNNNNNNNNNNNGCTCGA\n"},
  };
  const ExampleRun run;
  for (const Case& c : cases) {
    TextSink out, fasta;
    EXPECT_TRUE(WriteSegmentsNT(run.Input(c.fasta_output, c.masking), ExampleSegments(), &out,
                                &fasta))
        << c.name;
    EXPECT_EQ(out.pending, body) << c.name;
    EXPECT_EQ(fasta.pending, c.fasta) << c.name;
  }
}

TEST(Report, OverlappingSegmentsMaskEachPositionOnce) {
  const ExampleRun run;
  // Windows merged with a negative linkage distance overlap; positions 2 to 5 are masked.
  const SegmentList list = {{2, 4, 3, 3, 0.0}, {3, 5, 3, 2, 0.0}};
  TextSink out, fasta;
  testing::internal::CaptureStdout();
  WriteSegmentsNT(run.Input(1, 1.0), list, &out, &fasta);
  const std::string stdout_text = testing::internal::GetCapturedStdout();
  EXPECT_EQ(stdout_text, "Masked positions: 4 of 19 21.05\n");
  EXPECT_EQ(fasta.pending, ">seq1\nGNNNNCGCAATAAGCTCGA\n");
}

TEST(Report, HeaderLines) {
  struct Case {
    const char* name;
    ReportHeader h;
    std::string expected;
  };
  const Case cases[] = {
      {"runs mode", {19, 0, 5, 0.05, "A", "Default frequencies", 0, 0},
       "Length=19 W=0 E=5\nSpecial residues: A; Default frequencies\n"},
      {"window of 1 is runs mode", {19, 1, 5, 0.05, "GC", "User-supplied frequencies", 0, 0},
       "Length=19 W=1 E=5\nSpecial residues: GC; User-supplied frequencies\n"},
      {"window mode", {19, 4, 5, 0.05, "A", "Default frequencies", 0, 0},
       "Length=19 W=4 E=5 P=0.050000\nSpecial residues: A; Default frequencies\n"},
      {"shuffled", {19, 0, 5, 0.05, "A", "Default frequencies", 2, 0},
       "Length=19 W=0 E=5\nSpecial residues: A; Default frequencies\n"
       "Estimates using 0 shuffled sequences\n"},
      {"generated", {19, 0, 5, 0.05, "", "Default frequencies", 1, 7},
       "Length=19 W=0 E=5\nSpecial residues: ; Default frequencies\n"
       "Estimates using 7 generated sequences\n"},
  };
  for (const Case& c : cases) {
    TextSink out;
    WriteReportHeader(&out, c.h);
    EXPECT_EQ(out.pending, c.expected) << c.name;
  }
}

TEST(Report, FailedWritesAreReported) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  TextSink sink;
  sink.file = full;
  SinkWrite(&sink, "data", 4);
  EXPECT_FALSE(SinkClose(&sink));

  std::FILE* null = std::fopen("/dev/null", "w");
  ASSERT_NE(null, nullptr);
  TextSink ok;
  ok.file = null;
  SinkPrintf(&ok, "%s %d", std::string(2000, 'x').c_str(), 5);  // longer than the line buffer
  EXPECT_EQ(ok.pending.size(), 2002u);
  EXPECT_TRUE(SinkClose(&ok));
}

}  // namespace
