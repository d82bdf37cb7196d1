// Compressed outputs: their indexes answer region queries as the plain outputs do; a failed
// run's BGZF on standard output cannot pass for a whole file; reads come back as reads the
// indexer reads. (The shapes the standard compressors give are end-to-end cases, damaged BGZF
// input is among WholeInputs, compressed outputs in parts among Shards.)
#include <algorithm>
#include <array>

#include "harness.h"

namespace {

// Entries with A-rich stretches to mask, one without nucleotides, in lines of 70; large
// enough that bgzip cuts it into several blocks.
const std::string kGenome = ReadFile(CLI_DATA_DIR "/input/compressed_genome.fa");

bool HaveTools() {
  return Shell(".", "for t in bgzip tabix samtools; do command -v $t || exit 1; done >/dev/null") ==
         0;
}

// The indexed outputs, compressed or not, at several line widths: their .fai is the one
// samtools makes of the plain copy; of records that the field's FASTA indexer treats apart
// (an empty one, one shorter than a line, one of exactly a line, a name used twice, names
// after blanks) too. samtools faidx reads the same regions from them as from the plain masked
// FASTA, tabix the BED lines that overlap a region.
TEST(CompressedOutputs, IndexesAnswerAsThePlainFiles) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const Scratch scratch;
  const std::string& dir = scratch.dir;
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
  for (const std::string width : {"10", "3", "80", "0"}) {
    index(
        ">a\nACGT\n>empty\n>b two words\nACGTACGTAC\nACG\n>c\n\n>d\nACGTACGTAC\n>a again\n"
        "ACGTTTTTTTTTTTTTTTTTTTTTT\n> blank\nACG\n>\tt after a tab\nAAACCCGGGTTT\n",
        "-F --line-width " + width);
  }
  for (const std::string width : {"80", "60", "0"}) {
    for (const std::string threads : {"1", "8"}) {
      SCOPED_TRACE("width " + width + ", threads " + threads);
      index(kGenome, "-L --bed --line-width " + width + " --threads " + threads);
      EXPECT_TRUE(fs::exists(dir + "/z.fas.gz.gzi") && fs::exists(dir + "/z.bed.gz.tbi"));
      EXPECT_FALSE(fs::exists(dir + "/p.bed.tbi"));  // a plain BED has no .tbi
      for (const std::string fas : {"ref.fas", "p.fas", "z.fas.gz"}) {
        ASSERT_EQ(Shell(dir, "samtools faidx " + fas +
                                 " chr0:1-70 chr0:65-200 chr3:1000-1100 chr4:10-20 "
                                 "chr7:7001-9000 chr11 > " +
                                 fas + ".got"),
                  0);
        EXPECT_EQ(ReadFile(dir + "/" + fas + ".got"), ReadFile(dir + "/ref.fas.got")) << fas;
      }
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

// BGZF on standard output: a run that fails leaves it without the end-of-file block that a
// whole file ends with (as the end-to-end cases compressed_bed_file and bgzf_bed_on_standard_output
// show, with the bytes of the file), so that it cannot pass for a whole file.
TEST(CompressedOutputs, StandardOutputCarriesBgzf) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string whole = ReadFile(CLI_DATA_DIR "/expected/compressed_bed_names.bed.gz");
  const Outcome failed = RunOn({{"in.fa", kGenome}},
                               Words("in.fa.gz b --all-entries --no-report --bed-out - "
                                     "--compress --threads 2"),
                               {}, "bgzip -c in.fa > in.fa.gz && printf x >> in.fa.gz");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.substr(failed.out.size() - std::min<std::size_t>(28, failed.out.size())),
            whole.substr(whole.size() - 28));
}

// A FASTQ file's masked copy is FASTQ, compressed or not, however named, from every run: its
// headers and its qualities as they came, its letters as the FASTA copy of the same reads
// (from a pipe, which keeps FASTA, nothing compressed or indexed), and its index the one
// samtools makes, which samtools fqidx reads records by. The reads: 100 letters, some 85% A,
// one with characters that are no letters, lines of qualities led by '@' or '+', a name used
// twice.
TEST(MaskedReads, ComeBackAsReadsThatTheIndexerReads) {
  if (!HaveTools()) GTEST_SKIP() << "bgzip, tabix or samtools is not installed";
  const std::string reads = ReadFile(CLI_DATA_DIR "/input/compressed_reads.fq");
  const std::string kept = KeptQualities(reads);
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
    const std::string tail =
        (first ? "" : " --all-entries") + std::string(" --background reads.fq --quiet");
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
    ASSERT_EQ(run.status + ref.status, 0) << run.err << ref.err;
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
