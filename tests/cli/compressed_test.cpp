// Compressed inputs and outputs: whatever the input's packing, the thread count and the parts,
// the BGZF outputs decompress to the plain run's bytes; their indexes answer region queries
// as the plain outputs do; a damaged input is an error that names it and leaves nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

// Entries with A-rich stretches to mask, one without nucleotides, in lines of 70; large
// enough that bgzip cuts it into several blocks.
std::string Genome() {
  std::mt19937 rng(11);
  std::string fa;
  for (int k = 0; k < 12; ++k) {
    std::string seq = Letters(rng, 6000 + 3000 * (k % 5), "ACGT");
    for (int i = 0; i < 5 && k % 3 != 2; ++i) {
      seq.replace(rng() % (seq.size() - 80), 60, Letters(rng, 60, "AAAAAAAT"));
    }
    if (k == 4) seq = std::string(500, 'N');
    fa += ">chr" + std::to_string(k) + " test\n";
    for (std::size_t i = 0; i < seq.size(); i += 70) fa += seq.substr(i, 70) + "\n";
  }
  return fa;
}

int Shell(const std::string& dir, const std::string& command) {
  return std::system(("cd " + dir + " && " + command).c_str());
}

bool HaveTools() {
  return std::system(
             "command -v bgzip >/dev/null && command -v tabix >/dev/null && "
             "command -v samtools >/dev/null") == 0;
}

// The input in every packing the reader takes for gzip: one member, several members, BGZF,
// and BGZF followed by zero bytes.
const char* const kPackings[][2] = {
    {"plain.fa", "cp in.fa plain.fa"},
    {"one.fa.gz", "gzip -nc in.fa > one.fa.gz"},
    {"members.fa.gz",
     "head -c 40000 in.fa | gzip -nc > members.fa.gz && tail -c +40001 in.fa | gzip -nc >> "
     "members.fa.gz"},
    {"blocks.fa.gz", "bgzip -c in.fa > blocks.fa.gz"},
    {"padded.fa.gz", "bgzip -c in.fa > padded.fa.gz && head -c 3000 /dev/zero >> padded.fa.gz"},
};

const char* const kOutputs[] = {"out.seg", "out.fas", "out.bed", "out.tsv", "out.summary.tsv"};

struct Outcome {
  int status;
  std::string out, err;
  std::vector<std::string> outputs;  // decompressed, in kOutputs' order
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.status == b.status && a.out == b.out && a.err == b.err && a.outputs == b.outputs;
}

// One run in a directory of its own, on a copy of `input` (or on standard input, a pipe fed
// with it); the outputs decompressed.
Outcome RunCompressed(const std::string& input, std::vector<std::string> args,
                      const std::string& limits, bool compressed, bool through_pipe = false) {
  const std::string dir = RunDirectory();
  fs::copy_file(input, dir + "/work/in");
  args.insert(args.begin(), {through_pipe ? "/dev/stdin" : "in", "out"});
  RunOptions options;
  options.job_limits = limits;
  options.through_pipe = through_pipe;
  options.stdin_path = dir + "/work/in";
  const RunResult r = RunKestra(dir, args, options);
  Outcome run{r.status, r.out, r.err, {}};
  for (const char* name : kOutputs) {
    const std::string path = dir + "/work/" + name + (compressed ? ".gz" : "");
    if (compressed && fs::exists(path)) {
      Shell(dir + "/work", std::string("gzip -dc ") + name + ".gz > " + name + ".plain");
      run.outputs.push_back(ReadFile(dir + "/work/" + name + ".plain"));
    } else {
      run.outputs.push_back(ReadFile(path));
    }
  }
  fs::remove_all(dir);
  return run;
}

const std::vector<std::string> kSwitches = {"-L", "--bed", "--table", "--summary", "--all-entries"};

// Every packing of the input, on 1, 2 and 8 threads (many jobs in flight), whole and in 3 and
// 7 parts: the parts' compressed outputs, joined as files are, decompress to the plain run's.
// And the first entry alone from each (a BGZF input's blocks inflated on the threads as the
// entry is read): the plain run's outputs.
TEST(CompressedOutputs, DecompressToThePlainRunsBytes) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << Genome();
  for (const auto& packing : kPackings) ASSERT_EQ(Shell(dir, packing[1]), 0) << packing[1];
  const Outcome plain = RunCompressed(dir + "/in.fa", kSwitches, "", false);
  const std::vector<std::string> first = {"-L", "--bed"};
  const Outcome plain_first = RunCompressed(dir + "/in.fa", first, "", false);
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_NE(plain.outputs[2], "");  // segments are masked
  for (const auto& packing : kPackings) {
    for (const int threads : {1, 2, 8}) {
      const std::string shown =
          std::string(packing[0]) + " on " + std::to_string(threads) + " threads";
      std::vector<std::string> args = first;
      args.insert(args.end(), {"--threads", std::to_string(threads)});
      const Outcome alone = RunCompressed(dir + "/" + packing[0], args, "", false);
      EXPECT_EQ(alone, plain_first) << "first entry of " << shown << alone.err;
      for (const int parts : {1, 3, 7}) {
        std::vector<std::string> joined(std::size(kOutputs));
        for (int i = 1; i <= parts; ++i) {
          args = kSwitches;
          args.insert(args.end(), {"--compress", "--threads", std::to_string(threads)});
          if (parts > 1)
            args.insert(args.end(), {"--shard", std::to_string(i) + "/" + std::to_string(parts)});
          const Outcome part =
              RunCompressed(dir + "/" + packing[0], args, threads > 1 ? kManyJobs : "", true);
          ASSERT_EQ(part.status, 0) << shown << " part " << i << part.err;
          for (std::size_t k = 0; k < joined.size(); ++k) joined[k] += part.outputs[k];
        }
        for (std::size_t k = 0; k < joined.size(); ++k) {
          EXPECT_EQ(joined[k], plain.outputs[k])
              << kOutputs[k] << " of " << shown << " in " << parts << " parts";
        }
      }
    }
  }
  fs::remove_all(dir);
}

// Files that the standard decompressors read, in the shapes their formats allow: each made
// by its tool and read back by its decompressor to the plain text before the run reads it.
const struct {
  const char* file;
  const char* make;  // in the directory of in.fa
  const char* decompressor;
} kStandardFiles[] = {
    {"name.fa.gz", "gzip -c in.fa", "gzip"},
    // FEXTRA (a subfield of no length), FNAME and FCOMMENT before a member's deflate data.
    {"fields.fa.gz",
     R"(printf '\037\213\010\034\000\000\000\000\000\003\004\000ab\000\000in.fa\000a comment\000' &&
        gzip -nc in.fa | tail -c +11)",
     "gzip"},
    {"empty_first.fa.gz", "gzip -nc </dev/null && gzip -9nc in.fa", "gzip"},
    {"zeros.fa.gz", "gzip -nc in.fa && head -c 1000 /dev/zero", "gzip"},
    {"blocks.fa.bz2", "bzip2 -1 -c in.fa", "bzip2"},
    {"streams.fa.bz2", "head -c 40000 in.fa | bzip2 -c && tail -c +40001 in.fa | bzip2 -1 -c",
     "bzip2"},
    {"blocks.fa.xz", "xz -1 --block-size=10000 -c in.fa", "xz"},
    {"none.fa.xz", "xz -1 --check=none -c in.fa", "xz"},
    {"crc32.fa.xz", "xz -1 --check=crc32 -c in.fa", "xz"},
    {"crc64.fa.xz", "xz -1 --check=crc64 -c in.fa", "xz"},
    {"sha256.fa.xz", "xz -1 --check=sha256 -c in.fa", "xz"},
    {"delta.fa.xz", "xz --delta=dist=2 --lzma2=preset=1 -c in.fa", "xz"},
    {"padded.fa.xz",
     "xz -c </dev/null && head -c 40000 in.fa | xz -1 -c && head -c 4 /dev/zero && "
     "tail -c +40001 in.fa | xz -1 --check=sha256 -c && head -c 8 /dev/zero",
     "xz"},
    {"pzstd.fa.zst", "pzstd -q -c in.fa", "zstd"},
    {"pzstd_frames.fa.zst",
     "head -c 40000 in.fa | pzstd -q -1 -c && tail -c +40001 in.fa | pzstd -q -3 -c", "zstd"},
    {"no_check.fa.zst", "zstd -q --no-check -c in.fa", "zstd"},
    {"no_size.fa.zst", "zstd -q --no-content-size -c in.fa", "zstd"},
    {"skippable.fa.zst",
     R"(zstd -qc </dev/null && printf 'R*M\030\003\000\000\000abc' && head -c 40000 in.fa |
        zstd -q -c && printf '_*M\030\000\000\000\000' && tail -c +40001 in.fa | zstd -q -c)",
     "zstd"},
};

// Every standard file, read from a file, through a pipe and in 3 parts: the plain run's
// status, streams and outputs.
TEST(CompressedInputs, StandardFilesGiveThePlainRun) {
  if (std::system("for t in gzip bzip2 xz zstd pzstd; do command -v $t || exit 1; done "
                  ">/dev/null") != 0) {
    GTEST_SKIP() << "gzip, bzip2, xz, zstd or pzstd is not installed";
  }
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << Genome();
  const std::vector<std::string>& args = kSwitches;
  const Outcome plain = RunCompressed(dir + "/in.fa", args, "", false);
  const Outcome plain_piped = RunCompressed(dir + "/in.fa", args, "", false, true);
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_NE(plain.outputs[2], "");  // segments are masked
  for (const auto& standard : kStandardFiles) {
    const std::string name = standard.file;
    ASSERT_EQ(Shell(dir, std::string("{ ") + standard.make + "; } > " + name), 0) << name;
    ASSERT_EQ(Shell(dir, std::string(standard.decompressor) + " -dc " + name +
                             " > back.fa && cmp -s back.fa in.fa"),
              0)
        << name << " is not read back to the text by " << standard.decompressor;
    EXPECT_EQ(RunCompressed(dir + "/" + name, args, "", false), plain) << name;
    EXPECT_EQ(RunCompressed(dir + "/" + name, args, "", false, true), plain_piped)
        << name << " through a pipe";
    std::vector<std::string> joined(std::size(kOutputs));
    for (const char* part : {"1/3", "2/3", "3/3"}) {
      std::vector<std::string> shard = args;
      shard.insert(shard.end(), {"--shard", part});
      const Outcome run = RunCompressed(dir + "/" + name, shard, "", false);
      EXPECT_EQ(run.status, 0) << name << " part " << part << run.err;
      for (std::size_t k = 0; k < joined.size(); ++k) joined[k] += run.outputs[k];
    }
    EXPECT_EQ(joined, plain.outputs) << name << " in 3 parts";
  }
  fs::remove_all(dir);
}

// The indexed outputs, compressed or not, at several line widths: samtools faidx reads the
// same regions from them as from the plain masked FASTA, tabix the BED lines that overlap
// a region, and the .fai is the one samtools makes of the plain copy.
TEST(CompressedOutputs, IndexesAnswerAsThePlainFiles) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << Genome();
  const std::string regions =
      "chr0:1-70 chr0:65-200 chr3:1000-1100 chr4:10-20 chr7:7001-9000 chr11";
  for (const char* width : {"80", "60", "0"}) {
    for (const char* threads : {"1", "8"}) {
      const std::string shown = std::string("width ") + width + ", threads " + threads;
      const std::string run = "kestra_in() { " KESTRA_BIN
                              " in.fa \"$@\" -L --bed --no-report "
                              "--all-entries --line-width " +
                              std::string(width) + " --threads " + threads + " --quiet; }; ";
      ASSERT_EQ(Shell(dir, run + "rm -f p.* z.* && kestra_in p --index && "
                                 "kestra_in z --compress --index"),
                0)
          << shown;
      EXPECT_TRUE(fs::exists(dir + "/z.fas.gz.gzi") && fs::exists(dir + "/z.bed.gz.tbi")) << shown;
      EXPECT_FALSE(fs::exists(dir + "/p.bed.tbi")) << shown;  // a plain BED has no .tbi
      ASSERT_EQ(Shell(dir, "cp p.fas ref.fas && samtools faidx ref.fas"), 0);
      EXPECT_EQ(ReadFile(dir + "/p.fas.fai"), ReadFile(dir + "/ref.fas.fai")) << shown;
      EXPECT_EQ(ReadFile(dir + "/z.fas.gz.fai"), ReadFile(dir + "/ref.fas.fai")) << shown;
      for (const std::string fas : {"ref.fas", "p.fas", "z.fas.gz"}) {
        ASSERT_EQ(Shell(dir, "samtools faidx " + fas + " " + regions + " > " + fas + ".got"), 0);
      }
      EXPECT_EQ(ReadFile(dir + "/p.fas.got"), ReadFile(dir + "/ref.fas.got")) << shown;
      EXPECT_EQ(ReadFile(dir + "/z.fas.gz.got"), ReadFile(dir + "/ref.fas.got")) << shown;
      EXPECT_NE(ReadFile(dir + "/ref.fas.got"), "");
      // A region, and the BED lines that overlap it: of entry n, ending after f, starting before t.
      for (const auto& [r, n, f, t] : {std::array<const char*, 4>{"chr0", "chr0", "0", "1e12"},
                                       {"chr1:1-4000", "chr1", "1", "4000"},
                                       {"chr3:2000-9000", "chr3", "2000", "9000"},
                                       {"chr9:1-1", "chr9", "1", "1"}}) {
        ASSERT_EQ(Shell(dir, std::string("tabix z.bed.gz ") + r + " > got.bed && awk -v n=" + n +
                                 " -v f=" + f + " -v t=" + t +
                                 " '$1 == n && $3 > f - 1 && $2 < t' p.bed > want.bed"),
                  0);
        EXPECT_EQ(ReadFile(dir + "/got.bed"), ReadFile(dir + "/want.bed")) << shown << " " << r;
        EXPECT_TRUE(std::string(r) != "chr0" || ReadFile(dir + "/want.bed") != "");
      }
    }
  }
  fs::remove_all(dir);
}

// Records that the field's FASTA indexer treats apart: an empty one, one shorter than a line,
// one of exactly a line, a name used twice, names after blanks. The .fai of the masked copy,
// plain and compressed, at several widths, is the one samtools makes of the plain copy.
TEST(CompressedOutputs, FastaIndexIsTheFieldsOwn) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << ">a\nACGT\n>empty\n>b two words\nACGTACGTAC\nACG\n>c\n\n"
                                   ">d\nACGTACGTAC\n>a again\nACGTTTTTTTTTTTTTTTTTTTTTT\n"
                                   "> blank\nACG\n>\tt after a tab\nAAACCCGGGTTT\n";
  for (const char* width : {"10", "3", "80", "0"}) {
    ASSERT_EQ(Shell(dir, std::string("rm -f p.* z.* && for o in p z; do ") + KESTRA_BIN +
                             " in.fa $o --all-entries -F --no-report --index --quiet "
                             "--line-width " +
                             width +
                             " $([ $o = z ] && echo --compress) "
                             "2>/dev/null; done && cp p.fas ref.fas && samtools faidx ref.fas "
                             "2>/dev/null"),
              0)
        << width;
    EXPECT_EQ(ReadFile(dir + "/p.fas.fai"), ReadFile(dir + "/ref.fas.fai")) << width;
    EXPECT_EQ(ReadFile(dir + "/z.fas.gz.fai"), ReadFile(dir + "/ref.fas.fai")) << width;
  }
  fs::remove_all(dir);
}

// A BGZF input cut inside a block, or with a block whose check value is wrong: the run says
// which file and why, and leaves nothing, whatever the threads.
TEST(CompressedInputs, DamageNamesTheFileAndLeavesNothing) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << Genome();
  ASSERT_EQ(Shell(dir, "bgzip -c in.fa > blocks.fa.gz"), 0);
  const std::string blocks = ReadFile(dir + "/blocks.fa.gz");
  ASSERT_GT(blocks.size(), 200u);
  // The last data block ends 28 bytes before the end (the empty block), its CRC32 8 bytes
  // before that; the first block's size less 1 is in its bytes 16 and 17.
  std::string last_crc = blocks, first_crc = blocks;
  last_crc[last_crc.size() - 28 - 8] ^= 0x5a;
  const std::size_t first_size =
      static_cast<unsigned char>(blocks[16]) + 256 * static_cast<unsigned char>(blocks[17]) + 1;
  first_crc[first_size - 8] ^= 0x5a;
  const struct {
    const char* name;
    std::string bytes;
    const char* reason;
    bool first_entry_sees_it;  // the damage lies in the first entry's blocks
  } damaged[] = {
      {"cut.fa.gz", blocks.substr(0, blocks.size() - 28 - 100), "truncated gzip data", false},
      {"crc.fa.gz", last_crc, "corrupt gzip data", false},
      {"first.fa.gz", first_crc, "corrupt gzip data", true},
  };
  for (const auto& d : damaged) {
    std::ofstream(dir + "/" + d.name, std::ios::binary) << d.bytes;
    for (const std::vector<std::string>& how : {std::vector<std::string>{"-L"},
                                                {"-L", "--all-entries"},
                                                {"-L", "--all-entries", "--threads", "2"},
                                                {"-L", "--all-entries", "--threads", "8"}}) {
      if (how.size() == 1 && !d.first_entry_sees_it) continue;
      const std::string run_dir = RunDirectory();
      fs::copy_file(dir + "/" + d.name, run_dir + "/work/" + d.name);
      std::vector<std::string> args = {d.name, "out", "--compress", "--bed", "--index"};
      args.insert(args.end(), how.begin(), how.end());
      RunOptions options;
      options.job_limits = how.size() > 2 ? kManyJobs : "";
      const RunResult r = RunKestra(run_dir, args, options);
      const std::string shown = d.name + ::testing::PrintToString(how);
      EXPECT_EQ(r.status, 1) << shown;
      const std::string said =
          "kestra: cannot read '" + std::string(d.name) + "': " + d.reason + "\n";
      EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), said.size())), said) << shown;
      EXPECT_NE(r.out.find("\nError reading FASTA file\n"), std::string::npos) << shown;
      EXPECT_EQ(Listing(run_dir + "/work"), std::set<std::string>{d.name}) << shown;
      fs::remove_all(run_dir);
    }
  }
  fs::remove_all(dir);
}

// BGZF on standard output: a pipeline's reader gets the bytes of the file that would have
// been written.
TEST(CompressedOutputs, StandardOutputCarriesBgzf) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << Genome();
  ASSERT_EQ(Shell(dir, KESTRA_BIN " in.fa f --all-entries --bed --no-report --compress "
                                  "--quiet && " KESTRA_BIN " in.fa s --all-entries --no-report "
                                  "--bed-out - --compress > s.bed.gz && bgzip -t s.bed.gz"),
            0);
  EXPECT_EQ(ReadFile(dir + "/s.bed.gz"), ReadFile(dir + "/f.bed.gz"));
  EXPECT_FALSE(fs::exists(dir + "/s.seg.gz"));
  // A run that fails leaves its standard output without the end-of-file block, so that it
  // cannot pass for a whole file.
  const std::string whole = ReadFile(dir + "/s.bed.gz");
  const std::string eof = whole.substr(whole.size() - 28);
  ASSERT_EQ(Shell(dir, "bgzip -c in.fa > in.fa.gz && printf 'x' >> in.fa.gz && " KESTRA_BIN
                       " in.fa.gz b --all-entries --no-report --bed-out - --compress --threads 2 "
                       "> b.bed.gz 2>/dev/null; [ $? -eq 1 ]"),
            0);
  const std::string failed = ReadFile(dir + "/b.bed.gz");
  EXPECT_NE(failed.substr(failed.size() - std::min<std::size_t>(28, failed.size())), eof);
  fs::remove_all(dir);
}

}  // namespace

namespace {

// Reads of 100 letters, some of them 85% A, one with characters that are no letters, lines
// of qualities that begin with '@' or '+', a name used twice.
std::string Reads() {
  std::mt19937 rng(23);
  std::string fa;
  for (int k = 0; k < 200; ++k) {
    std::string seq = Letters(rng, 100, k % 10 == 0 ? "AAAAAAAAAAAAAAAAACGT" : "ACGT");
    if (k == 7) seq.replace(10, 4, " 9*-");
    fa += ">r" + std::to_string(k == 150 ? 3 : k) + " lane 1\n" + seq.substr(0, 70) + "\n" +
          seq.substr(70) + "\n";
  }
  return AsFastq(fa);
}

// The switches of the run whose FASTA copy a FASTQ copy must match: standard input a pipe,
// nothing compressed or indexed.
std::vector<std::string> ThroughAPipe(std::vector<std::string> args) {
  args[0] = "-";
  args[1] = "ref";
  for (const char* drop : {"--index", "--compress"}) {
    args.erase(std::remove(args.begin(), args.end(), drop), args.end());
  }
  const auto named = std::find(args.begin(), args.end(), "--fasta-out");
  if (named != args.end()) args.erase(named, named + 2);
  return args;
}

}  // namespace

// A FASTQ file's masked copy is FASTQ, compressed or not, however named, from every run: its
// headers and its qualities as they came, its letters as the FASTA copy of the same reads
// (from a pipe, which keeps FASTA), and its index the one samtools makes, which samtools
// fqidx reads records by.
TEST(MaskedReads, ComeBackAsReadsThatTheIndexerReads) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory(), work = dir + "/work";
  const std::string reads = Reads();
  const std::string all = " --all-entries --background reads.fq --quiet";
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* copy;
    bool through_pipe;
  } cases[] = {
      {"soft", Words("reads.fq o -L --index" + all), "o.fq", false},
      {"hard, compressed", Words("reads.fq o -F --compress --index" + all), "o.fq.gz", false},
      {"named", Words("reads.fq o -L --fasta-out n.fas --index" + all), "n.fas", false},
      {"first entry", Words("reads.fq o -L --background reads.fq --quiet"), "o.fq", false},
      {"standard input", Words("- o -F" + all), "o.fq", false},
      {"a pipe", Words("- o -F" + all), "o.fas", true},
  };
  for (const auto& c : cases) {
    fs::remove_all(work);
    fs::create_directory(work);
    std::ofstream(work + "/reads.fq", std::ios::binary) << reads;
    RunOptions options;
    options.stdin_path = work + "/reads.fq";
    options.through_pipe = c.through_pipe;
    ASSERT_EQ(RunKestra(dir, c.args, options).status, 0) << c.name;
    RunOptions pipe = options;
    pipe.through_pipe = true;
    ASSERT_EQ(RunKestra(dir, ThroughAPipe(c.args), pipe).status, 0) << c.name;
    const bool compressed = std::string(c.copy).find(".gz") != std::string::npos;
    ASSERT_EQ(Shell(work, std::string(compressed ? "zcat " : "cat ") + c.copy + " > copy"), 0);
    const std::string copy = ReadFile(work + "/copy"), fasta = ReadFile(work + "/ref.fas");
    ASSERT_FALSE(copy.empty()) << c.name;
    const std::size_t masked = c.args[2] == "-L"
                                   ? std::count_if(copy.begin(), copy.end(), ::islower)
                                   : std::count(copy.begin(), copy.end(), 'N');
    EXPECT_GT(masked, 100u) << c.name;
    if (c.through_pipe) {
      EXPECT_EQ(copy, fasta) << c.name;
      EXPECT_FALSE(fs::exists(work + "/o.fq")) << c.name;
      continue;
    }
    const bool first = std::string(c.name) == "first entry";
    EXPECT_EQ(MaskedRecords(copy),
              first ? MaskedRecords(fasta.substr(0, fasta.find('>', 1))) : MaskedRecords(fasta))
        << c.name;
    const std::string kept = KeptQualities(reads);
    EXPECT_EQ(QualitiesOfCopy(copy), first ? kept.substr(0, kept.find('\n') + 1) : kept) << c.name;
    if (std::find(c.args.begin(), c.args.end(), "--index") == c.args.end()) continue;
    // samtools indexes a copy of the copy; both indexes lead to the same records.
    const std::string own = std::string("own") + (compressed ? ".fq.gz" : ".fq");
    ASSERT_EQ(
        Shell(work, std::string("cp ") + c.copy + " " + own + " && samtools fqidx " + own +
                        " 2>/dev/null && samtools fqidx " + c.copy +
                        " r3 r0 r199 r7 > got && samtools fqidx " + own + " r3 r0 r199 r7 > want"),
        0)
        << c.name;
    EXPECT_EQ(ReadFile(work + "/" + c.copy + ".fai"), ReadFile(work + "/" + own + ".fai"))
        << c.name;
    if (compressed) {
      EXPECT_EQ(ReadFile(work + "/" + c.copy + ".gzi"), ReadFile(work + "/" + own + ".gzi"));
    }
    EXPECT_EQ(ReadFile(work + "/got"), ReadFile(work + "/want")) << c.name;
    EXPECT_NE(ReadFile(work + "/got"), "") << c.name;
  }
  fs::remove_all(dir);
}
