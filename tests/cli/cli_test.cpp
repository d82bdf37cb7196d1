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

#include <cmath>
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
  std::set<std::string> keys;                // the keys given, to find repeated or missing ones
  std::string error;                         // what is wrong with the block, if anything
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string DataFile(const std::string& dir, const std::string& name) {
  const std::string path = kData + "/" + dir + "/" + name;
  if (!fs::is_regular_file(path)) throw std::runtime_error("missing file data/" + dir + "/" + name);
  return path;
}

// Text with C escapes, or @NAME for the contents of data/expected/NAME.
std::string Expected(const std::string& text) {
  if (!text.empty() && text[0] == '@') return ReadFile(DataFile("expected", text.substr(1)));
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

void Apply(const std::string& key, const std::string& value, Case& c) {
  std::istringstream words(value);
  std::string word, golden;
  if (key != "file" && !c.keys.insert(key).second) throw std::runtime_error("repeated " + key);
  if (key == "input" || key == "stdin" || key == "pipe") {
    (key == "input" ? c.input : c.stdin_path) = DataFile("input", value);
    c.through_pipe = key == "pipe";
  } else if (key == "args") {
    while (words >> word) c.args.push_back(word == "\"\"" ? "" : word);
  } else if (key == "stage") {
    while (words >> word) {
      if (word != "size-limit" && kStagings.count(word) == 0) {
        throw std::runtime_error("unknown stage " + word);
      }
      c.stages.insert(word);
    }
  } else if (key == "status") {
    if (!(words >> c.status) || !words.eof()) throw std::runtime_error("bad status " + value);
  } else if (key == "stdout" || key == "stderr") {
    (key == "stdout" ? c.out : c.err) = Expected(value);
  } else if (key == "file") {
    if (!(words >> word >> golden) || !words.eof() || c.files.count(word) != 0) {
      throw std::runtime_error("want one 'file NAME GOLDEN' a name, got: " + value);
    }
    c.files[word] = ReadFile(DataFile("expected", golden));
  } else {
    throw std::runtime_error("unknown key " + key);
  }
}

// The cases of data/cases.txt. A fault in a block fails that case; faults
// before the first block make a case of their own. gtest itself rejects a
// repeated or ill-formed case name.
std::vector<Case> LoadCases() {
  std::vector<Case> cases;
  std::ifstream in(kData + "/cases.txt");
  std::string line, key, value;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream fields(line);
    value.clear();
    if (!(fields >> key) || key[0] == '#') continue;
    std::getline(fields >> std::ws, value);
    try {
      if (key == "case") {
        cases.emplace_back().name = value;
        if (value.empty()) throw std::runtime_error("a case without a name");
      } else if (cases.empty()) {
        throw std::runtime_error(key + " before the first case");
      } else {
        Apply(key, value, cases.back());
      }
    } catch (const std::exception& e) {
      if (cases.empty()) cases.emplace_back();
      cases.back().error += "data/cases.txt:" + std::to_string(number) + ": " + e.what() + "\n";
    }
  }
  if (cases.empty()) cases.emplace_back().error = "no case in " + kData + "/cases.txt";
  for (Case& c : cases) {
    for (const char* required : {"args", "status", "stdout", "stderr"}) {
      if (c.keys.count(required) == 0 && c.error.empty()) c.error = c.name + ": no " + required;
    }
    if (c.name.empty()) c.name = "malformed_manifest";
  }
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

class Kestra : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(kFaketime, X_OK), 0)
        << kFaketime << " (Debian package faketime) is needed to freeze the clock";
    ASSERT_EQ(access(KESTRA_BIN, X_OK), 0) << "the binary under test is missing: " << KESTRA_BIN;
    std::string pattern = ::testing::TempDir() + "kestra_cli_XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << pattern;
    dir_ = pattern;
    fs::create_directory(dir_ + "/work");
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

// Random estimation under a frozen clock: the generator's seed comes from the clock, so two
// runs give the same report, and every empirical p-value is a fraction of the N sequences.
TEST(RandomEstimation, FrozenClockRunsAgreeAndCountSequences) {
  const std::string genome = kData + "/../../../examples/lambda.fa";
  for (const std::string mode : {"-S:200", "-B:200"}) {
    std::string reports[2];
    for (std::string& report : reports) {
      std::string pattern = ::testing::TempDir() + "kestra_random_XXXXXX";
      ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
      fs::create_directory(pattern + "/work");
      const RunResult run = RunKestra(pattern, {genome, "out", mode, "-E:1"}, "/dev/null", false, false);
      EXPECT_EQ(run.status, 0) << mode << run.err;
      report = ReadFile(pattern + "/work/out.seg");
      fs::remove_all(pattern);
    }
    EXPECT_EQ(reports[0], reports[1]) << mode;
    std::istringstream lines(reports[0]);
    std::string line;
    int segments = 0;
    while (std::getline(lines, line)) {
      int index, start, end, len, n;
      double p;
      if (std::sscanf(line.c_str(), "%d %d %d %d %d %lf", &index, &start, &end, &len, &n, &p) != 6) {
        continue;
      }
      ++segments;
      EXPECT_NEAR(p * 200, std::round(p * 200), 1e-6) << mode << ": " << line;
    }
    EXPECT_GT(segments, 1000) << mode;
    EXPECT_NE(reports[0].find(mode == "-S:200" ? "Estimates using 200 shuffled sequences\n"
                                               : "Estimates using 200 generated sequences\n"),
              std::string::npos);
  }
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
