// The survey of a whole input against the entries the reader gives: its count of entries and
// its A, T, G and C are theirs, letter by letter, whatever the input's packing.
#include "sequence/survey.h"

#include <array>
#include <cctype>

#include "read_support.h"
#include "sequence/composition.h"

using namespace kestra;

namespace {

using namespace std::string_literals;
using Figures = std::array<int64_t, 5>;  // entries, then A, T, G and C

// The straightforward count: every entry the reader gives of the plain text, its letters
// upper-cased one by one and looked up.
Figures ByEachEntry(const std::string& text) {
  const Entries read = PlainEntries(text);
  Figures want{static_cast<int64_t>(read.entries.size())};
  for (const auto& [status, header, letters] : read.entries) {
    for (const char c : letters) {
      const int k = NucleotideIndex(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
      if (k >= 0) ++want[1 + k];
    }
  }
  return want;
}

Figures Of(const InputSurvey& s) {
  return {s.entries, s.counts[0], s.counts[1], s.counts[2], s.counts[3]};
}

// The survey of each input, from a file and a pipe, against the sum of its entries; a damaged
// input fails with the reader's reason.
TEST(Survey, EqualsTheSumOfTheEntries) {
  const std::string fasta = DataFile("awkward.fa"), fastq = SomeFastq(20000);
  const std::string gzip = Compressed(fasta, "gzip -c");
  // The awkward input has entries and letters to count, and letters before its first entry.
  EXPECT_GT(ByEachEntry(fasta)[0], 5);
  const std::tuple<const char*, std::string, std::string, std::string> inputs[] = {
      // name, bytes, the text the reader reads of them, why they cannot be read (empty: they can)
      {"plain FASTA", fasta, fasta, ""},
      {"gzip FASTA", gzip, fasta, ""},
      {"plain FASTQ", fastq, fastq, ""},
      {"empty", "", "", ""},
      {"gzip cut short", gzip.substr(0, gzip.size() / 2), "", "truncated gzip data"},
  };
  for (const auto& [name, bytes, text, reason] : inputs) {
    auto survey = [&, name = name, reason = reason](int fd) {
      InputSurvey got;
      ReadProblem problem;
      EXPECT_EQ(SurveyInput(fd, nullptr, &got, &problem), reason.empty()) << name;
      EXPECT_EQ(problem.reason, reason) << name;
      return Of(got);
    };
    const Figures got = FromFile(bytes, survey), piped = ThroughPipe(bytes, 4096, survey);
    if (!reason.empty()) continue;
    EXPECT_EQ(got, ByEachEntry(text)) << name;
    EXPECT_EQ(piped, ByEachEntry(text)) << name << " from a pipe";
  }
}

// FASTA text fed in blocks of any size, a block boundary anywhere, gives what it gives whole;
// and the counts of long runs of one letter, past what a field of the sums holds.
TEST(Survey, TextInBlocksAndLongRuns) {
  const std::string fasta = DataFile("awkward.fa");
  InputSurvey whole;
  FastaTextSurvey all{&whole};
  SurveyFastaText(&all, fasta.data(), fasta.size());
  for (const std::size_t block : {1, 2, 7, 64, 4097}) {
    InputSurvey got;
    FastaTextSurvey s{&got};
    FeedInBlocks(fasta, block, [&](const char* data, std::size_t n) {
      return SurveyFastaText(&s, data, n), true;
    });
    EXPECT_EQ(Of(got), Of(whole)) << block;
  }
  const std::string runs = std::string(300001, 'a') + std::string(70000, 'C') + "gT";
  int64_t counts[4] = {0, 0, 0, 0};
  CountNucleotides(runs.data(), runs.data() + runs.size(), counts);
  EXPECT_EQ(std::vector<int64_t>(counts, counts + 4), (std::vector<int64_t>{300001, 1, 1, 70000}));
}

}  // namespace
