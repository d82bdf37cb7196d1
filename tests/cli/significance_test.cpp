// Significance across the input: --mask-evalue on one entry masks as -M does, the E-values of
// the tables are the p-values times the entries of the input, a background is the whole
// input's (or a file's) composition with the frequency switches after it. (What these
// options refuse is among the end-to-end cases.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

// Entries of different compositions, one without nucleotides (skipped, and counted all the
// same), stretches rich in A that give segments of many p-values.
std::string ManyEntries() {
  std::mt19937 rng(30);
  std::string in;
  for (int i = 0; i < 6; ++i) {
    in +=
        Fasta("e" + std::to_string(i), Letters(rng, 400 + 300 * i, i % 2 ? "ACGT" : "ACGTTG") +
                                           Letters(rng, 60, "AAAAAT") + Letters(rng, 500, "acgtA"));
  }
  return in + Fasta("gaps", "NNNN--NN") + Fasta("last", Letters(rng, 800, "ACGTAA"));
}
constexpr int kManyEntries = 8;

struct Outcome {
  RunResult result;
  std::map<std::string, std::string> files;  // by name, of those the run may write
};

// Runs on `input` (its bytes as in.fa, or through a pipe) with the files of `more` beside it.
Outcome RunOn(const std::string& input, std::vector<std::string> args, bool through_pipe = false,
              const std::map<std::string, std::string>& more = {}) {
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/work/in.fa", std::ios::binary) << input;
  for (const auto& [name, bytes] : more) std::ofstream(dir + "/work/" + name) << bytes;
  args.insert(args.begin(), {through_pipe ? "-" : "in.fa", "out"});
  RunOptions options;
  options.stdin_path = dir + "/work/in.fa";
  options.through_pipe = through_pipe;
  Outcome run{RunKestra(dir, args, options), {}};
  for (const char* name : {"out.seg", "out.fas", "out.bed", "out.tsv", "out.summary.tsv"}) {
    run.files[name] = ReadFile(dir + "/work/" + name);
  }
  fs::remove_all(dir);
  return run;
}

std::vector<std::vector<std::string>> Rows(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    rows.emplace_back();
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) rows.back().push_back(f);
  }
  return rows;
}

// The table without its last column.
std::string WithoutLastColumn(const std::string& table) {
  std::string out;
  for (const auto& row : Rows(table)) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i)
      out += row[i] + (i + 2 < row.size() ? "\t" : "\n");
  }
  return out;
}

// One entry: m is 1, and --mask-evalue E masks what -M:E masks; the table's E-values are its
// p-values, and its other columns those of -M:E's.
TEST(Significance, OneEntryMasksAsTheMaskingPValue) {
  std::mt19937 rng(4);
  const std::string one = Fasta("one", Letters(rng, 3000, "ACGT") + Letters(rng, 200, "AAAAAATCG") +
                                           Letters(rng, 2000, "ACGTA") + Letters(rng, 40, "AAAT"));
  const std::vector<std::vector<std::string>> switch_sets = {
      {"-F", "--bed"}, {"-L", "-W:50", "-P:0.2"}, {"-S:30", "--seed", "3", "-F"}, {"-K", "-L"}};
  for (const char* e : {"0.5", "1e-3", "0.05"}) {
    for (const auto& switches : switch_sets) {
      std::vector<std::string> by_p = switches, by_e = switches;
      by_p.insert(by_p.end(), {"-M:" + std::string(e), "--table", "--all-segments", "--summary"});
      by_e.insert(by_e.end(), {"--mask-evalue", e, "--table", "--all-segments", "--summary"});
      const Outcome p = RunOn(one, by_p), ev = RunOn(one, by_e);
      const std::string shown = ::testing::PrintToString(by_e);
      ASSERT_EQ(p.result.status, 0) << shown << p.result.err;
      EXPECT_EQ(ev.result.out, p.result.out) << shown;
      EXPECT_EQ(ev.result.err, p.result.err) << shown;
      for (const char* name : {"out.seg", "out.fas", "out.bed"}) {
        EXPECT_EQ(ev.files.at(name), p.files.at(name)) << shown << " " << name;
      }
      EXPECT_EQ(WithoutLastColumn(ev.files.at("out.tsv")), p.files.at("out.tsv")) << shown;
      EXPECT_EQ(WithoutLastColumn(ev.files.at("out.summary.tsv")), p.files.at("out.summary.tsv"));
      for (const auto& row : Rows(ev.files.at("out.tsv"))) {
        if (row[0] != "#entry") {
          EXPECT_EQ(row.back(), row[5]) << shown;
        }
      }
    }
  }
}

// Over many entries: each E-value is the p-value times the entries of the input (skipped ones
// counted, or the count given), masked below the threshold; an entry's least E-value is its
// segments' least; --evalues leaves the masks of -M; the report keeps its bytes.
TEST(Significance, EvaluesArePValuesTimesTheEntries) {
  const std::string in = ManyEntries();
  const std::vector<std::string> tables = {"--all-entries",  "-F",       "--bed", "--table",
                                           "--all-segments", "--summary"};
  const Outcome plain = RunOn(in, tables);
  ASSERT_EQ(plain.result.status, 0) << plain.result.err;
  const struct {
    std::vector<std::string> args;
    double m;
    double mask_below;  // an E-value below it is masked; 0: the masks of -M
  } cases[] = {{{"--evalues"}, kManyEntries, 0},
               {{"--evalues", "--evalue-entries", "1000"}, 1000, 0},
               {{"--mask-evalue", "0.2"}, kManyEntries, 0.2},
               {{"--mask-evalue", "5", "--evalue-entries", "300"}, 300, 5}};
  for (const auto& c : cases) {
    std::vector<std::string> args = tables;
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = RunOn(in, args);
    const std::string shown = ::testing::PrintToString(c.args);
    ASSERT_EQ(run.result.status, 0) << shown << run.result.err;
    EXPECT_EQ(run.files.at("out.seg"), plain.files.at("out.seg")) << shown;
    if (c.mask_below == 0) {
      EXPECT_EQ(run.files.at("out.fas"), plain.files.at("out.fas")) << shown;
      EXPECT_EQ(run.files.at("out.bed"), plain.files.at("out.bed")) << shown;
      EXPECT_EQ(run.result.out, plain.result.out) << shown;
    }
    std::map<std::string, std::string> least;  // entry -> least E-value, as printed
    int masked = 0, rows = 0;
    for (const auto& row : Rows(run.files.at("out.tsv"))) {
      if (row[0] == "#entry") {
        EXPECT_EQ(row.back(), "e_value");
        continue;
      }
      const double p = std::stod(row[5]), e = std::stod(row.back());
      EXPECT_NEAR(e, p * c.m, 1e-6 * e) << shown << " " << row[0];
      if (c.mask_below > 0 && std::fabs(e - c.mask_below) > 1e-5 * c.mask_below) {
        EXPECT_EQ(row[6], e < c.mask_below ? "1" : "0") << shown << " " << row[0];
      }
      masked += row[6] == "1";
      ++rows;
      if (least.count(row[0]) == 0 || e < std::stod(least[row[0]])) least[row[0]] = row.back();
    }
    EXPECT_GT(rows, masked) << shown;
    if (c.mask_below > 0) {
      EXPECT_GT(masked, 0) << shown;
    }
    for (const auto& row : Rows(run.files.at("out.summary.tsv"))) {
      if (row[0] == "#entry") continue;
      const std::string want = least.count(row[0]) ? least[row[0]] : "NA";
      EXPECT_EQ(row.back(), want) << shown << " " << row[0];
    }
  }
}

// The frequencies of the input's letters (and of a file's, compressed or FASTQ) for every
// entry: the same bytes as the four frequency switches with those doubles, which single
// switches after the background replace. The run says the background once.
TEST(Significance, BackgroundOfTheInputOrAFile) {
  const std::string in = ManyEntries();
  int64_t n[4] = {0, 0, 0, 0};  // A, T, G, C of the entries' letters
  std::istringstream lines(in);
  for (std::string line; std::getline(lines, line);) {
    if (line[0] == '>') continue;
    for (const char c : line) {
      const std::size_t k = std::string("ATGC").find(static_cast<char>(std::toupper(c)));
      if (k != std::string::npos) ++n[k];
    }
  }
  const double total = static_cast<double>(n[0] + n[1] + n[2] + n[3]);
  std::vector<std::string> exact;
  for (int k = 0; k < 4; ++k) {
    char text[64];
    std::snprintf(text, sizeof text, "-%c:%.17g", "ATGC"[k], static_cast<double>(n[k]) / total);
    exact.push_back(text);
  }
  const std::vector<std::string> common = {"--all-entries", "-L", "--bed", "--summary", "-K"};
  std::vector<std::string> given = common;
  given.insert(given.end(), exact.begin(), exact.end());
  const Outcome want = RunOn(in, given);
  ASSERT_EQ(want.result.status, 0) << want.result.err;
  // The same letters in other files: the input's FASTA gzipped, and as FASTQ.
  const std::string fastq = AsFastq(in);
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool through_pipe;
  } cases[] = {{"input", {"--background", "input"}, false},
               {"a FASTA copy", {"--background", "bg.fa"}, false},
               {"a FASTQ copy", {"--background", "bg.fq"}, false},
               {"from a pipe, with a file", {"--background", "bg.fa"}, true}};
  for (const auto& c : cases) {
    std::vector<std::string> args = common;
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome got = RunOn(in, args, c.through_pipe, {{"bg.fa", in}, {"bg.fq", fastq}});
    ASSERT_EQ(got.result.status, 0) << c.name << got.result.err;
    for (const auto& [name, bytes] : want.files) EXPECT_EQ(got.files.at(name), bytes) << c.name;
    const std::string said = got.result.out.substr(0, got.result.out.find('\n') + 1);
    char line[200];
    std::snprintf(line, sizeof line, "Background = %s: A=%.6f T=%.6f G=%.6f C=%.6f\n",
                  c.args[1].c_str(), n[0] / total, n[1] / total, n[2] / total, n[3] / total);
    EXPECT_EQ(said, line) << c.name;
    EXPECT_EQ(got.result.out.substr(said.size()), want.result.out) << c.name;
  }
  // Single switches after the background replace its cells: a background of A 1/3, T 1/3,
  // G 1/6 and C 1/6 with -G and -C given is -A and -T of a third with them.
  const std::string bg = Fasta("bg", "AAAATTTTGGCC");
  const Outcome after = RunOn(in, {"--background", "bg.fa", "-G:0.1", "-C:0.2333333333", "-L"},
                              false, {{"bg.fa", bg}});
  const Outcome four = RunOn(
      in, {"-A:0.33333333333333331", "-T:0.33333333333333331", "-G:0.1", "-C:0.2333333333", "-L"});
  ASSERT_EQ(four.result.status, 0) << four.result.err;
  EXPECT_EQ(after.files, four.files);
  EXPECT_EQ(after.result.out,
            "Background = bg.fa: A=0.333333 T=0.333333 G=0.166667 C=0.166667\n" + four.result.out);
  // --quiet says nothing of it, as of the linkage distance.
  const Outcome quiet = RunOn(in, {"--background", "input", "--quiet"});
  EXPECT_EQ(quiet.result.out, "");
}

}  // namespace
