// The library against the command: every golden single-entry case of the end-to-end tests
// analysed in memory gives the command's --table --all-segments rows, and masks as its -L and
// -F; whole files read on 1 and 2 threads give its --all-entries table; options and
// sequences it refuses throw with the words it prints.
#include <gtest/gtest.h>
#include <kestra/kestra.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string kData = CLI_DATA_DIR;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A directory of the test's own, removed when the tests end.
struct Made {
  std::vector<std::string> dirs;
  ~Made() {
    for (const std::string& d : dirs) std::filesystem::remove_all(d);
  }
} made;
std::string TempDir() {
  char dir[] = "/tmp/kestra_library_XXXXXX";
  if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp");
  made.dirs.push_back(dir);
  return dir;
}

// Runs the command on `input` with `args` in `dir`; what it said on both streams.
std::string RunCommand(const std::string& dir, const std::string& input,
                       const std::vector<std::string>& args) {
  std::string cmd = "cd " + Quoted(dir) + " && " + Quoted(KESTRA_BIN) + " " + Quoted(input) + " out";
  for (const std::string& a : args) cmd += " " + Quoted(a);
  cmd += " >said.txt 2>&1";
  if (std::system(cmd.c_str()) == -1) throw std::runtime_error("system");
  return ReadText(dir + "/said.txt");
}

// The table rows the command writes for `args` (its header line left out).
std::string CommandTable(const std::string& input, std::vector<std::string> args) {
  const std::string dir = TempDir();
  for (const char* a : {"--table-out", "t.tsv", "--all-segments", "--no-report", "--quiet"}) {
    args.push_back(a);
  }
  RunCommand(dir, input, args);
  std::string table = ReadText(dir + "/t.tsv");
  return table.substr(table.find('\n') + 1);
}

// The letters of the command's masked copy, on one line.
std::string CommandMask(const std::string& input, std::vector<std::string> args) {
  const std::string dir = TempDir();
  for (const char* a : {"--fasta-out", "m.fas", "--line-width", "0", "--no-report", "--quiet"}) {
    args.push_back(a);
  }
  RunCommand(dir, input, args);
  std::istringstream fasta(ReadText(dir + "/m.fas"));
  std::string header, letters;
  std::getline(fasta, header);
  std::getline(fasta, letters);
  return letters;
}

std::string Row(const std::string& name, const kestra::Segment& s) {
  char line[256];
  std::snprintf(line, sizeof line, "%s\t%lld\t%lld\t%lld\t%lld\t%.6e\t%d\n", name.c_str(),
                static_cast<long long>(s.start), static_cast<long long>(s.end),
                static_cast<long long>(s.length), static_cast<long long>(s.special), s.p_value,
                s.masked ? 1 : 0);
  return line;
}

std::string Rows(const std::string& name, const kestra::Result& r) {
  std::string rows;
  for (const kestra::Segment& s : r.segments) rows += Row(name, s);
  return rows;
}

// The first entry of a plain FASTA file: its name and its lines of letters.
std::pair<std::string, std::string> FirstEntry(const std::string& path) {
  std::istringstream in(ReadText(path));
  std::string line, header, letters;
  while (std::getline(in, line)) {
    if (line.rfind('>', 0) == 0) {
      if (!header.empty()) break;
      header = line.substr(1);
      continue;
    }
    letters += line;
  }
  return {header.substr(0, header.find_first_of(" \t\r")), letters};
}

// A switch of the command as an option: false for one the library has no option for.
bool ApplySwitch(const std::string& arg, kestra::Options* o) {
  if (arg.size() < 2 || arg[0] != '-' || (arg.size() > 2 && arg[2] != ':')) return false;
  const std::string value = arg.size() > 3 ? arg.substr(3) : "";
  char* end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  const bool numeric = !value.empty() && *end == '\0';
  const int frequency = std::string("ATGC").find(arg[1]);
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
  return numeric;
}

// A golden case that the command runs on one plain FASTA entry with switches the options
// stand for, and ends well.
struct GoldenCase {
  std::string name, input;
  std::vector<std::string> args;
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
    if (status != "0" || in != "in.fa" || out != "out" || c.input.size() < 4 ||
        c.input.compare(c.input.size() - 3, 3, ".fa") != 0 || c.input[0] == '<' || c.input[0] == '|') {
      continue;
    }
    bool usable = true;
    for (std::string arg; tail >> arg;) {
      if (arg == "--seed" && tail >> arg) {
        c.options.seed = std::atoll(arg.c_str());
        c.args.insert(c.args.end(), {"--seed", arg});
      } else if (arg == "--keep-case") {
        c.options.keep_case = true;
        c.args.push_back(arg);
      } else if (ApplySwitch(arg, &c.options)) {
        c.args.push_back(arg);
      } else {
        usable = false;
      }
    }
    c.input = kData + "/input/" + c.input;
    if (!usable || FirstEntry(c.input).second.empty()) continue;
    // The random sequences of -S and -B drawn the same way by both.
    if ((c.options.shuffles > 0 || c.options.generated > 0) && c.options.seed == 0) {
      c.options.seed = 7;
      c.args.insert(c.args.end(), {"--seed", "7"});
    }
    cases.push_back(c);
  }
  return cases;
}

// The switches of a case but those that mask.
std::vector<std::string> WithoutMasking(const std::vector<std::string>& args) {
  std::vector<std::string> kept;
  for (const std::string& a : args) {
    if (a != "-F" && a != "-L") kept.push_back(a);
  }
  return kept;
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
      std::vector<std::string> strict = c.args;
      strict.push_back("--strict");
      EXPECT_NE(RunCommand(TempDir(), c.input, strict).find(e.what()), std::string::npos)
          << e.what();
      continue;
    }
    EXPECT_EQ(Rows(entry.first, r), CommandTable(c.input, WithoutMasking(c.args)));
    for (const char* style : {"-L", "-F"}) {
      if (!c.options.merge) break;
      std::vector<std::string> args = WithoutMasking(c.args);
      args.push_back(style);
      const kestra::Masking masking =
          style[1] == 'F' ? kestra::Masking::kHard : kestra::Masking::kSoft;
      EXPECT_EQ(kestra::Mask(entry.second, r, masking, c.options), CommandMask(c.input, args))
          << style;
      ++masks;
    }
  }
  EXPECT_GE(masks, 20);
}

// Rows of every entry read, and each entry's name, letters and status as the table of entries
// shows them.
std::pair<std::string, std::string> ReadTables(const std::string& path, int threads) {
  std::string rows, entries;
  kestra::Read(
      path,
      [&](kestra::Entry&& e) {
        rows += Rows(e.name, e.result);
        entries += e.name + "\t" + std::to_string(e.length) + "\t" +
                   (e.skipped ? "skipped" : "analysed") + "\n";
      },
      {}, threads);
  return {rows, entries};
}

// The name, letters and status columns of the command's table of entries.
std::string CommandEntries(const std::string& input) {
  const std::string dir = TempDir();
  RunCommand(dir, input, {"--all-entries", "--summary-out", "s.tsv", "--no-report", "--quiet"});
  std::istringstream summary(ReadText(dir + "/s.tsv"));
  std::string line, out;
  std::getline(summary, line);
  while (std::getline(summary, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string f; std::getline(cells, f, '\t');) fields.push_back(f);
    out += fields[0] + "\t" + fields[1] + "\t" + fields.back() + "\n";
  }
  return out;
}

TEST(Library, ReadGivesTheCommandsAllEntriesTableOnOneAndTwoThreads) {
  for (const char* file : {"seq19_multi.fa", "bed_names.fa", "bed_names.fq", "bed_names.fq.zst",
                           "long3000.fa.bgz", "long3000_two_members.fa.gz", "mixed.fa"}) {
    const std::string input = kData + "/input/" + file;
    const std::string table = CommandTable(input, {"--all-entries"});
    const std::string entries = CommandEntries(input);
    for (int threads : {1, 2}) {
      SCOPED_TRACE(std::string(file) + " on " + std::to_string(threads));
      const auto read = ReadTables(input, threads);
      EXPECT_EQ(read.first, table);
      EXPECT_EQ(read.second, entries);
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

TEST(Library, RefusesWhatTheCommandRefusesInItsWords) {
  struct Case {
    const char* letters;
    void (*set)(kestra::Options*);
    std::vector<std::string> args;  // the command's for the same
  };
  const Case cases[] = {
      {"ACGTA", [](kestra::Options* o) { o->frequencies[0] = 1.5; }, {"-A:1.5"}},
      {"ACGTA", [](kestra::Options* o) { for (auto& f : o->frequencies) f = 0.3; },
       {"-A:0.3", "-T:0.3", "-G:0.3", "-C:0.3"}},
      {"ACGTA", [](kestra::Options* o) { o->window = 10; o->shuffles = 5; }, {"-W:10", "-S:5"}},
      {"ACGTA", [](kestra::Options* o) { o->merge = false; }, {"-N"}},
      {"ACGTA", [](kestra::Options* o) { o->mask_p = 0.1; o->mask_evalue = 1; },
       {"-M:0.1", "--mask-evalue", "1"}},
      {"ACGTA", [](kestra::Options* o) { o->seed = -1; }, {"--seed", "-1"}},
      {"ACGTA", [](kestra::Options* o) { o->seed = 99999999999; }, {"--seed", "99999999999"}},
      {"ACGTA", [](kestra::Options* o) { o->mask_evalue = -1; }, {"--mask-evalue", "-1"}},
      {"ACGTA", [](kestra::Options* o) { o->residues = "xz"; }, {"-R:xz", "--strict"}},
      {"ACGTA", [](kestra::Options* o) { o->window = 40; }, {"-W:40"}},
      {"NNNN", [](kestra::Options*) {}, {}},
      {"CCGG", [](kestra::Options* o) { o->estimate_linkage = true; }, {"-K"}},
      {"ACGTA", [](kestra::Options* o) { o->background = "/nonexistent.fa"; },
       {"--background", "/nonexistent.fa"}},
  };
  const std::string dir = TempDir();
  for (const Case& c : cases) {
    kestra::Options options;
    c.set(&options);
    const std::string words = Thrown([&] { kestra::Analyse(c.letters, options); });
    std::ofstream(dir + "/in.fa") << ">s\n" << c.letters << "\n";
    const std::string said = RunCommand(dir, dir + "/in.fa", c.args);
    SCOPED_TRACE(said);
    EXPECT_FALSE(words.empty());
    EXPECT_NE(said.find(words), std::string::npos) << words;
  }
  EXPECT_NE(Thrown([] { kestra::Read("/nonexistent.fa", [](kestra::Entry&&) {}); }), "");
  EXPECT_EQ(Thrown([] { kestra::Read(kData + "/input/seq19.fa", [](kestra::Entry&&) {}, {}, 0); }),
            "ERROR: invalid value in argument '--threads 0'");
}

// The example of examples/library.cpp prints the rows of the masked segments.
TEST(Library, ExamplePrintsTheMaskedRows) {
  const std::string input = KESTRA_LAMBDA;
  const std::string dir = TempDir();
  const std::string cmd = Quoted(KESTRA_EXAMPLE) + " " + Quoted(input) + " 2 >" + dir + "/ex.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::istringstream table(CommandTable(input, {"--all-entries"}));
  std::string expected;
  for (std::string line; std::getline(table, line);) {
    if (line.compare(line.size() - 2, 2, "\t1") == 0) expected += line.substr(0, line.size() - 2) + "\n";
  }
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(ReadText(dir + "/ex.txt"), expected);
}

}  // namespace
