// Whole inputs: --all-entries gives, entry by entry, what a run on that entry alone gives
// (single(E)), whatever the number of threads, from a file, a gzip file or a pipe; the BED
// file agrees with bedtools; --seed reproduces random estimation; a damaged input, gzip or
// BGZF, leaves nothing.
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "gzip_support.h"
#include "harness.h"

namespace {

struct Entry {
  std::string bytes;   // as it stands in the input, from its '>' on
  std::string header;  // its header text
  std::string letters;
};

// The entries of a FASTA text, each from a '>' at the start of a line: its bytes, its header
// line and its other lines (CR left out of both).
std::vector<Entry> SplitEntries(const std::string& text) {
  std::vector<Entry> entries;
  for (std::size_t at = 0, next; at < text.size(); at = next) {
    next = std::min(text.find("\n>", at), text.size() - 1) + 1;
    Entry& e = entries.emplace_back(Entry{text.substr(at, next - at), "", ""});
    std::istringstream lines(e.bytes.substr(1));
    std::getline(lines, e.header);
    for (std::string line; std::getline(lines, line);) e.letters += line;
    for (std::string* s : {&e.header, &e.letters})
      s->erase(std::remove(s->begin(), s->end(), '\r'), s->end());
  }
  return entries;
}

// Entries of every kind: ordinary ones (CR LF line ends, lower case, stretches rich in A),
// one without nucleotides, an empty one, one shorter than a window of 50, one without A
// (so -K has nothing to estimate from), and a last header line without its newline.
const std::string kMixed = ReadFile(CLI_DATA_DIR "/input/entries_mixed.fa");

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What --all-entries must write, by file name, put together from runs on each entry alone.
// Its standard output, a line an entry, is held by the end-to-end goldens (bed_names and
// others).

bool Given(const std::vector<std::string>& args, const char* a) {
  return std::find(args.begin(), args.end(), a) != args.end();
}

// The switches of a run on one entry that analyses it as the whole input's run does: the
// input's composition as its background (the file whole.fa beside it), and the input's count
// of entries for its E-values (when the switches need them and do not give it).
std::vector<std::string> AsInTheWhole(std::vector<std::string> args, std::size_t entries) {
  const auto input = std::find(args.begin(), args.end(), "input");
  if (input != args.end()) *input = "whole.fa";
  if ((Given(args, "--mask-evalue") || Given(args, "--evalues")) &&
      !Given(args, "--evalue-entries")) {
    args.insert(args.end(), {"--evalue-entries", std::to_string(entries)});
  }
  return args;
}

Files FromSingleRuns(const std::vector<Entry>& entries, const std::vector<std::string>& args,
                     const std::string& whole = "") {
  const bool evalues =
      Given(args, "--mask-evalue") || Given(args, "--evalues") || Given(args, "--evalue-entries");
  std::vector<std::string> alone = AsInTheWhole(args, entries.size());
  alone.insert(alone.begin(), {"in.fa", "out"});
  // The rows of a table of a run on one entry; its line of columns goes to `columns`.
  const auto rows = [](const std::string& table, std::string* columns) {
    const std::size_t end = table.find('\n') + 1;
    if (end > 0) *columns = table.substr(0, end);
    return table.substr(end);
  };
  std::string seg, fas, bed, tsv, summary, columns, summary_columns;
  for (const Entry& e : entries) {
    const Outcome run = RunOn({{"in.fa", e.bytes}, {"whole.fa", whole}}, alone);
    seg += run.File("out.seg"), bed += run.File("out.bed"),
        tsv += rows(run.File("out.tsv"), &columns);
    const std::string name = e.header.substr(0, e.header.find_first_of(" \t"));
    summary += run.status == 0
                   ? rows(run.File("out.summary.tsv"), &summary_columns)
                   : name + "\t" + std::to_string(e.letters.size()) +
                         "\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tskipped" + (evalues ? "\tNA\n" : "\n");
    fas += run.status == 0
               ? run.File("out.fas")
               : Fasta(e.header, Given(args, "--keep-case") ? e.letters : Upper(e.letters));
  }
  Files want = {{"out.seg", seg},
                {"out.bed", bed},
                {"out.tsv", Given(args, "--table") ? columns + tsv : ""},
                {"out.summary.tsv", Given(args, "--summary") ? summary_columns + summary : ""}};
  if (Given(args, "-F") || Given(args, "-L")) want["out.fas"] = fas;
  return want;
}

// Runs --all-entries on the input `name` holding `bytes` (read from the file, or from a pipe
// fed with it), whole.fa beside it, checks every output against `want`, and returns the entry
// lines of its standard output.
std::string CheckAllEntries(const std::string& name, const std::string& bytes,
                            const std::vector<std::string>& args, const Files& want,
                            const std::string& whole = "", bool through_pipe = false,
                            const std::string& job_limits = "") {
  std::vector<std::string> full = {through_pipe ? "/dev/stdin" : name, "out", "--all-entries"};
  full.insert(full.end(), args.begin(), args.end());
  const Outcome run =
      RunOn({{name, bytes}, {"whole.fa", whole}}, full, With(job_limits, name, through_pipe));
  SCOPED_TRACE(::testing::PrintToString(full) + " jobs " + job_limits);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  for (const auto& [file, want_bytes] : want) {
    if (file == "out.fas" && IsFastqName(name)) {
      // Reads come back as reads: the FASTA copy's letters, the input's qualities.
      EXPECT_EQ(MaskedRecords(run.File("out.fq")), MaskedRecords(want_bytes));
      EXPECT_EQ(QualitiesOfCopy(run.File("out.fq")), KeptQualities(bytes));
    } else {
      EXPECT_EQ(run.File(file), want_bytes) << file;
    }
  }
  return EntryLines(run.out);
}

class AllEntries : public ::testing::TestWithParam<const char*> {};

// Each set of switches: the contract over a mixed input, from a file on 1, 2, 3 and 8
// threads, from a gzip file and from a pipe; and with jobs of one entry whose outputs wait
// for their turn after 64 bytes, so that many jobs are in flight and wait for each other.
// Standard output is the same for each of these runs.
TEST_P(AllEntries, EqualsEachEntryAlone) {
  const std::vector<std::string> args = Words(GetParam());
  const std::vector<Entry> entries = SplitEntries(kMixed);
  const std::string& text = kMixed;
  const Files want = FromSingleRuns(entries, args, text);
  const Files inputs = {
      {"mixed.fa", text}, {"mixed.fa.gz", Gzip(text)}, {"mixed.fq", AsFastq(text)}};
  // Many jobs in flight that wait for each other: from a file cut into stretches of 200
  // bytes, whose entries are cut into stretches of 320 letters, and from a gzip stream; the
  // same entries as FASTQ records, read on one thread and on two in many jobs. A pipe cannot
  // be surveyed: it is given what the survey would give.
  const char* const gz_jobs = "entries=2,letters=100,waiting=1,piece=640";
  const struct {
    const char *input, *threads, *limits;  // threads "": none given
    bool through_pipe;
  } runs[] = {{"mixed.fa", "1", "", false},        {"mixed.fa", "2", "", false},
              {"mixed.fa", "3", "", false},        {"mixed.fa", "8", "", false},
              {"mixed.fa.gz", "", "", false},      {"mixed.fa", "", "", true},
              {"mixed.fa", "1", kManyJobs, false}, {"mixed.fa.gz", "1", gz_jobs, false},
              {"mixed.fa", "2", kManyJobs, false}, {"mixed.fa.gz", "2", gz_jobs, false},
              {"mixed.fa", "8", kManyJobs, false}, {"mixed.fa.gz", "8", gz_jobs, false},
              {"mixed.fq", "", "", false},         {"mixed.fq", "2", kManyJobs, false}};
  std::string out;
  for (const auto& r : runs) {
    std::vector<std::string> with = r.through_pipe ? AsInTheWhole(args, entries.size()) : args;
    if (*r.threads) with.insert(with.end(), {"--threads", r.threads});
    const std::string got =
        CheckAllEntries(r.input, inputs.at(r.input), with, want, text, r.through_pipe, r.limits);
    if (out.empty()) out = got;
    EXPECT_EQ(got, out) << r.input << " " << r.threads << " " << r.limits;
  }
}

INSTANTIATE_TEST_SUITE_P(
    , AllEntries,
    ::testing::Values("", "-F --bed", "-L --keep-case -M:0.5", "-W:50 -F --bed -P:0.2",
                      "-W:50 -N --bed -P:0.2 -M:0.1", "-K -L", "-S:30 --seed 99 -F -M:0.5",
                      "-B:30 --seed=5 --bed -M:0.5", "--no-report -L --bed",
                      "--table --summary -M:0.5 -W:40",
                      "--background input --mask-evalue 0.5 -F --bed --table --summary",
                      "--evalues --table --all-segments --summary -W:40 -M:0.5",
                      "--background input -K -L --summary --evalue-entries 100"));

// One long entry, alone: cut into stretches of 320 letters that several threads encode and
// format apart, it gives the bytes one thread gives it whole, in every mode.
TEST(Threads, OneEntryCutIntoStretches) {
  const Files in = {{"in.fa", ReadFile(CLI_DATA_DIR "/input/entries_long_one.fa")}};
  for (const char* switches : {"", "-F --bed", "-L --keep-case -M:0.5", "-W:50 -F -P:0.2",
                               "-W:50 -N --bed -P:0.2", "-W:30 -E:-5 -F -P:0.3 -M:0.3", "-E:100 -L",
                               "-W:400 -F", "-S:20 --seed 3 -M:0.5 -F", "-K -L"}) {
    Outcome want;
    for (int k = 0; k < 6; ++k) {  // on 1, 2 and 3 threads, whole and then cut
      const std::string threads = std::to_string(k % 3 + 1);
      const Outcome got = RunOn(in, Words("in.fa out --threads " + threads + " " + switches),
                                With(k >= 3 ? kManyJobs : ""));
      if (k == 0) want = got;
      EXPECT_EQ(got, want) << switches << " on " << threads << (k >= 3 ? " cut" : "");
    }
  }
}

// A gzip or BGZF input that turns out damaged (cut inside a member or a block, or with bytes
// or a check value wrong), after some entries have been analysed and written, or in the first
// entry's blocks: the run ends with the read error naming the file, and neither its outputs
// (compressed and indexed too) nor their temporary files are left (an earlier report stays as
// it was), whatever the threads.
TEST(WholeInputs, DamagedGzipLeavesNoOutput) {
  std::mt19937 rng(9);
  std::string plain;
  for (int e = 0; e < 400; ++e)
    plain += Fasta("e" + std::to_string(e), Letters(rng, 10000, "ACGTA"), 70);
  const std::string packed = Gzip(plain);
  const kestra::Bgzf blocks = kestra::InBlocks(plain, 65280);
  const std::size_t at = packed.size() * 3 / 5, middle = blocks.starts[blocks.starts.size() / 2];
  const auto flipped = [&blocks](std::size_t k) {  // the CRC of block k wrong
    std::string bytes = blocks.bytes;
    return bytes[blocks.starts[k + 1] - kestra::kCrcFromEnd] ^= 0x5a, bytes;
  };
  const std::string all = " --all-entries --threads ", bgzf = " --compress --bed --index -L";
  const struct {
    const char* why;
    std::string bytes, switches;
    bool told;  // entries before the damage are told
  } cases[] = {
      {"corrupt", packed.substr(0, at) + std::string(64, '\xff') + packed.substr(at + 64),
       all + "2 -F --bed", true},
      {"truncated", packed.substr(0, at), all + "2 -F --bed", true},
      {"truncated", blocks.bytes.substr(0, middle + 100), all + "8" + bgzf, true},
      {"corrupt", flipped(blocks.starts.size() / 2), all + "2" + bgzf, true},
      {"corrupt", flipped(0), all + "8" + bgzf, false},
      {"corrupt", flipped(0), bgzf, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why + c.switches);
    const Outcome run =
        RunOn({{"in.fa.gz", c.bytes}, {"out.seg", "an earlier report\n"}},
              Words("in.fa.gz out" + c.switches), With("entries=5,letters=100000,waiting=64"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(!c.told || run.out.size() > 200) << "entries before the damage are told";
    const std::size_t tail = std::min<std::size_t>(27, run.out.size());
    EXPECT_EQ(run.out.substr(run.out.size() - tail), "\nError reading FASTA file\n\n");
    EXPECT_EQ(run.err, "kestra: cannot read 'in.fa.gz': " + std::string(c.why) + " gzip data\n");
    EXPECT_TRUE(run.files.empty()) << ::testing::PrintToString(run);
  }
}

// A real genome of two chromosomes (Vibrio cholerae O395, from Debian's ragout-examples):
// the contract on two threads, and the BED file read by bedtools: soft-masking the
// upper-cased genome with it gives what -L gives, and the letters it points at are those
// the report prints.
TEST(RealGenome, AllEntriesAndBedtools) {
  const std::string genome = KESTRA_EXAMPLES "/V.Cholerae/references/O395.fasta.gz";
  if (!fs::exists(genome)) GTEST_SKIP() << genome << " is missing (Debian's ragout-examples)";
  if (std::system("bedtools --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no bedtools";
  const std::string text = Gunzip(ReadFile(genome));
  std::vector<Entry> entries = SplitEntries(text);
  ASSERT_EQ(entries.size(), 2u);
  const Files want = FromSingleRuns(entries, {"-L", "--bed"});
  CheckAllEntries("vc.fa", text, {"-L", "--bed", "--threads", "2"}, want);
  // The upper-cased genome on one line an entry, and in lines of 60 as the field's tools write
  // FASTA: bedtools' soft-masked copy of the first holds -L's records; of the second (its BED
  // keeps the lines) it equals -L of it with lines of 60, byte for byte.
  std::string upper, sixty;
  for (Entry& e : entries) upper += Fasta(e.header, Upper(e.letters), e.letters.size());
  for (Entry& e : entries) sixty += Fasta(e.header, Upper(e.letters), 60);
  const Outcome run = RunOn(
      {{"upper.fa", upper}, {"upper60.fa", sixty}, {"out.bed", want.at("out.bed")}},
      Words("upper60.fa sixty --all-entries -L --bed --no-report --line-width 60"), {}, "",
      "for f in upper upper60; do bedtools maskfasta -soft -fullHeader -fi $f.fa -bed out.bed "
      "-fo masked_$f.fa || exit 1; done && bedtools getfasta -fi upper.fa -bed out.bed -tab > "
      "letters.tsv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(MaskedRecords(run.File("masked_upper.fa")), MaskedRecords(want.at("out.fas")));
  EXPECT_EQ(run.File("sixty.bed"), want.at("out.bed"));
  EXPECT_EQ(run.File("sixty.fas"), run.File("masked_upper60.fa"));
  // The report's letters of each masked segment, in BED order: the block of its entry, the
  // line of its index.
  std::istringstream bed(want.at("out.bed")), report(want.at("out.seg"));
  std::istringstream got(run.File("letters.tsv"));
  std::map<std::string, std::string> letters;  // "entry index" -> letters
  std::string line, chrom;
  while (std::getline(report, line)) {
    if (line[0] == '>') chrom = line.substr(1, line.find(' ') - 1);
    int index = 0, start, end;
    char text[16];
    if (std::sscanf(line.c_str(), "%d %d %d %*d %*d %15s", &index, &start, &end, text) == 4)
      letters[chrom + " " + std::to_string(index)] = line.substr(line.rfind(' ') + 1);
  }
  std::size_t checked = 0;
  for (std::string b, g; std::getline(bed, b) && std::getline(got, g); ++checked) {
    std::istringstream fields(b);
    std::string name, start, end, index;
    fields >> name >> start >> end >> index;
    EXPECT_EQ(g.substr(g.find('\t') + 1), letters[name + " " + index]) << b;
  }
  EXPECT_GT(checked, 10u);
}

}  // namespace
