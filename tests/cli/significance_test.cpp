// Significance across the input: --mask-evalue on one entry masks as -M does, the E-values of
// the tables are the p-values times the entries of the input, a background is the whole
// input's (or a file's) composition with the frequency switches after it. (What these
// options refuse is among the end-to-end cases.)
#include <cmath>
#include <cstdio>
#include <sstream>

#include "harness.h"

namespace {

// Entries of different compositions, one without nucleotides (skipped, and counted all the
// same), stretches rich in A that give segments of many p-values.
const std::string kManyEntries = ReadFile(CLI_DATA_DIR "/input/significance_entries.fa");
constexpr int kEntries = 8;

// Runs on in.fa holding `input` (or a pipe fed with it) with the files of `more` beside it.
Outcome RunOn(const std::string& input, const std::string& args, bool through_pipe = false,
              Files more = {}) {
  more["in.fa"] = input;
  return ::RunOn(more, Words((through_pipe ? "- out " : "in.fa out ") + args),
                 With("", "in.fa", through_pipe));
}

std::vector<std::vector<std::string>> Rows(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string f; std::getline(fields, f, '\t');) rows.back().push_back(f);
  }
  return rows;
}

// One entry: m is 1, and --mask-evalue E masks what -M:E masks; the table's E-values are its
// p-values, and its other columns, and all the rest of the run, those of -M:E's.
TEST(Significance, OneEntryMasksAsTheMaskingPValue) {
  const std::string one = ReadFile(CLI_DATA_DIR "/input/significance_one.fa");
  const std::string tables = " --table --all-segments --summary";
  for (const std::string e : {"0.5", "1e-3", "0.05"}) {
    for (const std::string s : {"-F --bed", "-L -W:50 -P:0.2", "-S:30 --seed 3 -F", "-K -L"}) {
      const Outcome p = RunOn(one, s + " -M:" + e + tables);
      Outcome ev = RunOn(one, s + " --mask-evalue " + e + tables);
      ASSERT_EQ(p.status, 0) << s << p.err;
      for (const char* name : {"out.tsv", "out.summary.tsv"}) {  // without the last column
        std::string cut;
        for (const auto& row : Rows(ev.files[name])) {
          EXPECT_TRUE(std::string(name) != "out.tsv" || row[0] == "#entry" || row.back() == row[5])
              << s << e;
          for (std::size_t i = 0; i + 1 < row.size(); ++i)
            cut += row[i] + (i + 2 < row.size() ? "\t" : "\n");
        }
        ev.files[name] = cut;
      }
      EXPECT_EQ(ev, p) << s << " " << e;
    }
  }
}

// Over many entries: each E-value is the p-value times the entries of the input (skipped ones
// counted, or the count given), masked below the threshold; an entry's least E-value is its
// segments' least; --evalues leaves the masks of -M; the report keeps its bytes.
TEST(Significance, EvaluesArePValuesTimesTheEntries) {
  const std::string &in = kManyEntries,
                    tables = "--all-entries -F --bed --table --all-segments --summary ";
  const Outcome plain = RunOn(in, tables);
  ASSERT_EQ(plain.status, 0) << plain.err;
  const struct {
    const char* args;
    double m;
    double mask_below;  // an E-value below it is masked; 0: the masks of -M
  } cases[] = {{"--evalues", kEntries, 0},
               {"--evalues --evalue-entries 1000", 1000, 0},
               {"--mask-evalue 0.2", kEntries, 0.2},
               {"--mask-evalue 5 --evalue-entries 300", 300, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome run = RunOn(in, tables + c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.File("out.seg"), plain.File("out.seg"));
    if (c.mask_below == 0) {
      for (const char* name : {"out.fas", "out.bed"}) EXPECT_EQ(run.File(name), plain.File(name));
      EXPECT_EQ(run.out, plain.out);
    }
    std::map<std::string, std::string> least;  // entry -> least E-value, as printed
    int masked = 0, rows = 0;
    for (const auto& row : Rows(run.File("out.tsv"))) {
      if (row[0] == "#entry") continue;  // its columns: the end-to-end case evalue_tables
      const double p = std::stod(row[5]), e = std::stod(row.back());
      EXPECT_NEAR(e, p * c.m, 1e-6 * e) << row[0];
      if (c.mask_below > 0 && std::fabs(e - c.mask_below) > 1e-5 * c.mask_below) {
        EXPECT_EQ(row[6], e < c.mask_below ? "1" : "0") << row[0];
      }
      masked += row[6] == "1", ++rows;
      if (least.count(row[0]) == 0 || e < std::stod(least[row[0]])) least[row[0]] = row.back();
    }
    EXPECT_GT(rows, masked);
    EXPECT_TRUE(c.mask_below == 0 || masked > 0);
    for (const auto& row : Rows(run.File("out.summary.tsv"))) {
      const std::string want = least.count(row[0]) ? least[row[0]] : "NA";
      EXPECT_TRUE(row[0] == "#entry" || row.back() == want) << row[0] << " " << want;
    }
  }
}

// The frequencies of the input's letters (and of a file's, compressed or FASTQ) for every
// entry: the same bytes as the four frequency switches with those doubles. The run says the
// background once. (Single switches after it, and --quiet, are the end-to-end cases
// background_then_single_switches and background_quiet.)
TEST(Significance, BackgroundOfTheInputOrAFile) {
  const std::string& in = kManyEntries;
  int64_t n[4] = {0, 0, 0, 0};  // A, T, G, C of the entries' letters
  std::istringstream lines(in);
  for (std::string line; std::getline(lines, line);) {
    for (const char c : line) {
      const std::size_t k = std::string("ATGC").find(static_cast<char>(std::toupper(c)));
      if (line[0] != '>' && k != std::string::npos) ++n[k];
    }
  }
  const double total = static_cast<double>(n[0] + n[1] + n[2] + n[3]);
  std::string exact;
  for (int k = 0; k < 4; ++k) {
    char text[64];
    std::snprintf(text, sizeof text, " -%c:%.17g", "ATGC"[k], static_cast<double>(n[k]) / total);
    exact += text;
  }
  const std::string common = "--all-entries -L --bed --summary -K ";
  const Outcome want = RunOn(in, common + exact);
  ASSERT_EQ(want.status, 0) << want.err;
  // The same letters in other files: the input's FASTA, and as FASTQ.
  const Files files = {{"bg.fa", in}, {"bg.fq", AsFastq(in)}};
  for (const auto& [background, through_pipe] :
       {std::pair{"input", false}, {"bg.fa", false}, {"bg.fq", false}, {"bg.fa", true}}) {
    const Outcome got = RunOn(in, common + "--background " + background, through_pipe, files);
    const std::string shown = background + std::string(through_pipe ? " from a pipe" : "");
    ASSERT_EQ(got.status, 0) << shown << got.err;
    EXPECT_EQ(got.files, want.files) << shown;
    char line[200];
    std::snprintf(line, sizeof line, "Background = %s: A=%.6f T=%.6f G=%.6f C=%.6f\n", background,
                  n[0] / total, n[1] / total, n[2] / total, n[3] / total);
    EXPECT_EQ(got.out, line + want.out) << shown;
  }
}

}  // namespace
