// Parts of the entries: the outputs of --shard 1/N .. N/N, put one after another, are those
// of one --all-entries run, whatever the input holds and however it is packed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "gzip_support.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string Lines(const std::string& letters, const std::string& line_end) {
  std::string out;
  for (std::size_t i = 0; i < letters.size(); i += 60) out += letters.substr(i, 60) + line_end;
  return out;
}

// An input that tries the reader: a blank line and a long preamble of text before the first
// entry (longer than several parts' shares, compressed too), a '>' inside a sequence line (it
// starts an entry), empty and blank-led headers, NUL bytes, CR LF line ends, runs of entries
// that are skipped, one entry longer than any part's share of the bytes, and a last line
// without its newline.
std::string HostileInput() {
  std::mt19937 rng(2026);
  const std::string rich = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAATAAAAAAAAAAAAAAAAAAAAAAAA";
  std::string in = "\n" + Lines(Letters(rng, 12000, "ACGT acgt0123456789.,;:"), "\n");
  in += ">first entry\n" + Lines(Letters(rng, 900, "ACGT") + rich, "\n");
  in += "ACGTACGTAA>inside a line\n" + Lines(Letters(rng, 700, "ACGTA") + rich, "\n");
  in += ">\n" + Lines(Letters(rng, 500, "ACGT"), "\n");
  in += "> blank led\n" + Lines(rich + Letters(rng, 400, "ACGT"), "\n");
  in += ">\tname after a tab\n" + Lines(Letters(rng, 300, "ACGTAA"), "\n");
  in += ">nul\0 in the header\n"s + Lines(Letters(rng, 300, "ACGT") + "AC\0GT"s + rich, "\n");
  in += ">crlf entry\r\n" + Lines(Letters(rng, 800, "ACGT") + rich, "\r\n");
  for (int i = 0; i < 3; ++i) {  // skipped: no nucleotides, or nothing at all
    in += ">gap" + std::to_string(i) + "\n" + (i % 2 ? "" : Lines(Letters(rng, 1300, "N-"), "\n"));
  }
  in += ">long one\n" +
        Lines(Letters(rng, 12000, "ACGTACGTA") + rich + Letters(rng, 3000, "ACGT"), "\n");
  for (int i = 0; i < 4; ++i) {
    in += ">small" + std::to_string(i) + " of many\n" +
          Lines(Letters(rng, 50 + 37 * i, "ACGTA"), "\n");
  }
  in += ">>double\n" + Lines(Letters(rng, 200, "ACGT") + rich, "\n");
  in += ">no newline at the end\n" + Letters(rng, 150, "ACGTAA");
  return in;
}

// The same input in three gzip members one after another, as block-compressed files are.
std::string InMembers(const std::string& dir, const std::string& text) {
  std::string packed;
  const std::size_t cuts[] = {0, text.size() / 3, text.size() * 2 / 3, text.size()};
  for (int i = 0; i < 3; ++i) {
    const std::string piece = dir + "/member";
    std::ofstream(piece, std::ios::binary) << text.substr(cuts[i], cuts[i + 1] - cuts[i]);
    EXPECT_EQ(std::system(("gzip -nf " + piece).c_str()), 0);
    packed += ReadFile(piece + ".gz");
  }
  return packed;
}

struct Outputs {
  int status = -1;
  std::string report, fasta, bed, table, summary, lines, err;
  // What parts put one after another must give as the whole run does.
  auto Joined() const { return std::tie(report, fasta, bed, table, summary, lines); }
  void operator+=(const Outputs& part) {
    report += part.report, fasta += part.fasta, bed += part.bed, table += part.table;
    summary += part.summary, lines += part.lines;
  }
};

Outputs RunOn(const std::string& input, const std::string& name, std::vector<std::string> args,
              const std::string& job_limits = "") {
  const std::string dir = RunDirectory();
  fs::copy_file(input, dir + "/work/" + name);
  args.insert(args.begin(), {name, "out"});
  RunOptions options;
  options.job_limits = job_limits;
  const RunResult run = RunKestra(dir, args, options);
  Outputs o{run.status,
            ReadFile(dir + "/work/out.seg"),
            ReadFile(dir + "/work/" + (IsFastqName(name) ? "out.fq" : "out.fas")),
            ReadFile(dir + "/work/out.bed"),
            ReadFile(dir + "/work/out.tsv"),
            ReadFile(dir + "/work/out.summary.tsv"),
            EntryLines(run.out),
            run.err};
  fs::remove_all(dir);
  return o;
}

// A set of switches, and whether it is tried on every packing of the input or only on the
// plain file and its BGZF copy in small blocks (the two ways parts are cut without reading
// from the start): the switches of the analysis do not depend on the packing, and the test's
// time stays in check.
struct ShardSwitches {
  std::vector<std::string> switches;
  bool every_packing = false;
};

class Shards : public ::testing::TestWithParam<ShardSwitches> {};

// Each set of switches over the hostile input, plain and in BGZF blocks of 700 bytes of text
// (so that the parts split it in many places), and for some sets also in one gzip member and
// in three, compressed by bzip2 (in blocks of 100 kB, so that some shares end inside a block),
// xz and zstd, in bgzip's blocks, and as FASTQ, plain and compressed: every part
// succeeds and the parts together give the whole run's bytes, on one thread and on two with
// stretches small enough that a part is read in many.
TEST_P(Shards, TogetherAreTheWholeRun) {
  const std::string dir = RunDirectory();
  const std::string text = HostileInput();
  std::ofstream(dir + "/in.fa", std::ios::binary) << text;
  ASSERT_EQ(std::system(("gzip -knf " + dir + "/in.fa").c_str()), 0);
  std::ofstream(dir + "/members.fa.gz", std::ios::binary) << InMembers(dir, text);
  std::ofstream(dir + "/in.fq", std::ios::binary) << AsFastq(text);
  for (const char* pack : {"bzip2 -1 -kf in.fa", "xz -kf in.fa", "zstd -qkf in.fa",
                           "bzip2 -1 -kf in.fq", "bgzip -c in.fa > in.fa.bgz"}) {
    ASSERT_EQ(std::system(("cd " + dir + " && " + pack).c_str()), 0) << pack;
  }
  std::ofstream(dir + "/small.fa.bgz", std::ios::binary) << kestra::InBlocks(text, 700).bytes;
  std::vector<std::string> files = {"in.fa", "small.fa.bgz"};
  if (GetParam().every_packing) {
    files.insert(files.end(), {"in.fa.gz", "members.fa.gz", "in.fa.bz2", "in.fa.xz", "in.fa.zst",
                               "in.fq", "in.fq.bz2", "in.fa.bgz"});
  }
  int empty_parts = 0, skipped_only_parts = 0;
  Outputs plain;  // the whole run on the plain FASTA, which every other form of it repeats
  for (const std::string& file : files) {
    std::vector<std::string> whole_args = GetParam().switches;
    whole_args.push_back("--all-entries");
    const Outputs whole = RunOn(dir + "/" + file, file, whole_args);
    ASSERT_EQ(whole.status, 0) << file << whole.err;
    if (file == "in.fa") plain = whole;
    EXPECT_EQ(whole.report, plain.report) << file;
    // Reads come back as reads: the letters of the FASTA copy, the qualities of the input.
    EXPECT_EQ(MaskedRecords(whole.fasta), MaskedRecords(plain.fasta)) << file;
    if (IsFastqName(file) && !plain.fasta.empty()) {
      EXPECT_EQ(QualitiesOfCopy(whole.fasta), KeptQualities(AsFastq(text))) << file;
    }
    EXPECT_EQ(whole.bed, plain.bed) << file;
    EXPECT_EQ(whole.lines, plain.lines) << file;
    // 20 parts are more than the entries; 3 and 7 are also read on two threads in stretches
    // of 200 bytes, entries cut every 320 letters.
    const struct {
      int parts;
      const char* limits;
    } splits[] = {{1, ""}, {2, ""}, {3, ""}, {7, ""}, {20, ""}, {3, kManyJobs}, {7, kManyJobs}};
    for (const auto& split : splits) {
      const std::string shown = file + " in " + std::to_string(split.parts) + " " + split.limits;
      Outputs joined;
      for (int i = 1; i <= split.parts; ++i) {
        std::vector<std::string> args = GetParam().switches;
        args.insert(args.end(), {"--shard", std::to_string(i) + "/" + std::to_string(split.parts),
                                 "--threads", *split.limits ? "2" : "1"});
        const Outputs part = RunOn(dir + "/" + file, file, args, split.limits);
        EXPECT_EQ(part.status, 0) << shown << " part " << i << part.err;
        joined += part;
        empty_parts += part.lines.empty();
        skipped_only_parts +=
            !part.lines.empty() && part.lines.find("\tanalysed\n") == std::string::npos;
      }
      EXPECT_EQ(joined.Joined(), whole.Joined()) << shown;
    }
  }
  // The input is made so that some parts hold no entry and some only skipped ones.
  EXPECT_GT(empty_parts, 0);
  EXPECT_GT(skipped_only_parts, 0);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    , Shards,
    ::testing::Values(ShardSwitches{{}, true},
                      ShardSwitches{{"-L", "--bed", "--table", "--summary"}, true},
                      ShardSwitches{{"-W:50", "-N", "--bed", "-P:0.2"}},
                      ShardSwitches{{"-S:30", "--seed", "99", "-F"}},
                      ShardSwitches{{"-B:30", "--seed=5", "--bed"}},
                      ShardSwitches{{"--background", "input", "--mask-evalue", "0.5", "-L", "--bed",
                                     "--table", "--summary"},
                                    true},
                      ShardSwitches{
                          {"--evalues", "-W:50", "--table", "--all-segments", "--summary", "-K"}}));

// An input none of whose entries can be analysed: a part of several succeeds with the lines
// and FASTA records of its entries, while the input whole fails as --all-entries does.
TEST(ShardsOfNothing, EachSucceedsTheWholeFails) {
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << ">a\nNNNN\n>b\n\n>c\n----\n";
  const Outputs all = RunOn(dir + "/in.fa", "in.fa", {"--all-entries", "-F"});
  const Outputs one = RunOn(dir + "/in.fa", "in.fa", {"--shard", "1/1", "-F"});
  EXPECT_EQ(all.status, 1);
  EXPECT_EQ(one.status, all.status);
  EXPECT_EQ(one.lines, all.lines);
  EXPECT_EQ(one.err, all.err);
  Outputs joined;
  for (int i = 1; i <= 4; ++i) {
    const Outputs part =
        RunOn(dir + "/in.fa", "in.fa", {"--shard", std::to_string(i) + "/4", "-F"});
    EXPECT_EQ(part.status, 0) << i << part.err;
    joined += part;
  }
  EXPECT_EQ(joined.lines,
            "a\t4\t-\t-\t-\tskipped\nb\t0\t-\t-\t-\tskipped\nc\t4\t-\t-\t-\tskipped\n");
  EXPECT_EQ(joined.fasta, ">a\nNNNN\n>b\n>c\n----\n");
  fs::remove_all(dir);
}

}  // namespace
