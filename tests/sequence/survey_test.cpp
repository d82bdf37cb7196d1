// The survey of a whole input against the entries the reader gives: its count of entries and
// its A, T, G and C are theirs, letter by letter, whatever the input's packing.
#include "sequence/survey.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <random>
#include <string>

#include "gzip_support.h"
#include "read_support.h"
#include "sequence/composition.h"

using namespace kestra;

namespace {

using namespace std::string_literals;

// Text before the first entry (its letters belong to none), '>' inside a sequence line and
// inside a header line, lower case, CR LF, NUL and high bytes, an empty entry, a header line
// longer than the reader keeps, and a last header line without its newline.
std::string AwkwardFasta() {
  std::mt19937 rng(30);
  std::string in = "ACGTTT\nacgt nnn\n";
  in += ">first > not a start\n" + Letters(rng, 3000, "ACGTacgtN-\r\n") + "\n";
  in += "ACGA>inside a line\n" + Letters(rng, 700, "AAAAT\n") + "\n";
  in += ">empty\n>nul\0and\xe1 high\n"s + Letters(rng, 500, "AC\0GT\xc1\n") + "\n";
  in += ">" + std::string(25000, 'A') + "\n" + Letters(rng, 200, "GGCCAT\n") + "\n";
  in += ">crlf\r\nACGT\r\nAAAA\r\n>last without newline";
  return in;
}

// Each entry a record, as the sequence lines of the FASTA entries give them, qualities of
// letters that a count of nucleotides must not see.
std::string AsFastq(int records) {
  std::mt19937 rng(31);
  std::string fq;
  for (int i = 0; i < records; ++i) {
    const std::string seq = Letters(rng, 10 + i * 13 % 300, "ACGTacgtN");
    fq += "@read" + std::to_string(i) + " ACGT\n" + seq + "\n+\n" + std::string(seq.size(), 'A') +
          "\n";
  }
  return fq;
}

// The straightforward count: every entry the reader gives, its letters upper-cased one by one
// and looked up.
InputSurvey ByEachEntry(int fd) {
  InputSurvey want;
  FastaReader* reader = OpenFastaReader(fd);
  FastaEntry entry;
  for (FastaStatus status; NextFastaEntry(reader, &entry, &status);) {
    ++want.entries;
    for (const char c : entry.letters) {
      const int k = NucleotideIndex(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
      if (k >= 0) ++want.counts[k];
    }
  }
  CloseFastaReader(reader);
  return want;
}

std::array<int64_t, 5> Figures(const InputSurvey& s) {
  return {s.entries, s.counts[0], s.counts[1], s.counts[2], s.counts[3]};
}

// The survey of each input, from a file and a pipe, against the sum of its entries; a damaged
// input fails with the reader's reason.
TEST(Survey, EqualsTheSumOfTheEntries) {
  const std::string fasta = AwkwardFasta(), fastq = AsFastq(400);
  const std::string gzip = Compressed(fasta, "gzip -c");
  const struct {
    const char* name;
    std::string bytes;
    std::string text;    // what the reader reads of them
    std::string reason;  // why they cannot be read; empty: they can
  } inputs[] = {
      {"plain FASTA", fasta, fasta, ""},
      {"gzip FASTA", gzip, fasta, ""},
      {"BGZF FASTA in small blocks", InBlocks(fasta, 333).bytes, fasta, ""},
      {"xz FASTA", Compressed(fasta, "xz -c"), fasta, ""},
      {"plain FASTQ", fastq, fastq, ""},
      {"BGZF FASTQ", InBlocks(fastq, 1000).bytes, fastq, ""},
      {"empty", "", "", ""},
      {"gzip cut short", gzip.substr(0, gzip.size() / 2), "", "truncated gzip data"},
  };
  for (const auto& input : inputs) {
    FILE* file = FileWith(input.text);
    const InputSurvey want = ByEachEntry(fileno(file));
    std::fclose(file);
    auto survey = [&input](int fd) {
      InputSurvey got;
      ReadProblem problem;
      EXPECT_EQ(SurveyInput(fd, nullptr, &got, &problem), input.reason.empty()) << input.name;
      EXPECT_EQ(problem.reason, input.reason) << input.name;
      return got;
    };
    file = FileWith(input.bytes);
    const InputSurvey got = survey(fileno(file));
    std::fclose(file);
    const InputSurvey piped = ThroughPipe(input.bytes, 4096, survey);
    if (!input.reason.empty()) continue;
    EXPECT_EQ(Figures(got), Figures(want)) << input.name;
    EXPECT_EQ(Figures(piped), Figures(want)) << input.name << " from a pipe";
  }
  // The awkward input has entries and letters to count, and letters before its first entry.
  FILE* file = FileWith(fasta);
  EXPECT_GT(ByEachEntry(fileno(file)).entries, 5);
  std::fclose(file);
}

// FASTA text fed in blocks of any size, a block boundary anywhere, gives what it gives whole;
// and the counts of long runs of one letter, past what a field of the sums holds.
TEST(Survey, TextInBlocksAndLongRuns) {
  const std::string fasta = AwkwardFasta();
  InputSurvey whole;
  FastaTextSurvey all{&whole};
  SurveyFastaText(&all, fasta.data(), fasta.size());
  for (const std::size_t block : {1, 2, 7, 64, 4097}) {
    InputSurvey got;
    FastaTextSurvey s{&got};
    for (std::size_t at = 0; at < fasta.size(); at += block) {
      SurveyFastaText(&s, fasta.data() + at, std::min(block, fasta.size() - at));
    }
    EXPECT_EQ(Figures(got), Figures(whole)) << block;
  }
  const std::string runs = std::string(300001, 'a') + std::string(70000, 'C') + "gT";
  int64_t counts[4] = {0, 0, 0, 0};
  CountNucleotides(runs.data(), runs.data() + runs.size(), counts);
  EXPECT_EQ(std::vector<int64_t>(counts, counts + 4), (std::vector<int64_t>{300001, 1, 1, 70000}));
}

}  // namespace
