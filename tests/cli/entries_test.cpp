// Whole inputs: --all-entries gives, entry by entry, what a run on that entry alone gives
// (single(E)), whatever the number of threads, from a file, a gzip file or a pipe; the BED
// file agrees with bedtools; --seed reproduces random estimation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

// The lines of columns of the two tables.
const std::string kTableColumns = "#entry\tstart\tend\tlength\tspecial_residues\tp_value\tmasked\n";
const std::string kSummaryColumns =
    "#entry\tletters\tlinkage\tspecial_residues\tsegments\tmasked\toverall_p\toverall_tail\t"
    "normal_approximation\tstatus\n";

struct Entry {
  std::string bytes;   // as it stands in the input, from its '>' on
  std::string header;  // its header text
  std::string letters;
};

Entry MakeEntry(const std::string& header, const std::string& letters, const char* line_end) {
  return {Fasta(header, letters, 70, line_end), header, letters};
}

// Entries of every kind: ordinary ones (CR LF line ends, lower case, stretches rich in A),
// one without nucleotides, an empty one, one shorter than a window of 50, one without A
// (so -K has nothing to estimate from), and a last header line without its newline.
std::vector<Entry> MixedEntries() {
  std::mt19937 rng(42);
  const std::string rich = Letters(rng, 400, "AAAAAATCG");
  return {MakeEntry("e1 ordinary", Letters(rng, 2500, "ACGT") + rich + Letters(rng, 900, "ACGT"),
                    "\r\n"),
          MakeEntry("e2 lower", Letters(rng, 600, "acgtACGTaaa"), "\n"),
          MakeEntry("e3 gaps", Letters(rng, 90, "N-"), "\n"),
          MakeEntry("e4 empty", "", "\n"),
          MakeEntry("e5 short", Letters(rng, 30, "ACGT"), "\n"),
          MakeEntry("e6 without A", Letters(rng, 800, "CGT"), "\n"),
          MakeEntry("e7 ordinary", rich + Letters(rng, 1500, "ACGTA"), "\n"),
          Entry{">tail", "tail", ""}};
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What --all-entries must write, put together from runs on each entry alone. Its standard
// output, a line an entry, is held by the end-to-end goldens (bed_names and others).
struct Expected {
  std::string report, fasta, bed, table, summary;
};

// The switches of a run on one entry that analyses it as the whole input's run does: the
// input's composition as its background (the file `whole`), and the input's count of entries
// for its E-values (when the switches need them and do not give it).
std::vector<std::string> AsInTheWhole(std::vector<std::string> args, const std::string& whole,
                                      std::size_t entries) {
  const auto given = [&args](const char* a) {
    return std::find(args.begin(), args.end(), a) != args.end();
  };
  const auto input = std::find(args.begin(), args.end(), "input");
  if (input != args.end()) *input = whole;
  if ((given("--mask-evalue") || given("--evalues")) && !given("--evalue-entries")) {
    args.insert(args.end(), {"--evalue-entries", std::to_string(entries)});
  }
  return args;
}

Expected FromSingleRuns(const std::vector<Entry>& entries, const std::vector<std::string>& args,
                        const std::string& whole = "") {
  Expected want;
  const auto given = [&args](const char* a) {
    return std::find(args.begin(), args.end(), a) != args.end();
  };
  const std::vector<std::string> alone = AsInTheWhole(args, whole, entries.size());
  std::string table_rows;
  const bool evalues = given("--mask-evalue") || given("--evalues") || given("--evalue-entries");
  for (const Entry& e : entries) {
    const std::string dir = RunDirectory();
    std::ofstream(dir + "/work/in.fa", std::ios::binary) << e.bytes;
    std::vector<std::string> full = {"in.fa", "out"};
    full.insert(full.end(), alone.begin(), alone.end());
    const RunResult run = RunKestra(dir, full);
    want.report += ReadFile(dir + "/work/out.seg");
    want.bed += ReadFile(dir + "/work/out.bed");
    // The tables of a run on one entry: their line of columns, then its rows.
    const auto rows = [](const std::string& table) {
      return table.empty() ? table : table.substr(table.find('\n') + 1);
    };
    table_rows += rows(ReadFile(dir + "/work/out.tsv"));
    const std::string name = e.header.substr(0, e.header.find_first_of(" \t"));
    if (given("--summary")) {
      const std::string skipped =
          "\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tskipped" + std::string(evalues ? "\tNA" : "") + "\n";
      want.summary += run.status == 0 ? rows(ReadFile(dir + "/work/out.summary.tsv"))
                                      : name + "\t" + std::to_string(e.letters.size()) + skipped;
    }
    want.fasta += run.status == 0
                      ? ReadFile(dir + "/work/out.fas")
                      : Fasta(e.header, given("--keep-case") ? e.letters : Upper(e.letters));
    fs::remove_all(dir);
  }
  const std::string last = evalues ? "\te_value\n" : "\n";
  if (given("--table")) want.table = kTableColumns.substr(0, kTableColumns.size() - 1) + last;
  if (given("--summary")) {
    want.summary = kSummaryColumns.substr(0, kSummaryColumns.size() - 1) +
                   (evalues ? "\tleast_e_value\n" : "\n") + want.summary;
  }
  if (given("--table")) want.table += table_rows;
  return want;
}

// Runs --all-entries on `input` (a file of the run directory, or the pipe feeding standard
// input), checks every output against `want`, and returns the entry lines of its standard
// output.
std::string CheckAllEntries(const std::string& input, const std::vector<std::string>& args,
                            const Expected& want, bool fasta, bool through_pipe = false,
                            const std::string& job_limits = "") {
  const std::string dir = RunDirectory();
  RunOptions options;
  options.job_limits = job_limits;
  options.stdin_path = through_pipe ? input : "/dev/null";
  options.through_pipe = through_pipe;
  if (!through_pipe) fs::copy_file(input, dir + "/work/" + fs::path(input).filename().string());
  std::vector<std::string> full = {
      through_pipe ? "/dev/stdin" : fs::path(input).filename().string(), "out", "--all-entries"};
  full.insert(full.end(), args.begin(), args.end());
  const RunResult run = RunKestra(dir, full, options);
  const std::string shown = ::testing::PrintToString(full) + " jobs " + job_limits;
  EXPECT_EQ(run.status, 0) << shown << run.out << run.err;
  EXPECT_EQ(ReadFile(dir + "/work/out.seg"), want.report) << shown;
  if (fasta && IsFastqName(input)) {
    // Reads come back as reads: the FASTA copy's letters, the input's qualities.
    const std::string copy = ReadFile(dir + "/work/out.fq");
    EXPECT_EQ(MaskedRecords(copy), MaskedRecords(want.fasta)) << shown;
    EXPECT_EQ(QualitiesOfCopy(copy), KeptQualities(ReadFile(input))) << shown;
  } else if (fasta) {
    EXPECT_EQ(ReadFile(dir + "/work/out.fas"), want.fasta) << shown;
  }
  EXPECT_EQ(ReadFile(dir + "/work/out.bed"), want.bed) << shown;
  EXPECT_EQ(ReadFile(dir + "/work/out.tsv"), want.table) << shown;
  EXPECT_EQ(ReadFile(dir + "/work/out.summary.tsv"), want.summary) << shown;
  fs::remove_all(dir);
  return EntryLines(run.out);
}

class AllEntries : public ::testing::TestWithParam<std::vector<std::string>> {};

// Each set of switches: the contract over a mixed input, from a file on 1, 2, 3 and 8
// threads, from a gzip file and from a pipe; and with jobs of one entry whose outputs wait
// for their turn after 64 bytes, so that many jobs are in flight and wait for each other.
// Standard output is the same for each of these runs.
TEST_P(AllEntries, EqualsEachEntryAlone) {
  const std::vector<std::string>& args = GetParam();
  const std::vector<Entry> entries = MixedEntries();
  const bool fasta = std::find_if(args.begin(), args.end(), [](const std::string& a) {
                       return a == "-F" || a == "-L";
                     }) != args.end();
  const std::string dir = RunDirectory();
  const std::string plain = dir + "/mixed.fa";
  std::ofstream file(plain, std::ios::binary);
  for (const Entry& e : entries) file << e.bytes;
  file.close();
  const Expected want = FromSingleRuns(entries, args, plain);
  ASSERT_EQ(std::system(("gzip -kn " + plain).c_str()), 0);
  std::string out;
  const auto same_out = [&out](const std::string& run_out) {
    if (out.empty()) out = run_out;
    EXPECT_EQ(run_out, out);
  };
  for (const char* threads : {"1", "2", "3", "8"}) {
    std::vector<std::string> threaded = args;
    threaded.insert(threaded.end(), {"--threads", threads});
    same_out(CheckAllEntries(plain, threaded, want, fasta));
  }
  same_out(CheckAllEntries(plain + ".gz", args, want, fasta));
  // A pipe cannot be surveyed: it is given what the survey would give.
  same_out(CheckAllEntries(plain, AsInTheWhole(args, plain, entries.size()), want, fasta, true));
  // Many jobs in flight that wait for each other: from a file cut into stretches of 200
  // bytes, whose entries are cut into stretches of 320 letters, and from a gzip stream.
  for (const char* threads : {"1", "2", "8"}) {
    std::vector<std::string> threaded = args;
    threaded.insert(threaded.end(), {"--threads", threads});
    same_out(CheckAllEntries(plain, threaded, want, fasta, false, kManyJobs));
    same_out(CheckAllEntries(plain + ".gz", threaded, want, fasta, false,
                             "entries=2,letters=100,waiting=1,piece=640"));
  }
  // The same entries as FASTQ records, the file read on one thread and on two in many jobs.
  const std::string reads = dir + "/mixed.fq";
  std::ofstream(reads, std::ios::binary) << AsFastq(ReadFile(plain));
  same_out(CheckAllEntries(reads, args, want, fasta));
  std::vector<std::string> two = args;
  two.insert(two.end(), {"--threads", "2"});
  same_out(CheckAllEntries(reads, two, want, fasta, false, kManyJobs));
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    , AllEntries,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"-F", "--bed"},
                      std::vector<std::string>{"-L", "--keep-case", "-M:0.5"},
                      std::vector<std::string>{"-W:50", "-F", "--bed", "-P:0.2"},
                      std::vector<std::string>{"-W:50", "-N", "--bed", "-P:0.2", "-M:0.1"},
                      std::vector<std::string>{"-K", "-L"},
                      std::vector<std::string>{"-S:30", "--seed", "99", "-F", "-M:0.5"},
                      std::vector<std::string>{"-B:30", "--seed=5", "--bed", "-M:0.5"},
                      std::vector<std::string>{"--no-report", "-L", "--bed"},
                      std::vector<std::string>{"--table", "--summary", "-M:0.5", "-W:40"},
                      std::vector<std::string>{"--background", "input", "--mask-evalue", "0.5",
                                               "-F", "--bed", "--table", "--summary"},
                      std::vector<std::string>{"--evalues", "--table", "--all-segments",
                                               "--summary", "-W:40", "-M:0.5"},
                      std::vector<std::string>{"--background", "input", "-K", "-L", "--summary",
                                               "--evalue-entries", "100"}));

// One long entry, alone: cut into stretches of 320 letters that several threads encode and
// format apart, it gives the bytes one thread gives it whole, in every mode.
TEST(Threads, OneEntryCutIntoStretches) {
  std::mt19937 rng(17);
  std::string letters;
  for (int i = 0; i < 40; ++i) letters += Letters(rng, 400, i % 5 == 0 ? "AAAAATCG" : "ACGT");
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/one.fa") << MakeEntry("long one", letters, "\n").bytes;
  const std::vector<std::vector<std::string>> switch_sets = {
      {},
      {"-F", "--bed"},
      {"-L", "--keep-case", "-M:0.5"},
      {"-W:50", "-F", "-P:0.2"},
      {"-W:50", "-N", "--bed", "-P:0.2"},
      {"-W:30", "-E:-5", "-F", "-P:0.3", "-M:0.3"},
      {"-E:100", "-L"},
      {"-W:400", "-F"},
      {"-S:20", "--seed", "3", "-M:0.5", "-F"},
      {"-K", "-L"}};
  for (const auto& switches : switch_sets) {
    std::map<std::string, std::string> want;
    for (const char* threads : {"1", "2", "3"}) {
      for (const bool cut : {false, true}) {
        const std::string run_dir = RunDirectory();
        fs::copy_file(dir + "/one.fa", run_dir + "/work/in.fa");
        std::vector<std::string> args = {"in.fa", "out", "--threads", threads};
        args.insert(args.end(), switches.begin(), switches.end());
        RunOptions options;
        if (cut) options.job_limits = kManyJobs;
        const RunResult run = RunKestra(run_dir, args, options);
        std::map<std::string, std::string> got = {
            {"status", std::to_string(run.status)}, {"out", run.out}, {"err", run.err}};
        for (const char* file : {"out.seg", "out.fas", "out.bed"})
          got[file] = ReadFile(run_dir + "/work/" + file);
        if (want.empty()) want = got;
        EXPECT_EQ(got, want) << ::testing::PrintToString(args) << (cut ? " cut" : "");
        fs::remove_all(run_dir);
      }
    }
  }
  fs::remove_all(dir);
}

// A gzip input that turns out damaged after some entries have been analysed and written: the
// run ends with the read error, and neither its outputs nor their temporary files are left
// (an earlier report stays as it was).
TEST(WholeInputs, DamagedGzipLeavesNoOutput) {
  std::mt19937 rng(9);
  std::string plain;
  for (int e = 0; e < 400; ++e)
    plain += MakeEntry("e" + std::to_string(e), Letters(rng, 10000, "ACGTA"), "\n").bytes;
  const std::string dir = RunDirectory();
  std::ofstream(dir + "/all.fa") << plain;
  ASSERT_EQ(std::system(("gzip -n " + dir + "/all.fa").c_str()), 0);
  const std::string packed = ReadFile(dir + "/all.fa.gz");
  const struct {
    const char* what;
    std::string bytes;
  } damages[] = {{"corrupt", packed.substr(0, packed.size() * 3 / 5) + std::string(64, '\xff') +
                                 packed.substr(packed.size() * 3 / 5 + 64)},
                 {"truncated", packed.substr(0, packed.size() * 3 / 5)}};
  for (const auto& [what, bytes] : damages) {
    const std::string work = dir + "/work/";
    std::ofstream(work + "in.fa.gz", std::ios::binary) << bytes;
    std::ofstream(work + "out.seg") << "an earlier report\n";
    const auto before = Listing(work);
    RunOptions options;
    options.job_limits = "entries=5,letters=100000,waiting=64";
    const RunResult run = RunKestra(
        dir, {"in.fa.gz", "out", "--all-entries", "--threads", "2", "-F", "--bed"}, options);
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_GT(run.out.size(), 200u) << what << ": entries before the damage are told";
    EXPECT_EQ(run.out.substr(run.out.size() - 27), "\nError reading FASTA file\n\n") << what;
    EXPECT_EQ(run.err, "kestra: cannot read 'in.fa.gz': " + std::string(what) + " gzip data\n")
        << what;
    EXPECT_EQ(Listing(work), before) << what;
    EXPECT_EQ(ReadFile(work + "out.seg"), "an earlier report\n") << what;
  }
  fs::remove_all(dir);
}

// The entries of a well-formed FASTA file: each starts at a line beginning with '>'.
std::vector<Entry> SplitEntries(const std::string& text) {
  std::vector<Entry> entries;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line[0] == '>') entries.push_back(Entry{"", line.substr(1), ""});
    entries.back().bytes += line + "\n";
    if (line[0] != '>') entries.back().letters += line;
  }
  return entries;
}

std::string Rewrapped(const std::string& fasta) {
  std::string out;
  for (const Entry& e : SplitEntries(fasta)) out += Fasta(e.header, e.letters);
  return out;
}

// A real genome of two chromosomes (Vibrio cholerae O395, from Debian's ragout-examples):
// the contract on two threads, and the BED file read by bedtools: soft-masking the
// upper-cased genome with it gives what -L gives, and the letters it points at are those
// the report prints.
TEST(RealGenome, AllEntriesAndBedtools) {
  const std::string genome = KESTRA_EXAMPLES "/V.Cholerae/references/O395.fasta.gz";
  if (!fs::exists(genome)) GTEST_SKIP() << genome << " is missing (Debian's ragout-examples)";
  if (std::system("bedtools --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no bedtools";
  const std::string dir = RunDirectory(), fa = dir + "/vc.fa", upper = dir + "/upper.fa";
  ASSERT_EQ(std::system(("gzip -dc " + genome + " > " + fa).c_str()), 0);
  std::vector<Entry> entries = SplitEntries(ReadFile(fa));
  ASSERT_EQ(entries.size(), 2u);
  const Expected want = FromSingleRuns(entries, {"-L", "--bed"});
  CheckAllEntries(fa, {"-L", "--bed", "--threads", "2"}, want, true);

  std::string upper_text;
  for (Entry& e : entries) upper_text += ">" + e.header + "\n" + Upper(e.letters) + "\n";
  std::ofstream(upper) << upper_text;
  std::ofstream(dir + "/out.bed") << want.bed;
  ASSERT_EQ(std::system(("cd " + dir + " && bedtools maskfasta -soft -fullHeader -fi upper.fa " +
                         "-bed out.bed -fo masked.fa && bedtools getfasta -fi upper.fa -bed " +
                         "out.bed -tab > letters.tsv")
                            .c_str()),
            0);
  EXPECT_EQ(Rewrapped(ReadFile(dir + "/masked.fa")), want.fasta);
  // The upper-cased genome in lines of 60, as the field's tools write FASTA: bedtools'
  // soft-masked copy of it with KESTRA's BED (which keeps its lines) equals -L of it with
  // lines of 60, byte for byte.
  std::string sixty_text;
  for (Entry& e : entries) sixty_text += Fasta(e.header, Upper(e.letters), 60);
  std::ofstream(dir + "/upper60.fa") << sixty_text;
  ASSERT_EQ(std::system(("cd " + dir + " && bedtools maskfasta -soft -fullHeader -fi upper60.fa " +
                         "-bed out.bed -fo masked60.fa")
                            .c_str()),
            0);
  const RunResult sixty = RunKestra(dir, {"../upper60.fa", "sixty", "--all-entries", "-L", "--bed",
                                          "--no-report", "--line-width", "60"});
  EXPECT_EQ(sixty.status, 0) << sixty.err;
  EXPECT_EQ(ReadFile(dir + "/work/sixty.bed"), want.bed);
  EXPECT_EQ(ReadFile(dir + "/work/sixty.fas"), ReadFile(dir + "/masked60.fa"));
  // The report's letters of each masked segment, in BED order: the block of its entry, the
  // line of its index.
  std::istringstream bed(want.bed), report(want.report), got(ReadFile(dir + "/letters.tsv"));
  std::map<std::string, std::string> letters;  // "entry index" -> letters
  std::string line, chrom;
  while (std::getline(report, line)) {
    if (line[0] == '>') chrom = line.substr(1, line.find(' ') - 1);
    int index = 0, start, end;
    char text[16];
    if (std::sscanf(line.c_str(), "%d %d %d %*d %*d %15s", &index, &start, &end, text) == 4) {
      letters[chrom + " " + std::to_string(index)] = line.substr(line.rfind(' ') + 1);
    }
  }
  std::size_t checked = 0;
  for (std::string b, g; std::getline(bed, b) && std::getline(got, g); ++checked) {
    std::istringstream fields(b);
    std::string name, start, end, index;
    fields >> name >> start >> end >> index;
    EXPECT_EQ(g.substr(g.find('\t') + 1), letters[name + " " + index]) << b;
  }
  EXPECT_GT(checked, 10u);
  fs::remove_all(dir);
}

}  // namespace
