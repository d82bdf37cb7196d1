// The library against the command: every golden single-entry case of the end-to-end tests
// analysed in memory gives the command's --table --all-segments rows, and masks as its -L and
// -F; whole files read on 1 and 2 threads give its --all-entries table; options and
// sequences it refuses throw with the words it prints.
#include <gtest/gtest.h>
#include <kestra/kestra.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
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

// The first entry of a plain FASTA file that starts with a header: its name and its letters.
std::pair<std::string, std::string> FirstEntry(const std::string& path) {
  std::istringstream in(ReadText(path));
  std::string header, letters;
  std::getline(in, header);
  for (std::string line; std::getline(in, line) && line[0] != '>';) letters += line;
  return {header.substr(1, header.find_first_of(" \t\r") - 1), letters};
}

// A switch of the command as an option: false for one the library has no option for.
bool ApplySwitch(const std::string& arg, kestra::Options* o) {
  if (arg.size() < 2 || arg[0] != '-' || (arg.size() > 2 && arg[2] != ':')) return false;
  const std::string value = arg.size() > 3 ? arg.substr(3) : "";
  char* end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  const bool numeric = !value.empty() && *end == '\0';
  const int frequency = std::string("ATGC").find(arg[1]);
  // clang-format off
  switch (arg[1]) {
    case 'N': o->merge = false; return arg.size() == 2;
    case 'K': o->estimate_linkage = true; return arg.size() == 2;
    case 'F': case 'L': return arg.size() == 2;
    case 'R': o->residues = value; return !value.empty();
    case 'W': o->window = static_cast<int>(number); break;
    case 'E': o->linkage = static_cast<int>(number); break;
    case 'P': o->window_p = number; break;
    case 'M': o->mask_p = number; break;
    case 'S': o->shuffles = static_cast<int>(number); break;
    case 'B': o->generated = static_cast<int>(number); break;
    case 'A': case 'T': case 'G': case 'C': o->frequencies[frequency] = number; break;
    default: return false;
  }
  // clang-format on
  return numeric;
}

// The command's arguments as options: false for one the library has no option for. The
// long options but --seed and --keep-case are taken only when `all`.
bool ApplyArgs(const Args& args, kestra::Options* o, bool all) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool valued = i + 1 < args.size();
    if (a == "--seed" && valued) {
      o->seed = std::atoll(args[++i].c_str());
    } else if (a == "--keep-case") {
      o->keep_case = true;
    } else if (all && a == "--mask-evalue" && valued) {
      o->mask_evalue = std::atof(args[++i].c_str());
    } else if (all && a == "--background" && valued) {
      o->background = args[++i];
    } else if (!(all && a == "--strict") && !ApplySwitch(a, o)) {
      return false;
    }
  }
  return true;
}

// A golden case that the command runs on one plain FASTA entry with switches the options
// stand for, and ends well.
struct GoldenCase {
  std::string name, input;
  Args args;
  kestra::Options options;
};

std::vector<GoldenCase> SingleEntryCases() {
  std::vector<GoldenCase> cases;
  std::istringstream manifest(ReadText(kData + "/cases.txt"));
  for (std::string line; std::getline(manifest, line);) {
    const std::size_t dashes = line.rfind(" -- ");
    if (line.empty() || line[0] == '#' || dashes == std::string::npos) continue;
    std::istringstream head(line.substr(0, dashes)), tail(line.substr(dashes + 4));
    GoldenCase c;
    std::string status, in, out;
    head >> c.name >> c.input >> status;
    tail >> in >> out;
    for (std::string arg; tail >> arg;) c.args.push_back(arg);
    if (status != "0" || in != "in.fa" || out != "out" || c.input.size() < 4 ||
        c.input.compare(c.input.size() - 3, 3, ".fa") != 0 || c.input[0] == '<' ||
        c.input[0] == '|' || !ApplyArgs(c.args, &c.options, false)) {
      continue;
    }
    c.input = kData + "/input/" + c.input;
    if (FirstEntry(c.input).second.empty()) continue;
    // The random sequences of -S and -B drawn the same way by both.
    if ((c.options.shuffles > 0 || c.options.generated > 0) && c.options.seed == 0) {
      c.options.seed = 7;
      c.args.insert(c.args.end(), {"--seed", "7"});
    }
    cases.push_back(c);
  }
  return cases;
}

// Each case's rows as the command's table, and its soft and hard masks as the command's -L
// and -F copies (but without merging, where the command masks nothing).
TEST(Library, AnalyseAndMaskGiveTheCommandsTableAndMasksOnEveryGoldenCase) {
  const std::vector<GoldenCase> cases = SingleEntryCases();
  ASSERT_GE(cases.size(), 20u);
  int masks = 0;
  for (const GoldenCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto entry = FirstEntry(c.input);
    kestra::Result r;
    try {
      r = kestra::Analyse(entry.second, c.options);
      // The letters where they lie, in a buffer that holds more after them.
      const std::string more = entry.second + "GGGGAAAAAAAA";
      const kestra::Result there =
          kestra::AnalyseLetters(more.data(), entry.second.size(), c.options);
      EXPECT_EQ(Rows(entry.first, there), Rows(entry.first, r));
    } catch (const std::invalid_argument& e) {
      // A switch read otherwise than it is written, refused as --strict refuses it.
      Args strict = c.args;
      strict.push_back("--strict");
      EXPECT_NE(RunCommand(TempDir(), c.input, strict).find(e.what()), std::string::npos)
          << e.what();
      continue;
    }
    Args args = c.args;  // the case's switches but those that mask
    args.erase(
        std::remove_if(args.begin(), args.end(), [](auto& a) { return a == "-F" || a == "-L"; }),
        args.end());
    EXPECT_EQ(Rows(entry.first, r), CommandTable(c.input, args));
    for (const auto masking : {kestra::Masking::kSoft, kestra::Masking::kHard}) {
      if (!c.options.merge) break;
      args.push_back(masking == kestra::Masking::kHard ? "-F" : "-L");
      // The letters of the command's masked copy, on one line.
      const std::string fasta =
          CommandOutput(c.input, args, {"--fasta-out", "m.fas", "--line-width", "0"});
      EXPECT_EQ(kestra::Mask(entry.second, r, masking, c.options),
                fasta.substr(0, fasta.find('\n')))
          << args.back();
      args.pop_back();
      ++masks;
    }
  }
  EXPECT_GE(masks, 20);
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

// The same arguments given to the command and, as options, to the library.
TEST(Library, RefusesWhatTheCommandRefusesInItsWords) {
  const std::pair<const char*, Args> cases[] = {{"ACGTA", {"-A:1.5"}},
                                                {"ACGTA", {"-A:0.3", "-T:0.3", "-G:0.3", "-C:0.3"}},
                                                {"ACGTA", {"-W:10", "-S:5"}},
                                                {"ACGTA", {"-N"}},
                                                {"ACGTA", {"-M:0.1", "--mask-evalue", "1"}},
                                                {"ACGTA", {"--seed", "-1"}},
                                                {"ACGTA", {"--seed", "99999999999"}},
                                                {"ACGTA", {"--mask-evalue", "-1"}},
                                                {"ACGTA", {"-R:xz", "--strict"}},
                                                {"ACGTA", {"-W:40"}},
                                                {"NNNN", {}},
                                                {"CCGG", {"-K"}},
                                                {"ACGTA", {"--background", "/nonexistent.fa"}}};
  const std::string dir = TempDir();
  for (const auto& [letters, args] : cases) {
    kestra::Options options;
    ASSERT_TRUE(ApplyArgs(args, &options, true)) << letters;
    const std::string words = Thrown([&] { kestra::Analyse(letters, options); });
    std::ofstream(dir + "/in.fa") << ">s\n" << letters << "\n";
    const std::string said = RunCommand(dir, dir + "/in.fa", args);
    SCOPED_TRACE(said);
    EXPECT_FALSE(words.empty());
    EXPECT_NE(said.find(words), std::string::npos) << words;
  }
  EXPECT_NE(Thrown([] { kestra::Read("/nonexistent.fa", [](kestra::Entry&&) {}); }), "");
  EXPECT_EQ(Thrown([] {
              kestra::Read(
                  kData + "/input/seq19.fa", [](kestra::Entry&&) {}, {}, 0);
            }),
            "ERROR: invalid value in argument '--threads 0'");
}

// The example of examples/library.cpp prints the rows of the masked segments.
TEST(Library, ExamplePrintsTheMaskedRows) {
  const std::string input = KESTRA_LAMBDA, dir = TempDir();
  const std::string cmd = Quoted(KESTRA_EXAMPLE) + " " + Quoted(input) + " 2 >" + dir + "/ex.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::istringstream table(CommandTable(input, {"--all-entries"}));
  std::string expected;
  for (std::string line; std::getline(table, line);) {
    if (line.compare(line.size() - 2, 2, "\t1") == 0)
      expected += line.substr(0, line.size() - 2) + "\n";
  }
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(ReadText(dir + "/ex.txt"), expected);
}

}  // namespace
