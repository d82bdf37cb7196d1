// The library against the command: sequences analysed in memory give the command's --table
// --all-segments rows, and masks as its -L and -F; whole files read on 1 and 2 threads give
// its --all-entries table; options it refuses throw with the words it prints.
#include <gtest/gtest.h>
#include <kestra/kestra.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

const std::string kData = CLI_DATA_DIR;
using Args = std::vector<std::string>;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A fresh directory inside the tests' own, which is removed when they end.
std::string TempDir() {
  static const struct Root {
    std::string path =
        std::filesystem::path(mkdtemp(&std::string("/tmp/kestra_library_XXXXXX")[0]));
    ~Root() { std::filesystem::remove_all(path); }
  } root;
  static int made = 0;
  const std::string dir = root.path + "/" + std::to_string(made++);
  std::filesystem::create_directory(dir);
  return dir;
}

// Runs the command on `input` with `args` in `dir`; what it said on both streams.
std::string RunCommand(const std::string& dir, const std::string& input, const Args& args) {
  std::string cmd =
      "cd " + Quoted(dir) + " && " + Quoted(KESTRA_BIN) + " " + Quoted(input) + " out";
  for (const std::string& a : args) cmd += " " + Quoted(a);
  if (std::system((cmd + " >said.txt 2>&1").c_str()) == -1) throw std::runtime_error("system");
  return ReadText(dir + "/said.txt");
}

// The text after the first line of what the command writes to the file `out[1]` names, run
// with `args` then `out`, without a report.
std::string CommandOutput(const std::string& input, Args args, const Args& out) {
  const std::string dir = TempDir();
  args.insert(args.end(), out.begin(), out.end());
  args.insert(args.end(), {"--no-report", "--quiet"});
  RunCommand(dir, input, args);
  const std::string text = ReadText(dir + "/" + out[1]);
  return text.substr(text.find('\n') + 1);
}

// The table rows the command writes for `args`.
std::string CommandTable(const std::string& input, const Args& args) {
  return CommandOutput(input, args, {"--table-out", "t.tsv", "--all-segments"});
}

std::string Rows(const std::string& name, const kestra::Result& r) {
  std::string rows;
  for (const kestra::Segment& s : r.segments) {
    char line[256];
    std::snprintf(line, sizeof line, "%s\t%lld\t%lld\t%lld\t%lld\t%.6e\t%d\n", name.c_str(),
                  static_cast<long long>(s.start), static_cast<long long>(s.end),
                  static_cast<long long>(s.length), static_cast<long long>(s.special), s.p_value,
                  s.masked ? 1 : 0);
    rows += line;
  }
  return rows;
}

// A letters' file in a fresh directory, where the command then runs.
std::string WriteInput(const std::string& letters) {
  const std::string input = TempDir() + "/in.fa";
  std::ofstream(input) << ">s\n" << letters << "\n";
  return input;
}

// A few of the command's switches as options: the rows and both masks of each case as the
// command's table and -L and -F copies (but without merging, where the command masks
// nothing), also for letters read where they lie, in a buffer that holds more after them.
// (Python's tests hold every golden case to the command; these run in every build.)
TEST(Library, AnalyseAndMaskGiveTheCommandsTableAndMasks) {
  using Set = void (*)(kestra::Options*);
  const std::string seq19 = "GAAATCGCAATAAGCTCGA";
  const std::tuple<std::string, Args, Set> cases[] = {
      {seq19, {"-M:0.6"}, [](kestra::Options* o) { o->mask_p = 0.6; }},
      {seq19,
       {"-N", "-W:10", "-P:0.9"},
       [](kestra::Options* o) { o->merge = false, o->window = 10, o->window_p = 0.9; }},
      {seq19,
       {"-S:50", "-E:1", "--seed", "7"},
       [](kestra::Options* o) { o->shuffles = 50, o->linkage = 1, o->seed = 7; }},
      {"acgTTAAGaaatcgcAATAAgctcGAc",
       {"-R:GC", "--keep-case", "-M:1.1"},
       [](kestra::Options* o) { o->residues = "GC", o->keep_case = true, o->mask_p = 1.1; }},
      {seq19 + "TTTTAAAAACCA",
       {"-K", "-A:0.4", "-T:0.4", "-G:0.1", "-C:0.1"},
       [](kestra::Options* o) {
         o->estimate_linkage = true;
         for (int i = 0; i < 4; ++i) o->frequencies[i] = i < 2 ? 0.4 : 0.1;
       }},
  };
  for (const auto& [letters, args, set] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    kestra::Options options;
    set(&options);
    const kestra::Result r = kestra::Analyse(letters, options);
    const std::string input = WriteInput(letters), more = letters + "GGGGAAAAAAAA";
    EXPECT_EQ(Rows("s", r), CommandTable(input, args));
    EXPECT_EQ(Rows("s", kestra::AnalyseLetters(more.data(), letters.size(), options)),
              Rows("s", r));
    for (const auto masking : {kestra::Masking::kSoft, kestra::Masking::kHard}) {
      if (!options.merge) break;
      Args masked = args;
      masked.push_back(masking == kestra::Masking::kHard ? "-F" : "-L");
      const std::string fasta =
          CommandOutput(input, masked, {"--fasta-out", "m.fas", "--line-width", "0"});
      EXPECT_EQ(kestra::Mask(letters, r, masking, options), fasta.substr(0, fasta.find('\n')))
          << masked.back();
    }
  }
}

TEST(Library, ReadGivesTheCommandsAllEntriesTableOnOneAndTwoThreads) {
  for (const char* file : {"seq19_multi.fa", "bed_names.fa", "bed_names.fq", "bed_names.fq.zst",
                           "long3000.fa.bgz", "long3000_two_members.fa.gz", "mixed.fa"}) {
    const std::string input = kData + "/input/" + file;
    const std::string table = CommandTable(input, {"--all-entries"});
    // The name, letters and status columns of the command's table of entries.
    std::istringstream summary(CommandOutput(input, {"--all-entries"}, {"--summary-out", "s.tsv"}));
    std::string entries;
    for (std::string line; std::getline(summary, line);) {
      entries += line.substr(0, line.find('\t', line.find('\t') + 1)) +
                 line.substr(line.rfind('\t')) + "\n";
    }
    for (int threads : {1, 2}) {
      SCOPED_TRACE(std::string(file) + " on " + std::to_string(threads));
      // Rows of every entry read, and each entry's name, letters and status.
      std::string rows, read;
      kestra::Read(
          input,
          [&](kestra::Entry&& e) {
            rows += Rows(e.name, e.result);
            read += e.name + "\t" + std::to_string(e.length) + "\t" +
                    (e.skipped ? "skipped" : "analysed") + "\n";
          },
          {}, threads);
      EXPECT_EQ(rows, table);
      EXPECT_EQ(read, entries);
    }
  }
}

// The words a call throws, or "" when it throws nothing.
template <class Call>
std::string Thrown(Call call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// The refusals Python's tests leave out: a seed past the largest, in the command's words, and
// no thread to read on.
TEST(Library, RefusesWhatTheCommandRefusesInItsWords) {
  kestra::Options options;
  options.seed = 99999999999;
  const std::string words = Thrown([&] { kestra::Analyse("ACGTA", options); });
  const std::string input = WriteInput("ACGTA");
  EXPECT_FALSE(words.empty());
  EXPECT_NE(
      RunCommand(input.substr(0, input.rfind('/')), input, {"--seed", "99999999999"}).find(words),
      std::string::npos)
      << words;
  EXPECT_EQ(Thrown([] {
              kestra::Read(
                  kData + "/input/seq19.fa", [](kestra::Entry&&) {}, {}, 0);
            }),
            "ERROR: invalid value in argument '--threads 0'");
}

}  // namespace
