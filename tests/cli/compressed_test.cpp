// Compressed inputs and outputs: whatever the input's packing, the thread count and the parts,
// the BGZF outputs decompress to the plain run's bytes; their indexes answer region queries
// as the plain outputs do; a damaged input is an error that names it and leaves nothing.
#include <algorithm>
#include <array>
#include <cstdlib>

#include "harness.h"

namespace {

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
    fa += Fasta("chr" + std::to_string(k) + " test", seq, 70);
  }
  return fa;
}

bool HaveTools() {
  return Shell(".", "for t in bgzip tabix samtools; do command -v $t || exit 1; done >/dev/null") ==
         0;
}

// The input in every packing the reader takes for gzip: one member, several members, BGZF,
// and BGZF followed by zero bytes.
const char* const kPackings[][2] = {
    {"plain.fa", "cat in.fa"},
    {"one.fa.gz", "gzip -nc in.fa"},
    {"members.fa.gz", "head -c 40000 in.fa | gzip -nc && tail -c +40001 in.fa | gzip -nc"},
    {"blocks.fa.gz", "bgzip -c in.fa"},
    {"padded.fa.gz", "bgzip -c in.fa && head -c 3000 /dev/zero"},
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

const std::string kSwitches = " -L --bed --table --summary --all-entries";

// One run on a copy of the file at `path` (or on standard input, a pipe fed with it).
Outcome RunCompressed(const std::string& path, const std::string& args, bool through_pipe = false) {
  return RunOn({{"in", ReadFile(path)}}, Words((through_pipe ? "/dev/stdin out" : "in out") + args),
               With("", "in", through_pipe));
}

// Every packing of the input, on 1, 2 and 8 threads (many jobs in flight), whole and in 3 and
// 7 parts: the parts' compressed outputs, joined as files are, decompress to the plain run's.
// And the first entry alone from each (a BGZF input's blocks inflated on the threads as the
// entry is read): the plain run's outputs.
TEST(CompressedOutputs, DecompressToThePlainRunsBytes) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const Scratch scratch;
  const std::string& dir = scratch.dir;
  std::ofstream(dir + "/in.fa") << Genome();
  for (const auto& [name, make] : kPackings) {
    ASSERT_EQ(Shell(dir, "{ " + std::string(make) + "; } > " + name), 0) << make;
  }
  const Outcome plain = RunCompressed(dir + "/in.fa", kSwitches);
  const Outcome plain_first = RunCompressed(dir + "/in.fa", " -L --bed");
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_NE(plain.File("out.bed"), "");  // segments are masked
  for (const auto& packing : kPackings) {
    const Files input = {{"in", ReadFile(dir + "/" + packing[0])}};
    for (const std::string threads : {"1", "2", "8"}) {
      const std::string shown = packing[0] + (" on " + threads + " threads");
      EXPECT_EQ(RunCompressed(dir + "/" + packing[0], " -L --bed --threads " + threads),
                plain_first)
          << "first entry of " << shown;
      const RunOptions o = With(threads == "1" ? "" : kManyJobs);
      const std::vector<std::string> args =
          Words("in out --compress --threads " + threads + kSwitches);
      for (const int n : {1, 3, 7}) {
        const Outcome joined = Decompressed(
            Joined(n == 1 ? std::vector{RunOn(input, args, o)} : InParts(input, args, n, o)));
        EXPECT_EQ(joined.status, 0) << shown << " in " << n << " parts" << joined.err;
        EXPECT_EQ(joined.files, plain.files) << shown << " in " << n << " parts";
      }
    }
  }
}

// Files that the standard decompressors read, in the shapes their formats allow: each made
// by its tool (in the directory of in.fa) and read back by the decompressor its extension
// names to the plain text before the run reads it.
const char* const kStandardFiles[][2] = {
    {"name.fa.gz", "gzip -c in.fa"},
    // FEXTRA (a subfield of no length), FNAME and FCOMMENT before a member's deflate data.
    {"fields.fa.gz",
     R"(printf '\037\213\010\034\000\000\000\000\000\003\004\000ab\000\000in.fa\000a comment\000' &&
        gzip -nc in.fa | tail -c +11)"},
    {"empty_first.fa.gz", "gzip -nc </dev/null && gzip -9nc in.fa"},
    {"zeros.fa.gz", "gzip -nc in.fa && head -c 1000 /dev/zero"},
    {"blocks.fa.bz2", "bzip2 -1 -c in.fa"},
    {"streams.fa.bz2", "head -c 40000 in.fa | bzip2 -c && tail -c +40001 in.fa | bzip2 -1 -c"},
    {"blocks.fa.xz", "xz -1 --block-size=10000 -c in.fa"},
    {"none.fa.xz", "xz -1 --check=none -c in.fa"},
    {"crc32.fa.xz", "xz -1 --check=crc32 -c in.fa"},
    {"crc64.fa.xz", "xz -1 --check=crc64 -c in.fa"},
    {"sha256.fa.xz", "xz -1 --check=sha256 -c in.fa"},
    {"delta.fa.xz", "xz --delta=dist=2 --lzma2=preset=1 -c in.fa"},
    {"padded.fa.xz",
     "xz -c </dev/null && head -c 40000 in.fa | xz -1 -c && head -c 4 /dev/zero && "
     "tail -c +40001 in.fa | xz -1 --check=sha256 -c && head -c 8 /dev/zero"},
    {"pzstd.fa.zst", "pzstd -q -c in.fa"},
    {"pzstd_frames.fa.zst",
     "head -c 40000 in.fa | pzstd -q -1 -c && tail -c +40001 in.fa | pzstd -q -3 -c"},
    {"no_check.fa.zst", "zstd -q --no-check -c in.fa"},
    {"no_size.fa.zst", "zstd -q --no-content-size -c in.fa"},
    {"skippable.fa.zst",
     R"(zstd -qc </dev/null && printf 'R*M\030\003\000\000\000abc' && head -c 40000 in.fa |
        zstd -q -c && printf '_*M\030\000\000\000\000' && tail -c +40001 in.fa | zstd -q -c)"},
};

// Every standard file, read from a file, through a pipe and in 3 parts: the plain run's
// status, streams and outputs.
TEST(CompressedInputs, StandardFilesGiveThePlainRun) {
  if (Shell(".", "for t in gzip bzip2 xz zstd pzstd; do command -v $t || exit 1; done >/dev/null"))
    GTEST_SKIP() << "gzip, bzip2, xz, zstd or pzstd is not installed";
  const Scratch scratch;
  const std::string& dir = scratch.dir;
  std::ofstream(dir + "/in.fa") << Genome();
  const Outcome plain = RunCompressed(dir + "/in.fa", kSwitches);
  const Outcome plain_piped = RunCompressed(dir + "/in.fa", kSwitches, true);
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_NE(plain.File("out.bed"), "");  // segments are masked
  for (const auto& [name, make] : kStandardFiles) {
    SCOPED_TRACE(name);
    const std::string kind = std::string(name).substr(std::string(name).rfind('.') + 1);
    const std::string decompressor = kind == "gz"    ? "gzip"
                                     : kind == "bz2" ? "bzip2"
                                     : kind == "zst" ? "zstd"
                                                     : "xz";
    ASSERT_EQ(Shell(dir, std::string("{ ") + make + "; } > " + name), 0);
    ASSERT_EQ(Shell(dir, decompressor + " -dc " + name + " > back.fa && cmp -s back.fa in.fa"), 0)
        << "not read back to the text by " << decompressor;
    EXPECT_EQ(RunCompressed(dir + "/" + name, kSwitches), plain);
    EXPECT_EQ(RunCompressed(dir + "/" + name, kSwitches, true), plain_piped) << "through a pipe";
    const Outcome joined =
        Joined(InParts({{"in", ReadFile(dir + "/" + name)}}, Words("in out" + kSwitches), 3));
    EXPECT_EQ(joined.status, 0) << "in 3 parts" << joined.err;
    EXPECT_EQ(joined.files, plain.files) << "in 3 parts";
  }
}

// The indexed outputs, compressed or not, at several line widths: their .fai is the one
// samtools makes of the plain copy; of records that the field's FASTA indexer treats apart
// (an empty one, one shorter than a line, one of exactly a line, a name used twice, names
// after blanks) too. samtools faidx reads the same regions from them as from the plain masked
// FASTA, tabix the BED lines that overlap a region.
TEST(CompressedOutputs, IndexesAnswerAsThePlainFiles) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const Scratch scratch;
  const std::string &dir = scratch.dir, genome = Genome();
  // The masked copy of `input`, plain (p) and compressed (z), indexed, and samtools' index of
  // a copy of the plain one (ref).
  const auto index = [&dir](const std::string& input, const std::string& switches) {
    SCOPED_TRACE(switches);
    std::ofstream(dir + "/in.fa") << input;
    const std::string run = KESTRA_BIN " in.fa $o --all-entries --no-report --index --quiet " +
                            switches + " 2>/dev/null";
    ASSERT_EQ(
        Shell(dir, "rm -f p.* z.* && o=p && " + run + " && o=z && " + run +
                       " --compress && cp p.fas ref.fas && samtools faidx ref.fas 2>/dev/null"),
        0);
    for (const char* fai : {"/p.fas.fai", "/z.fas.gz.fai"}) {
      EXPECT_EQ(ReadFile(dir + fai), ReadFile(dir + "/ref.fas.fai")) << fai;
    }
  };
  for (const char* width : {"10", "3", "80", "0"}) {
    index(
        ">a\nACGT\n>empty\n>b two words\nACGTACGTAC\nACG\n>c\n\n>d\nACGTACGTAC\n>a again\n"
        "ACGTTTTTTTTTTTTTTTTTTTTTT\n> blank\nACG\n>\tt after a tab\nAAACCCGGGTTT\n",
        std::string("-F --line-width ") + width);
  }
  const std::string regions =
      "chr0:1-70 chr0:65-200 chr3:1000-1100 chr4:10-20 chr7:7001-9000 chr11";
  for (const std::string width : {"80", "60", "0"}) {
    for (const std::string threads : {"1", "8"}) {
      SCOPED_TRACE("width " + width + ", threads " + threads);
      index(genome, "-L --bed --line-width " + width + " --threads " + threads);
      EXPECT_TRUE(fs::exists(dir + "/z.fas.gz.gzi") && fs::exists(dir + "/z.bed.gz.tbi"));
      EXPECT_FALSE(fs::exists(dir + "/p.bed.tbi"));  // a plain BED has no .tbi
      for (const std::string fas : {"ref.fas", "p.fas", "z.fas.gz"}) {
        ASSERT_EQ(Shell(dir, "samtools faidx " + fas + " " + regions + " > " + fas + ".got"), 0);
      }
      EXPECT_EQ(ReadFile(dir + "/p.fas.got"), ReadFile(dir + "/ref.fas.got"));
      EXPECT_EQ(ReadFile(dir + "/z.fas.gz.got"), ReadFile(dir + "/ref.fas.got"));
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
        EXPECT_EQ(ReadFile(dir + "/got.bed"), ReadFile(dir + "/want.bed")) << r;
        EXPECT_TRUE(std::string(r) != "chr0" || ReadFile(dir + "/want.bed") != "");
      }
    }
  }
}

// A BGZF input cut inside a block, or with a block whose check value is wrong: the run says
// which file and why, and leaves nothing, whatever the threads.
TEST(CompressedInputs, DamageNamesTheFileAndLeavesNothing) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/in.fa") << Genome();
  ASSERT_EQ(Shell(dir, "bgzip -c in.fa > blocks.fa.gz"), 0);
  const std::string blocks = ReadFile(dir + "/blocks.fa.gz");
  fs::remove_all(dir);
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
    for (const char* how :
         {"", " --all-entries", " --all-entries --threads 2", " --all-entries --threads 8"}) {
      if (!*how && !d.first_entry_sees_it) continue;
      const Outcome r =
          RunOn({{d.name, d.bytes}},
                Words(d.name + std::string(" out --compress --bed --index -L") + how),
                With(std::string(how).find("threads") != std::string::npos ? kManyJobs : ""));
      SCOPED_TRACE(d.name + std::string(how));
      const std::string said =
          "kestra: cannot read '" + std::string(d.name) + "': " + d.reason + "\n";
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), said.size())), said);
      EXPECT_NE(r.out.find("\nError reading FASTA file\n"), std::string::npos);
      EXPECT_TRUE(r.files.empty());
    }
  }
}

// BGZF on standard output: a pipeline's reader gets the bytes of the file that would have
// been written. A run that fails leaves its standard output without the end-of-file block, so
// that it cannot pass for a whole file.
TEST(CompressedOutputs, StandardOutputCarriesBgzf) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const Files in = {{"in.fa", Genome()}};
  const Outcome file =
      RunOn(in, Words("in.fa f --all-entries --bed --no-report --compress --quiet"), {}, "",
            "bgzip -t f.bed.gz");
  const Outcome piped =
      RunOn(in, Words("in.fa s --all-entries --no-report --bed-out - --compress"));
  EXPECT_EQ(piped.out, file.File("f.bed.gz"));
  EXPECT_TRUE(piped.files.empty()) << ::testing::PrintToString(piped);
  const Outcome failed =
      RunOn(in, Words("in.fa.gz b --all-entries --no-report --bed-out - --compress --threads 2"),
            {}, "bgzip -c in.fa > in.fa.gz && printf x >> in.fa.gz");
  const std::string eof = piped.out.substr(piped.out.size() - 28);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.substr(failed.out.size() - std::min<std::size_t>(28, failed.out.size())),
            eof);
}

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

// A FASTQ file's masked copy is FASTQ, compressed or not, however named, from every run: its
// headers and its qualities as they came, its letters as the FASTA copy of the same reads
// (from a pipe, which keeps FASTA, nothing compressed or indexed), and its index the one
// samtools makes, which samtools fqidx reads records by.
TEST(MaskedReads, ComeBackAsReadsThatTheIndexerReads) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string reads = Reads(), kept = KeptQualities(reads);
  const std::string all = " --all-entries --background reads.fq --quiet";
  const struct {
    const char *name, *input, *mode, *more, *copy;
    bool through_pipe;
  } cases[] = {
      {"soft", "reads.fq", "-L", "--index", "o.fq", false},
      {"hard, compressed", "reads.fq", "-F", "--compress --index", "o.fq.gz", false},
      {"named", "reads.fq", "-L", "--fasta-out n.fas --index", "n.fas", false},
      {"first entry", "reads.fq", "-L", "", "o.fq", false},
      {"standard input", "-", "-F", "", "o.fq", false},
      {"a pipe", "-", "-F", "", "o.fas", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool first = std::string(c.name) == "first entry", indexed = *c.more != '\0';
    const bool gz = std::string(c.copy).find(".gz") != std::string::npos;
    const std::string tail = first ? " --background reads.fq --quiet" : all;
    // samtools indexes a copy of the copy; both indexes lead to the same records.
    const std::string own = std::string("own") + (gz ? ".fq.gz" : ".fq");
    const std::string fqidx = "cp " + (c.copy + (" " + own)) + " && samtools fqidx " + own +
                              " 2>/dev/null && samtools fqidx " + c.copy +
                              " r3 r0 r199 r7 > got && samtools fqidx " + own +
                              " r3 r0 r199 r7 > want";
    const Outcome run = RunOn({{"reads.fq", reads}},
                              Words(c.input + std::string(" o ") + c.mode + " " + c.more + tail),
                              With("", "reads.fq", c.through_pipe), "", indexed ? fqidx : "");
    const Outcome ref = RunOn({{"reads.fq", reads}}, Words("- ref " + std::string(c.mode) + tail),
                              With("", "reads.fq", true));
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(ref.status, 0) << ref.err;
    const std::string copy = gz ? Gunzip(run.File(c.copy)) : run.File(c.copy);
    const std::string fasta = ref.File("ref.fas");
    ASSERT_FALSE(copy.empty());
    EXPECT_GT(std::string(c.mode) == "-L" ? std::count_if(copy.begin(), copy.end(), ::islower)
                                          : std::count(copy.begin(), copy.end(), 'N'),
              100);
    if (c.through_pipe) {
      EXPECT_EQ(copy, fasta);
      EXPECT_EQ(run.files.count("o.fq"), 0u);
      continue;
    }
    EXPECT_EQ(MaskedRecords(copy),
              MaskedRecords(first ? fasta.substr(0, fasta.find('>', 1)) : fasta));
    EXPECT_EQ(QualitiesOfCopy(copy), first ? kept.substr(0, kept.find('\n') + 1) : kept);
    if (!indexed) continue;
    for (const std::string index : {".fai", ".gzi"}) {
      EXPECT_EQ(run.File(c.copy + index), run.File(own + index)) << index;
    }
    EXPECT_EQ(run.File("got"), run.File("want"));
    EXPECT_NE(run.File("got"), "");
  }
}

}  // namespace
