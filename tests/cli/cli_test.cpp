// End-to-end behaviour of the kestra binary. The cases are data, listed in
// data/cases.txt (its header describes the format); each runs as its own test
// in a fresh directory under a frozen clock, and everything the run leaves
// behind is compared byte for byte: exit status, standard output, standard
// error, the set of files present and the contents of each output. With
// KESTRA_UPDATE_GOLDENS set, each golden file named in a row (FILE=GOLDEN or a
// stream's @FILE) is written from what the run gave instead of compared with it.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "harness.h"

namespace {

const std::string kData = CLI_DATA_DIR;
const char* const kUpdate = std::getenv("KESTRA_UPDATE_GOLDENS");
const bool kUpdateGoldens = kUpdate != nullptr && *kUpdate != '\0';

// What a staging makes in the run directory before the run, by a shell command run there.
// What it makes stays, as it was unless a FILE=GOLDEN says otherwise (old_report.txt holds
// an earlier report); kNobody lets user 65534 through the directory above.
const std::string kSmall = "ACGTAAAAAAAAAAAAAAAAAAAAACGTACGTTGCAAAAAAAAAAAAAAAAAAAATGCA",
                  kTiny = "ACGTAAAAAAAAAAAAAAAAAAAACGTAC";
const std::string kOld = "printf 'an earlier report\\n' > ", kNobody = "chmod 755 .. && chmod ";
const std::map<std::string, std::string> kStagings = {
    {"fasta-dir", "mkdir out.fas"},
    {"report-dir", "mkdir out.seg"},
    {"old-report", kOld + "out.seg"},
    {"link-file", kOld + "kept.seg && ln -s kept.seg out.seg"},
    {"link-elsewhere", "mkdir sub && ln -s sub/real.seg out.seg"},
    {"link-dangling", "ln -s new.seg out.seg"},
    {"link-null", "ln -s /dev/null out.seg"},
    {"link-full", "ln -s /dev/full out.seg"},
    {"fasta-link-full", "ln -s /dev/full out.fas"},
    {"fasta-gz-link-full", "ln -s /dev/full out.fas.gz"},
    {"fifo", "mkfifo out.seg"},
    {"mode-0640", kOld + "out.seg && chmod 640 out.seg"},
    {"read-only",
     kNobody + "777 . && " + kOld + "out.seg && chmod 444 out.seg && chown 65534:65534 out.seg"},
    {"sticky-other", kNobody + "1777 . && " + kOld + "out.seg"},
    {"open-to-all", kNobody + "777 ."},
    {"n-background", "printf '>n\\nNNNN\\n' > nn.fa"},
    {"eight-mib-of-a", "{ echo '>a'; head -c 8388608 /dev/zero | tr '\\0' A; echo; } > in.fa"},
    {"huge-then-small",
     "{ echo '>huge entry'; yes ACGTTGCAACGTAGCTAGCTAGGATCCATGCATGCAAAATTTTCCCCGGGGACGTTGACG "
     "2>/dev/null | head -n 3333334; echo '>small'; echo " +
         kSmall + "; } | gzip -1 > in.fa.gz"},
    {"padded-tiny", "{ echo '>tiny'; echo " + kTiny +
                        "; } | gzip -1 > in.fa.gz; head -c 67108864 /dev/zero >> in.fa.gz"},
};

// "run=" options of a row.
const std::map<std::string, std::function<void(RunOptions*)>> kRunOptions = {
    {"unprivileged", [](RunOptions* o) { o->unprivileged = true; }},
    {"size-limit", [](RunOptions* o) { o->file_size = 1024; }},
    {"memory-limit", [](RunOptions* o) { o->memory = 64 << 20; }},
    {"small-memory-limit", [](RunOptions* o) { o->memory = 40 << 20; }},
    {"large-memory-limit", [](RunOptions* o) { o->memory = rlim_t{128} << 20; }},
    {"length-limit", [](RunOptions* o) { o->job_limits = "length=1000000"; }},
    {"stdout-full", [](RunOptions* o) { o->stdout_path = "/dev/full"; }},
    {"stdout-pipe", [](RunOptions* o) { o->stdout_pipe = true; }},
    {"signal-TERM", [](RunOptions* o) { o->signal = SIGTERM; }},
    {"signal-QUIT", [](RunOptions* o) { o->signal = SIGQUIT; }},
    {"signal-USR1", [](RunOptions* o) { o->signal = SIGUSR1; }},
    {"signal-KILL", [](RunOptions* o) { o->signal = SIGKILL; }},
    {"closed-streams", [](RunOptions* o) { o->closed_streams = true; }},
    {"process-limit", [](RunOptions* o) { o->other_user = true, o->processes = 1; }},
};

// What a stream or a file must hold: a text, or the golden file at `golden` when it has one.
struct Want {
  std::string text, golden;
};

struct Case {
  std::string name;
  std::string input;  // copied to in.fa; empty for none
  RunOptions run;
  std::vector<std::string> args;
  std::set<std::string> stages;
  std::vector<std::string> commands;  // the stagings' shell commands, in the row's order
  int status = 0;
  bool any_out = false;  // standard output is not compared
  Want out, err;
  std::map<std::string, Want> files;  // by name in the run directory
  std::string error;                  // what is wrong with the row, if anything
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string DataFile(const std::string& dir, const std::string& name) {
  const std::string path = kData + "/" + dir + "/" + name;
  if (!fs::is_regular_file(path)) throw std::runtime_error("missing file data/" + dir + "/" + name);
  return path;
}

// A golden file; when the goldens are being written it need not exist yet.
Want Golden(const std::string& name) {
  return {"", kUpdateGoldens ? kData + "/expected/" + name : DataFile("expected", name)};
}

// Compares `got` with what it must hold. A golden file is written instead when the goldens are
// being written, only when it differs, through a temporary file renamed over it so that a
// case reading it meanwhile reads it whole.
void Match(const std::string& got, const Want& want, const std::string& what) {
  if (want.golden.empty() || !kUpdateGoldens) {
    EXPECT_EQ(got, want.golden.empty() ? want.text : ReadFile(want.golden)) << what;
    return;
  }
  if (fs::is_regular_file(want.golden) && ReadFile(want.golden) == got) return;
  const std::string temporary = want.golden + "." + std::to_string(getpid()) + ".new";
  std::ofstream(temporary, std::ios::binary) << got;
  ASSERT_EQ(ReadFile(temporary), got) << "could not write " << temporary;
  fs::rename(temporary, want.golden);
}

// Text with C escapes.
std::string Unescape(const std::string& text) {
  static const std::string kFrom = "ntr0\\", kTo("\n\t\r\0\\", 5);
  std::string bytes;
  for (size_t i = 0, escape; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
    } else if (++i < text.size() && (escape = kFrom.find(text[i])) != std::string::npos) {
      bytes += kTo[escape];
    } else {
      throw std::runtime_error("bad escape in " + text);
    }
  }
  return bytes;
}

// A stream column: a named text, a quoted one, @FILE for a golden file, or - for nothing.
Want Expected(const std::string& column, const std::map<std::string, std::string>& texts) {
  if (column == "-") return {};
  if (column[0] == '@') return Golden(column.substr(1));
  if (column[0] == '"') return {Unescape(column.substr(1, column.size() - 2)), ""};
  const auto named = texts.find(column);
  if (named == texts.end()) throw std::runtime_error("no text named " + column);
  return {named->second, ""};
}

// One row: NAME INPUT STATUS STDOUT STDERR [FILE=GOLDEN | stage=HOW | run=HOW | sh=COMMAND |
// stdin=FILE | stdout=FILE]... -- ARGS...
Case ParseRow(const std::string& line, const std::map<std::string, std::string>& texts) {
  Case c;
  const size_t dashes = line.find(" -- ");
  if (dashes == std::string::npos) throw std::runtime_error("no ' -- ' before the arguments");
  static const std::regex kColumn("\"[^\"]*\"|[^ ]+");  // quoted columns keep their blanks
  const std::string head = line.substr(0, dashes);
  const std::vector<std::string> columns(
      std::sregex_token_iterator(head.begin(), head.end(), kColumn), {});
  if (columns.size() < 5) throw std::runtime_error("fewer than five columns");
  c.name = columns[0];
  const std::string& input = columns[1];
  if (input[0] == '<' || input[0] == '|') {
    c.run.stdin_path = DataFile("input", input.substr(1));
    c.run.through_pipe = input[0] == '|';
  } else if (input != "-") {
    c.input = DataFile("input", input);
  }
  c.status = std::stoi(columns[2]);
  c.any_out = columns[3] == "*";
  if (!c.any_out) c.out = Expected(columns[3], texts);
  c.err = Expected(columns[4], texts);
  for (size_t i = 5; i < columns.size(); ++i) {
    const size_t eq = columns[i].find('=');
    if (eq == std::string::npos) throw std::runtime_error("want FILE=GOLDEN: " + columns[i]);
    const std::string key = columns[i].substr(0, eq), value = columns[i].substr(eq + 1);
    if (key == "stage") {
      if (kStagings.count(value) == 0) throw std::runtime_error("unknown stage " + value);
      c.stages.insert(value), c.commands.push_back(kStagings.at(value));
    } else if (key == "sh") {
      c.commands.push_back(value);
      std::replace(c.commands.back().begin(), c.commands.back().end(), ',', ' ');
    } else if (key == "stdin" || key == "stdout") {
      (key == "stdin" ? c.run.stdin_path : c.run.stdout_path) = value;
      c.run.stdout_kept |= key == "stdout";
    } else if (key == "run") {
      if (kRunOptions.count(value) == 0) throw std::runtime_error("unknown run option " + value);
      kRunOptions.at(value)(&c.run);
    } else {
      c.files[key] = Golden(value);
    }
  }
  for (std::string& word : c.args = Words(line.substr(dashes + 4))) {
    if (word == "\"\"") word.clear();
  }
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
      std::smatch text;
      if (std::regex_match(line, text, std::regex("text +([^ ]+) +(.*)"))) {
        texts[text[1]] = Unescape(text[2]);
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

class Kestra : public ::testing::TestWithParam<Case> {
 protected:
  const Scratch scratch_;  // holds the run directory and the captured streams
};

// A reader at the other end of the FIFO `path` collects what the run writes into it until
// `over` (it never blocks, so a run that does not write there cannot hang the test).
void ReadFifo(const std::string& path, const std::atomic<bool>& over, std::string* got) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  for (char buf[4096]; fd >= 0;) {
    const bool last = over;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got->append(buf, static_cast<std::size_t>(n));
    if (n <= 0 && last) break;
    if (n <= 0) usleep(1000);
  }
  if (fd >= 0) close(fd);
}

TEST_P(Kestra, Case) {
  const Case& c = GetParam();
  ASSERT_EQ(access(kFaketime, X_OK), 0)
      << kFaketime << " (Debian package faketime) is needed to freeze the clock";
  ASSERT_EQ(access(KESTRA_BIN, X_OK), 0) << "the binary under test is missing: " << KESTRA_BIN;
  ASSERT_EQ(c.error, "") << "malformed manifest";
  if ((c.run.unprivileged || c.run.other_user) && geteuid() != 0) {
    GTEST_SKIP() << "running as another user needs root";
  }
#if defined(__SANITIZE_ADDRESS__)
  if (c.run.memory != RLIM_INFINITY) GTEST_SKIP() << "AddressSanitizer needs the address space";
#endif
  const std::string& work = scratch_.work;
  if (!c.input.empty()) {
    fs::copy_file(c.input, work + "in.fa");
    fs::permissions(work + "in.fa", fs::perms(0644));
  }
  for (const std::string& command : c.commands) {
    ASSERT_EQ(std::system(("cd " + work + " && umask 022 && " + command).c_str()), 0) << command;
  }
  // What was there stays, as it was unless it is listed; the files listed join it.
  std::set<std::string> expected_files = Listing(work);
  std::map<std::string, std::string> kept;
  for (const std::string& name : expected_files) {
    if (c.files.count(name) == 0 && fs::is_regular_file(work + name))
      kept[name] = ReadFile(work + name);
  }
  for (const auto& file : c.files) expected_files.insert(file.first);
  const bool fifo = c.stages.count("fifo") != 0;
  std::string through_fifo;
  std::atomic<bool> over{false};
  std::thread reader;
  if (fifo) reader = std::thread(ReadFifo, work + "out.seg", std::cref(over), &through_fifo);
  const RunResult run = RunKestra(scratch_.dir, c.args, c.run);
  over = true;
  if (reader.joinable()) reader.join();
  EXPECT_EQ(run.status, c.status);
  if (!c.any_out) Match(run.out, c.out, "standard output");
  Match(run.err, c.err, "standard error");
  EXPECT_EQ(Listing(work), expected_files);
  for (const auto& [name, bytes] : kept) EXPECT_EQ(ReadFile(work + name), bytes) << name;
  for (const auto& [name, golden] : c.files) {
    Match(fifo ? through_fifo : ReadFile(work + name), golden, name);
  }
  // Nothing is written beside a device an output goes to.
  for (const char* index : {"/dev/null.fai", "/dev/null.tbi"}) EXPECT_FALSE(fs::exists(index));
  if (c.stages.count("mode-0640") != 0) {
    EXPECT_EQ(fs::status(work + "out.seg").permissions(), fs::perms(0640));
  }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }
INSTANTIATE_TEST_SUITE_P(, Kestra, ::testing::ValuesIn(LoadCases()), CaseName);

}  // namespace
