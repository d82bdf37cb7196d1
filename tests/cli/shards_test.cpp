// Parts of the entries: the outputs of --shard 1/N .. N/N, put one after another, are those
// of one --all-entries run, whatever the input holds and however it is packed, and when the
// outputs are compressed, what they decompress to.
#include "gzip_support.h"
#include "harness.h"

namespace {

// An input that tries the reader: a blank line and a long preamble of text before the first
// entry (longer than several parts' shares, compressed too), a '>' inside a sequence line (it
// starts an entry), empty and blank-led headers, NUL bytes, CR LF line ends, runs of entries
// that are skipped, one entry longer than any part's share of the bytes, and a last line
// without its newline.
const std::string kHostile = ReadFile(CLI_DATA_DIR "/input/shards_hostile.fa");

// The same input in three gzip members one after another, as block-compressed files are.
std::string InMembers(const std::string& text) {
  std::string packed;
  for (std::size_t at = 0, n = text.size() / 3 + 1; at < text.size(); at += n) {
    packed += Gzip(text.substr(at, n));
  }
  return packed;
}

// Each set of switches, and whether it is tried on every packing of the input or only on the
// plain file and its BGZF copy in small blocks (the two ways parts are cut without reading
// from the start): the switches of the analysis do not depend on the packing, and the test's
// time stays in check.
struct ShardSwitches {
  std::string switches;
  bool every_packing = false, compressed = false;  // and the outputs are compressed
};

// The run's compressed outputs decompressed, under the names of the plain ones.
Outcome Decompressed(Outcome run) {
  Files plain;
  for (const auto& [name, bytes] : run.files) {
    const bool gz = name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0;
    plain[gz ? name.substr(0, name.size() - 3) : name] = gz ? Gunzip(bytes) : bytes;
  }
  return run.files = plain, run;
}

class Shards : public ::testing::TestWithParam<ShardSwitches> {};

// Each set of switches over the hostile input, plain and in BGZF blocks of 700 bytes of text
// (so that the parts split it in many places), and for some sets also in one gzip member and
// in three, compressed by bzip2 (in blocks of 100 kB, so that some shares end inside a block),
// xz and zstd, in bgzip's blocks, and as FASTQ, plain and compressed: every part
// succeeds and the parts together give the whole run's bytes, on one thread and on two with
// stretches small enough that a part is read in many.
TEST_P(Shards, TogetherAreTheWholeRun) {
  const Scratch scratch;
  const std::string &dir = scratch.dir, &text = kHostile;
  std::ofstream(dir + "/in.fa", std::ios::binary) << text;
  std::ofstream(dir + "/members.fa.gz", std::ios::binary) << InMembers(text);
  std::ofstream(dir + "/in.fq", std::ios::binary) << AsFastq(text);
  for (const char* pack : {"gzip -knf in.fa", "bzip2 -1 -kf in.fa", "xz -kf in.fa",
                           "zstd -qkf in.fa", "bzip2 -1 -kf in.fq", "bgzip -c in.fa > in.fa.bgz"}) {
    ASSERT_EQ(Shell(dir, pack), 0) << pack;
  }
  std::ofstream(dir + "/small.fa.bgz", std::ios::binary) << kestra::InBlocks(text, 700).bytes;
  std::vector<std::string> files = {"in.fa", "small.fa.bgz"};
  if (GetParam().every_packing) {
    files.insert(files.end(), {"in.fa.gz", "members.fa.gz", "in.fa.bz2", "in.fa.xz", "in.fa.zst",
                               "in.fq", "in.fq.bz2", "in.fa.bgz"});
  }
  int empty_parts = 0, skipped_only_parts = 0;
  // The whole run on the plain FASTA, its outputs not compressed, which every other form of
  // it repeats.
  Outcome plain;
  for (const std::string& file : files) {
    const Files input = {{file, ReadFile(dir + "/" + file)}};
    const std::string args =
        file + " out " + GetParam().switches + (GetParam().compressed ? " --compress" : "");
    const Outcome whole = Decompressed(RunOn(input, Words(args + " --all-entries")));
    ASSERT_EQ(whole.status, 0) << file << whole.err;
    if (file == "in.fa" && !GetParam().compressed) plain = whole;
    if (file == "in.fa" && GetParam().compressed) {
      plain = RunOn(input, Words(file + " out --all-entries " + GetParam().switches));
      EXPECT_EQ(whole.files, plain.files) << "decompressed";
    }
    for (const char* name : {"out.seg", "out.bed"}) EXPECT_EQ(whole.File(name), plain.File(name));
    // Reads come back as reads: the letters of the FASTA copy, the qualities of the input.
    const std::string copy = whole.File(IsFastqName(file) ? "out.fq" : "out.fas");
    EXPECT_EQ(MaskedRecords(copy), MaskedRecords(plain.File("out.fas"))) << file;
    if (IsFastqName(file) && plain.files.count("out.fas")) {
      EXPECT_EQ(QualitiesOfCopy(copy), KeptQualities(AsFastq(text))) << file;
    }
    EXPECT_EQ(EntryLines(whole.out), EntryLines(plain.out)) << file;
    // 20 parts are more than the entries; 3 and 7 are also read on two threads in stretches
    // of 200 bytes, entries cut every 320 letters.
    for (const auto& [n, limits] :
         {std::pair{1, ""}, {2, ""}, {3, ""}, {7, ""}, {20, ""}, {3, kManyJobs}, {7, kManyJobs}}) {
      // The parts one after another: the first status that is not 0 (else 0), the entry lines
      // of their standard output, their standard error, and each file's bytes.
      Outcome joined{0, "", "", {}};
      for (int i = 1; i <= n; ++i) {
        const Outcome part = RunOn(input,
                                   Words(args + " --threads " + (*limits ? "2" : "1") +
                                         " --shard=" + std::to_string(i) + "/" + std::to_string(n)),
                                   With(limits));
        const std::string lines = EntryLines(part.out);
        empty_parts += lines.empty();
        skipped_only_parts += !lines.empty() && lines.find("\tanalysed\n") == std::string::npos;
        if (joined.status == 0) joined.status = part.status;
        joined.out += lines, joined.err += part.err;
        for (const auto& [name, bytes] : part.files) joined.files[name] += bytes;
      }
      joined = Decompressed(joined);
      const std::string shown = file + " in " + std::to_string(n) + " " + limits;
      EXPECT_EQ(joined.status, 0) << shown << joined.err;
      EXPECT_EQ(joined.files, whole.files) << shown;
      EXPECT_EQ(joined.out, EntryLines(whole.out)) << shown;
    }
  }
  // The input is made so that some parts hold no entry and some only skipped ones.
  EXPECT_GT(empty_parts, 0);
  EXPECT_GT(skipped_only_parts, 0);
}

INSTANTIATE_TEST_SUITE_P(
    , Shards,
    ::testing::Values(ShardSwitches{"", true}, ShardSwitches{"-L --bed --table --summary", true},
                      ShardSwitches{"-W:50 -N --bed -P:0.2"}, ShardSwitches{"-S:30 --seed 99 -F"},
                      ShardSwitches{"-B:30 --seed=5 --bed"},
                      ShardSwitches{"--background input --mask-evalue 0.5 -L --bed --table "
                                    "--summary",
                                    true},
                      ShardSwitches{"--evalues -W:50 --table --all-segments --summary -K"},
                      ShardSwitches{"-L --bed --table --summary", true, true}));

}  // namespace
