// End-to-end behaviour of the kestra binary. The cases are data, listed in
// data/cases.txt (its header describes the format); each runs as its own test
// in a fresh directory under a frozen clock, and everything the run leaves
// behind is compared byte for byte: exit status, standard output, standard
// error, the set of files present and the contents of each output.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kData = CLI_DATA_DIR;
constexpr const char* kFaketime = "/usr/bin/faketime";
constexpr rlim_t kFileSizeLimit = 1024;  // bytes a file, under the size-limit staging

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RunResult {
  int status = -1;       // exit status; 128 + signal number when killed by one
  std::string out, err;  // everything written to standard output and standard error
};

// Runs `faketime -f '2021-03-04 05:06:07' KESTRA_BIN args...` in `dir`/work,
// standard input read from `stdin_path`, and waits for it. The streams are
// captured in `dir`, so they never show up among the run's files.
RunResult RunKestra(const std::string& dir, const std::vector<std::string>& args,
                    const std::string& stdin_path, bool limit_file_size, bool through_pipe) {
  // A sanitizer build must not insist on coming first among the preloaded
  // libraries, since faketime preloads its own. A leading ':' is skipped.
  const std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
  if (asan.find("verify_asan_link_order") == std::string::npos) {
    setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
  }
  setenv("TZ", "UTC", 1);  // the frozen clock, and so the seed it gives, read alike anywhere
  std::vector<std::string> strings = {kFaketime, "-f", "2021-03-04 05:06:07", KESTRA_BIN};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  const std::string work = dir + "/work", out_path = dir + "/stdout", err_path = dir + "/stderr";
  const struct rlimit limit = {kFileSizeLimit, kFileSizeLimit};

  // Through a pipe, standard input is fed from here while the binary runs.
  int feed[2] = {-1, -1};
  if (through_pipe && pipe(feed) != 0) return {127, "", "harness: no pipe\n"};
  const pid_t pid = fork();
  if (pid == 0) {  // the child: only async-signal-safe calls from here on
    if (through_pipe) close(feed[1]);
    const int in = through_pipe ? feed[0] : open(stdin_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(work.c_str()) != 0) {
      _exit(127);
    }
    if (limit_file_size) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (through_pipe) {
    close(feed[0]);
    signal(SIGPIPE, SIG_IGN);  // the binary may stop reading once it has the first entry
    const std::string bytes = ReadFile(stdin_path);
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t put = write(feed[1], bytes.data() + at, bytes.size() - at);
      if (put <= 0) break;
      at += static_cast<std::size_t>(put);
    }
    close(feed[1]);
  }
  int wstatus = 0;  // no handler is installed here, so the wait is never interrupted
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return {127, "", "harness: cannot run\n"};
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), ReadFile(out_path),
          ReadFile(err_path)};
}

// What a staging makes in the run directory before the run: a directory where an output
// belongs, or an earlier report that a failed run must leave as it was. "size-limit" makes
// nothing: writes stop at kFileSizeLimit bytes a file.
struct Staged {
  std::string path;
  bool directory;
};
const std::map<std::string, Staged> kStagings = {{"fasta-dir", {"out.fas", true}},
                                                 {"report-dir", {"out.seg", true}},
                                                 {"old-report", {"out.seg", false}}};
const char kOldReport[] = "an earlier report\n";

struct Case {
  std::string name;
  std::string input;  // copied to in.fa; empty for none
  std::string stdin_path = "/dev/null";
  bool through_pipe = false;  // standard input is a pipe fed with stdin_path
  std::vector<std::string> args;
  std::set<std::string> stages;
  int status = 0;
  std::string out, err;
  std::map<std::string, std::string> files;  // name in the run directory -> expected bytes
  std::string error;                         // what is wrong with the row, if anything
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string DataFile(const std::string& dir, const std::string& name) {
  const std::string path = kData + "/" + dir + "/" + name;
  if (!fs::is_regular_file(path)) throw std::runtime_error("missing file data/" + dir + "/" + name);
  return path;
}

// Text with C escapes.
std::string Unescape(const std::string& text) {
  static const std::string kFrom = "ntr0\\", kTo("\n\t\r\0\\", 5);
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    const size_t escape = i + 1 < text.size() ? kFrom.find(text[++i]) : std::string::npos;
    if (escape == std::string::npos) throw std::runtime_error("bad escape in " + text);
    bytes += kTo[escape];
  }
  return bytes;
}

// A stream column: a named text, a quoted one, @FILE, or - for nothing.
std::string Expected(const std::string& column, const std::map<std::string, std::string>& texts) {
  if (column == "-") return "";
  if (column[0] == '@') return ReadFile(DataFile("expected", column.substr(1)));
  if (column[0] == '"') return Unescape(column.substr(1, column.size() - 2));
  const auto named = texts.find(column);
  if (named == texts.end()) throw std::runtime_error("no text named " + column);
  return named->second;
}

// One row: NAME INPUT STATUS STDOUT STDERR [FILE=GOLDEN | stage=HOW]... -- ARGS...
Case ParseRow(const std::string& line, const std::map<std::string, std::string>& texts) {
  Case c;
  const size_t dashes = line.find(" -- ");
  if (dashes == std::string::npos) throw std::runtime_error("no ' -- ' before the arguments");
  std::vector<std::string> columns;  // quoted columns keep their blanks
  const std::string head = line.substr(0, dashes);
  for (size_t at = head.find_first_not_of(' '); at != std::string::npos;
       at = head.find_first_not_of(' ', at)) {
    const size_t stop = head[at] == '"' ? head.find('"', at + 1) + 1 : head.find(' ', at);
    columns.push_back(head.substr(at, stop - at));
    at = stop;
  }
  if (columns.size() < 5) throw std::runtime_error("fewer than five columns");
  c.name = columns[0];
  const std::string& input = columns[1];
  if (input[0] == '<' || input[0] == '|') {
    c.stdin_path = DataFile("input", input.substr(1));
    c.through_pipe = input[0] == '|';
  } else if (input != "-") {
    c.input = DataFile("input", input);
  }
  c.status = std::stoi(columns[2]);
  c.out = Expected(columns[3], texts);
  c.err = Expected(columns[4], texts);
  for (size_t i = 5; i < columns.size(); ++i) {
    const size_t eq = columns[i].find('=');
    if (eq == std::string::npos) throw std::runtime_error("want FILE=GOLDEN: " + columns[i]);
    const std::string key = columns[i].substr(0, eq), value = columns[i].substr(eq + 1);
    if (key == "stage") {
      if (value != "size-limit" && kStagings.count(value) == 0) {
        throw std::runtime_error("unknown stage " + value);
      }
      c.stages.insert(value);
    } else {
      c.files[key] = ReadFile(DataFile("expected", value));
    }
  }
  std::istringstream words(line.substr(dashes + 4));
  for (std::string word; words >> word;) c.args.push_back(word == "\"\"" ? "" : word);
  return c;
}

// The cases of data/cases.txt. A fault in a row makes a failing case of its own; gtest
// itself rejects a repeated or ill-formed case name.
std::vector<Case> LoadCases() {
  std::vector<Case> cases;
  std::map<std::string, std::string> texts;
  std::ifstream in(kData + "/cases.txt");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    try {
      if (line.compare(0, 5, "text ") == 0) {
        std::istringstream fields(line.substr(5));
        std::string name, text;
        fields >> name >> std::ws;
        std::getline(fields, text);
        texts[name] = Unescape(text);
      } else {
        cases.push_back(ParseRow(line, texts));
      }
    } catch (const std::exception& e) {
      cases.emplace_back().name = "malformed_row_" + std::to_string(number);
      cases.back().error = "data/cases.txt:" + std::to_string(number) + ": " + e.what();
    }
  }
  if (cases.empty()) cases.emplace_back().error = "no case in " + kData + "/cases.txt";
  return cases;
}

// The entries of a directory, a directory's name followed by '/' and a link's
// by its target, so that a staged entry the run replaced shows.
std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    names.insert(entry.is_symlink()     ? name + " -> " + fs::read_symlink(entry).string()
                 : entry.is_directory() ? name + "/"
                                        : name);
  }
  return names;
}

// A fresh directory for the captured streams, with the run directory work/ in it.
std::string RunDirectory() {
  std::string pattern = ::testing::TempDir() + "kestra_cli_XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("no directory " + pattern);
  fs::create_directory(pattern + "/work");
  return pattern;
}

class Kestra : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(kFaketime, X_OK), 0)
        << kFaketime << " (Debian package faketime) is needed to freeze the clock";
    ASSERT_EQ(access(KESTRA_BIN, X_OK), 0) << "the binary under test is missing: " << KESTRA_BIN;
    dir_ = RunDirectory();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_;  // holds the run directory and the captured streams
};

TEST_P(Kestra, Case) {
  const Case& c = GetParam();
  ASSERT_EQ(c.error, "") << "malformed manifest";
  const std::string work = dir_ + "/work/";
  std::set<std::string> expected_files;
  for (const auto& file : c.files) expected_files.insert(file.first);
  if (!c.input.empty()) {
    fs::copy_file(c.input, work + "in.fa");
    expected_files.insert("in.fa");
  }
  for (const std::string& stage : c.stages) {
    const auto staged = kStagings.find(stage);
    if (staged == kStagings.end()) continue;
    const Staged& s = staged->second;
    if (s.directory) {
      fs::create_directory(work + s.path);
    } else {
      std::ofstream(work + s.path) << kOldReport;
    }
    expected_files.insert(s.path + (s.directory ? "/" : ""));
  }
  const bool limited = c.stages.count("size-limit") != 0;

  const RunResult run = RunKestra(dir_, c.args, c.stdin_path, limited, c.through_pipe);

  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(Listing(work), expected_files);
  for (const auto& [name, golden] : c.files) EXPECT_EQ(ReadFile(work + name), golden) << name;
  if (c.stages.count("old-report") != 0) {
    EXPECT_EQ(ReadFile(work + "out.seg"), kOldReport);
  }
}

// A stretch far poorer in special residues than the rest is not significant: an 80 % AT
// sequence with a 3 kb island of 30 % AT, windows of 1000 over A and T. No segment reaches
// into the island and none of its letters is masked.
TEST(Scores, DepletedIslandIsNotASegment) {
  const std::string dir = RunDirectory();
  const int kLength = 103000, kIslandFrom = 50001, kIslandTo = 53000;  // 1-based, inclusive
  std::string seq;
  for (unsigned i = 1, state = 12345; i <= kLength; ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned at_percent = i >= kIslandFrom && i <= kIslandTo ? 30 : 80;
    const unsigned roll = (state >> 8) % 100;
    seq += roll < at_percent ? "AT"[roll % 2] : "GC"[roll % 2];
  }
  std::ofstream(dir + "/work/in.fa") << ">island\n" << seq << "\n";
  const RunResult run = RunKestra(dir, {"in.fa", "out", "-R:AT", "-W:1000", "-F", "-M:0.01"},
                                  "/dev/null", false, false);
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream report(ReadFile(dir + "/work/out.seg"));
  for (std::string line; std::getline(report, line);) {
    int index, start, end;
    if (std::sscanf(line.c_str(), "%d %d %d ", &index, &start, &end) != 3) continue;
    EXPECT_TRUE(end < kIslandFrom || start > kIslandTo) << line.substr(0, 60);
  }
  std::istringstream fasta(ReadFile(dir + "/work/out.fas"));
  std::string masked, line;
  while (std::getline(fasta, line)) masked += line[0] == '>' ? "" : line;
  ASSERT_EQ(masked.size(), seq.size());
  EXPECT_EQ(masked.substr(kIslandFrom - 1, kIslandTo - kIslandFrom + 1),
            seq.substr(kIslandFrom - 1, kIslandTo - kIslandFrom + 1));
  fs::remove_all(dir);
}

// SIGTERM during random estimation: the run stops as the signal asks, removes its temporary
// outputs, and the earlier report stays as it was.
TEST(Interrupt, TerminatedRunLeavesNoPartialFile) {
  std::string dir = ::testing::TempDir() + "kestra_interrupt_XXXXXX";
  ASSERT_NE(mkdtemp(&dir[0]), nullptr);
  std::ofstream(dir + "/out.seg") << kOldReport;
  const std::string genome = kData + "/../../../examples/lambda.fa";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0 || !freopen("/dev/null", "w", stdout)) _exit(127);
    execl(KESTRA_BIN, KESTRA_BIN, genome.c_str(), "out", "-S:100000000", "-F", nullptr);
    _exit(127);
  }
  // Wait until both temporary files exist, that is, until estimation is under way.
  for (int tries = 0; tries < 1000 && Listing(dir).size() < 3; ++tries) usleep(10000);
  EXPECT_EQ(Listing(dir).size(), 3u) << "temporary outputs never appeared";
  kill(pid, SIGTERM);
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGTERM);
  EXPECT_EQ(Listing(dir), std::set<std::string>{"out.seg"});
  EXPECT_EQ(ReadFile(dir + "/out.seg"), kOldReport);
  fs::remove_all(dir);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }
INSTANTIATE_TEST_SUITE_P(, Kestra, ::testing::ValuesIn(LoadCases()), CaseName);

}  // namespace
