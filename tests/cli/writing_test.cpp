// The outputs of a job written between its entries and between the pieces of a long one: the
// masked copy of skipped entries (no letter to analyse, or too long) and the qualities of a
// FASTQ copy, written a piece at a time by jobs that wait for their turn, hold the bytes of a
// run on one thread that writes each record whole, and the entries' notes come in input order.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

// Entries skipped (all N; too long for length=2000) among analysed ones, two of one name.
std::string SkippedAmongAnalysed() {
  std::mt19937 rng(11);
  std::string fasta;
  const struct {
    const char* header;
    std::string letters;
  } entries[] = {{"nn one", std::string(3001, 'N')},  {"a", Letters(rng, 900, "ACGTA")},
                 {"long x", Letters(rng, 2500, "ACGTAAT")}, {"nn2", std::string(1300, 'n')},
                 {"a", Letters(rng, 40, "ACGT")},          {"empty", ""},
                 {"rich", Letters(rng, 1999, "AAAATTGC")}};
  for (const auto& e : entries) {
    fasta += ">" + std::string(e.header) + "\n";
    for (std::size_t i = 0; i < e.letters.size(); i += 61) fasta += e.letters.substr(i, 61) + "\n";
  }
  return fasta;
}

std::map<std::string, std::string> RunOn(const std::string& name, const std::string& bytes,
                                         std::vector<std::string> args, const char* threads,
                                         const std::string& limits) {
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/work/" + name) << bytes;
  args.insert(args.begin(), {name, "out", "--all-entries", "--threads", threads});
  RunOptions options;
  options.job_limits = limits;
  const RunResult run = RunKestra(dir, args, options);
  std::map<std::string, std::string> got = {
      {"status", std::to_string(run.status)}, {"out", run.out}, {"err", run.err}};
  for (const auto& file : fs::directory_iterator(dir + "/work")) {
    const std::string file_name = file.path().filename().string();
    if (file_name != name) got[file_name] = ReadFile(file.path().string());
  }
  fs::remove_all(dir);
  return got;
}

TEST(WholeInputs, RecordsWrittenInPiecesAreWhole) {
  const std::string fasta = SkippedAmongAnalysed();
  const std::vector<std::vector<std::string>> switch_sets = {
      {"-F", "--bed", "--index"}, {"-F", "--line-width", "0", "-L"}, {"-F", "--line-width", "7"}};
  for (const auto& [name, bytes] : {std::pair{"in.fa", fasta}, {"in.fq", AsFastq(fasta)}}) {
    for (const auto& switches : switch_sets) {
      const auto want = RunOn(name, bytes, switches, "1", "length=2000");
      EXPECT_GT(want.at("out").size(), 100u) << name;
      for (const char* threads : {"1", "3"}) {
        for (const std::string limits : {"piece=320", "waiting=1,piece=320", kManyJobs}) {
          EXPECT_EQ(RunOn(name, bytes, switches, threads, "length=2000," + limits), want)
              << name << " " << ::testing::PrintToString(switches) << " " << threads
              << " threads, " << limits;
        }
      }
    }
  }
}

}  // namespace
