// How a run treats what it is given and what it says: an output that is the input file, the
// seeds that give streams of their own, and the standard streams while entries go by (lines
// on standard output as they happen, a progress line on a terminal that other lines never
// run into).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

const std::string kSeq19 = std::string(CLI_DATA_DIR) + "/input/seq19.fa";

// No file the run writes, output or index, may be the input or another of its files, by any
// name (a link, a hard link, "./", "..", a descriptor, standard output that is a file): the run
// stops before anything is written, and every file stays as it was. Each row: what is made
// before the run ("copy|link|hard FROM NAME", "reads NAME" for a FASTQ input whose masked
// copy is <base>.fq; "stdout NAME", "stdin NAME" for where the streams are), the arguments,
// the name(s) the message gives, and the file whose bytes must stay.
TEST(OutputIsInput, RefusedBeforeAnythingIsWritten) {
  struct Case {
    const char *name, *setup, *args, *message, *kept;
  };
  const Case cases[] = {
      {"masked FASTA", "copy in.fa same.fas", "same.fas same -F", "same.fas", "same.fas"},
      {"report", "copy in.fa x.seg", "x.seg x", "x.seg", "x.seg"},
      {"masked reads", "reads r.fq", "r.fq r -L", "r.fq", "r.fq"},
      {"masked reads' .fai", "reads o.fq.fai", "o.fq.fai o -F --index", "o.fq.fai", "o.fq.fai"},
      {"BED", "copy in.fa x.bed", "x.bed x --bed --no-report", "x.bed", "x.bed"},
      {"symbolic link", "link in.fa out.seg", "in.fa out", "out.seg", "in.fa"},
      {"hard link", "hard in.fa out.fas", "in.fa out -L", "out.fas", "in.fa"},
      {"every entry on two threads", "copy in.fa x.seg", "x.seg x --all-entries --threads 2",
       "x.seg", "x.seg"},
      {"./ prefix", "", "in.fa x --report-out ./in.fa", "./in.fa", "in.fa"},
      {".. path", "", "in.fa x --table-out ../work/in.fa", "../work/in.fa", "in.fa"},
      {".fai", "copy in.fa o.fas.fai", "o.fas.fai o -L --index", "o.fas.fai", "o.fas.fai"},
      {".gzi", "copy in.fa o.fas.gz.gzi", "o.fas.gz.gzi o -L --compress --index", "o.fas.gz.gzi",
       "o.fas.gz.gzi"},
      {".tbi", "copy in.fa o.bed.gz.tbi", "o.bed.gz.tbi o --bed --compress --index", "o.bed.gz.tbi",
       "o.bed.gz.tbi"},
      {".fai by hard link", "hard in.fa o.fas.fai", "in.fa o -F --index", "o.fas.fai", "in.fa"},
      {".tbi by symbolic link", "link in.fa o.bed.gz.tbi",
       "in.fa o --bed --compress --index --all-entries", "o.bed.gz.tbi", "in.fa"},
      {"standard output on the input", "stdout in.fa", "in.fa o --all-entries --report-out -", "-",
       "in.fa"},
      {"/dev/stdout on the input", "stdout in.fa", "in.fa o --report-out /dev/stdout",
       "/dev/stdout", "in.fa"},
      {"standard input's file", "stdin in.fa", "- o --bed-out in.fa", "in.fa", "in.fa"},
      {"standard input's descriptor", "stdin in.fa", "- o --fasta-out /dev/stdin", "/dev/stdin",
       "in.fa"},
  };
  const Case shared[] = {
      {"BED and masked FASTA", "", "in.fa o --bed-out x --fasta-out x", "'x' and 'x", "in.fa"},
      {"BED on the report", "", "in.fa q --bed-out q.seg", "'q.seg' and 'q.seg", "in.fa"},
      {"report on the .gzi", "", "in.fa g -L --compress --index --report-out g.fas.gz.gzi",
       "'g.fas.gz.gzi' and 'g.fas.gz.gzi", "in.fa"},
      {"symbolic link", "link o.seg o.bed", "in.fa o --bed", "'o.seg' and 'o.bed", "in.fa"},
      {"hard link", "copy in.fa o.seg;hard o.seg o.tsv", "in.fa o --table", "'o.seg' and 'o.tsv",
       "o.seg"},
      {"./ prefix", "", "in.fa o --summary-out ./o.seg", "'o.seg' and './o.seg", "in.fa"},
      {".. path", "", "in.fa o --bed --table-out ../work/o.bed", "'o.bed' and '../work/o.bed",
       "in.fa"},
      {"standard output's file", "copy in.fa o.bed;stdout o.bed", "in.fa o --report-out - --bed",
       "'-' and 'o.bed", "o.bed"},
  };
  const auto check = [](const Case& c, const std::string& message) {
    const std::string dir = RunDirectory(), work = dir + "/work/";
    fs::copy_file(kSeq19, work + "in.fa");
    RunOptions options;
    std::istringstream steps(c.setup);
    for (std::string step; std::getline(steps, step, ';');) {
      std::istringstream words(step);
      std::string how, from, name;
      words >> how >> from >> name;
      if (how == "copy") fs::copy_file(work + from, work + name);
      if (how == "link") fs::create_symlink(from, work + name);
      if (how == "hard") fs::create_hard_link(work + from, work + name);
      if (how == "reads")
        std::ofstream(work + from) << "@r one\nACGTAAAAAAAAAAAAAAAA\n+\n"
                                   << std::string(20, 'I') << "\n";
      if (how == "stdin") options.stdin_path = work + from;
      if (how == "stdout") options.stdout_path = work + from, options.stdout_kept = true;
    }
    const std::string before = ReadFile(work + c.kept);
    const std::set<std::string> listing = Listing(work);
    const RunResult run = RunKestra(dir, Words(c.args), options);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_EQ(run.err, message) << c.name;
    EXPECT_EQ(ReadFile(work + c.kept), before) << c.name;
    EXPECT_EQ(Listing(work), listing) << c.name;
    fs::remove_all(dir);
  };
  for (const Case& c : cases) {
    check(c, std::string("ERROR: output file '") + c.message + "' is the input file\n");
  }
  for (const Case& c : shared) {
    check(c, std::string("ERROR: output files ") + c.message + "' are the same file\n");
  }
}

// An index is written only beside a regular file: beside a device or standard output the run
// says so once and goes on, its outputs as they would be without --index.
TEST(OutputIsInput, NothingIndexedBesideWhatIsNoFile) {
  const struct {
    const char *args, *note;  // where nothing is indexed
  } cases[] = {
      {"in.fa o -L --fasta-out /dev/null --index", "'/dev/null'"},
      {"in.fa o --bed-out /dev/null --compress --index --all-entries", "'/dev/null'"},
      {"in.fa o --fasta-out - --index", "standard output"},
      {"in.fa o -F --fasta-out /dev/null --bed-out /dev/null --report-out /dev/null --index",
       "'/dev/null'"},
  };
  ASSERT_FALSE(fs::exists("/dev/null.fai"));
  for (const auto& c : cases) {
    const std::string dir = RunDirectory(), work = dir + "/work/";
    fs::copy_file(kSeq19, work + "in.fa");
    const RunResult run = RunKestra(dir, Words(c.args));
    EXPECT_EQ(run.status, 0) << c.args << run.err;
    EXPECT_EQ(run.err.rfind(std::string("Note: nothing is indexed beside ") + c.note +
                                ": an index is written only beside a regular file\n",
                            0),
              0u)
        << c.args << ": " << run.err;
    EXPECT_FALSE(fs::exists("/dev/null.fai") || fs::exists("/dev/null.tbi")) << c.args;
    for (const auto& entry : fs::directory_iterator(work)) {
      const std::string name = entry.path().filename();
      EXPECT_TRUE(name == "in.fa" || name.rfind("o.", 0) == 0) << c.args << ": " << name;
      EXPECT_EQ(name.find(".fai"), std::string::npos) << c.args;
    }
    fs::remove_all(dir);
  }
}

// Every seed of the range gives a stream of its own: reports estimated from random sequences
// differ from seed to seed, in both ways of making the sequences.
TEST(Seeds, EachGivesItsOwnStream) {
  const char* seeds[] = {"1",         "2",          "3",          "65536",
                         "123456789", "1073741824", "2147483645", "2147483646"};
  std::mt19937 rng(7);
  std::string letters;
  for (int i = 0; i < 3000; ++i) letters += "AACGT"[rng() % 5];
  for (const char* random : {"-S:40", "-B:40"}) {
    std::map<std::string, std::string> seen;  // report -> seed
    for (const char* seed : seeds) {
      const std::string dir = RunDirectory();
      std::ofstream(dir + "/work/in.fa") << ">random\n" << letters << "\n";
      const RunResult run = RunKestra(dir, {"in.fa", "out", random, "--seed", seed});
      EXPECT_EQ(run.status, 0) << random << " " << seed << run.err;
      EXPECT_NE(run.out.find(std::string("Random seed = ") + seed + "\n"), std::string::npos);
      const auto earlier = seen.emplace(ReadFile(dir + "/work/out.seg"), seed);
      EXPECT_TRUE(earlier.second) << random << ": seeds " << seed << " and "
                                  << earlier.first->second << " give the same report";
      fs::remove_all(dir);
    }
  }
}

// Each output alone on standard output ("-") carries byte for byte what its file holds, from
// the first entry and from every entry on two threads; the status lines that went to standard
// output go to standard error, after the warnings they came after.
TEST(Streams, EachOutputAloneOnStandardOutput) {
  const struct {
    const char *option, *file;
    const char* to_file;  // what asks for the output under the base name
    const char* both;     // what goes with either
  } outputs[] = {{"--report-out", "out.seg", "", ""},
                 {"--fasta-out", "out.fas", "", "-L --line-width 60"},
                 {"--bed-out", "out.bed", "--bed", ""},
                 {"--table-out", "out.tsv", "--table", "--all-segments"},
                 {"--summary-out", "out.summary.tsv", "--summary", ""}};
  for (const auto& output : outputs) {
    for (const std::string mode : {"-M:0.5", "-M:0.5 --all-entries --threads 2"}) {
      const std::string args = "in.fa out " + mode + " " + output.both + " ";
      const std::string shown = output.option + (" " + mode);
      const std::vector<std::string> to_file = Words(args + output.to_file),
                                     to_stdout = Words(args + output.option + " -");
      const std::string dir = RunDirectory(), other = RunDirectory();
      fs::copy_file(std::string(CLI_DATA_DIR) + "/input/bed_names.fa", dir + "/work/in.fa");
      fs::copy_file(dir + "/work/in.fa", other + "/work/in.fa");
      const RunResult in_file = RunKestra(dir, to_file);
      const RunResult on_stdout = RunKestra(other, to_stdout);
      EXPECT_EQ(on_stdout.status, 0) << shown << on_stdout.err;
      EXPECT_EQ(on_stdout.out, ReadFile(dir + "/work/" + output.file)) << shown;
      EXPECT_FALSE(fs::exists(other + "/work/" + output.file)) << shown;
      EXPECT_EQ(on_stdout.err.size(), in_file.out.size() + in_file.err.size()) << shown;
      for (std::size_t at = 0, end; (end = in_file.out.find('\n', at)) != std::string::npos;
           at = end + 1) {
        EXPECT_NE(on_stdout.err.find(in_file.out.substr(at, end - at + 1)), std::string::npos)
            << shown;
      }
      fs::remove_all(dir);
      fs::remove_all(other);
    }
  }
}

// A child running the binary with its streams where the test wants them.
struct Child {
  pid_t pid = -1;
  int out = -1;  // the read end of its standard output, or -1
};

Child Spawn(const std::string& work, const std::vector<std::string>& args, int stdout_fd,
            int stderr_fd, int other_end) {
  std::vector<std::string> strings = {KESTRA_BIN};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  Child c;
  c.pid = fork();
  if (c.pid == 0) {
    if (other_end >= 0) close(other_end);
    if (dup2(stdout_fd, 1) < 0 || dup2(stderr_fd, 2) < 0 || chdir(work.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return c;
}

// Reads from fd until `done` holds of what was read, or `seconds` pass; returns what was read.
std::string ReadUntil(int fd, double seconds, const std::function<bool(const std::string&)>& done) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done(got)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

// Two entries, the first quick to analyse and the second slow (seconds of random sequences):
// the first entry's line reaches a pipe while the second is still being analysed.
std::string QuickThenSlow(const std::string& work) {
  std::mt19937 rng(3);
  std::string slow;
  for (int i = 0; i < 60000; ++i) slow += "ACGTA"[rng() % 5];
  std::ofstream(work + "in.fa") << ">quick\nACGTAAAAAAACGT\n>slow\n" << slow << "\n";
  return "quick\t14\t5\t1\t-\tanalysed\n";
}

TEST(Streams, EntryLinesReachAPipeAsTheyHappen) {
  for (const char* threads : {"1", "2"}) {
    const std::string dir = RunDirectory(), work = dir + "/work/";
    const std::string first_line = QuickThenSlow(work);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const int err = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const Child c = Spawn(
        work, {"in.fa", "out", "--all-entries", "-S:20000", "--seed", "1", "--threads", threads},
        pipe_fds[1], err, pipe_fds[0]);
    close(pipe_fds[1]);
    close(err);
    const std::string got = ReadUntil(pipe_fds[0], 20, [&](const std::string& text) {
      return text.find(first_line) != std::string::npos;
    });
    // Still analysing the slow entry when the quick one's line came.
    const bool running = waitpid(c.pid, nullptr, WNOHANG) == 0;
    kill(c.pid, SIGTERM);
    waitpid(c.pid, nullptr, 0);
    close(pipe_fds[0]);
    EXPECT_EQ(got, "Random seed = 1\n" + first_line) << threads << " threads";
    EXPECT_TRUE(running) << "the slow entry was done before the first line came";
    fs::remove_all(dir);
  }
}

// What a terminal shows of text written to it: each line as it stands after its carriage
// returns have moved the cursor back over it.
std::vector<std::string> ShownLines(const std::string& text) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (const char ch : text) {
    if (ch == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (ch == '\r') {
      column = 0;
    } else {
      std::string& line = lines.back();
      if (column < line.size()) {
        line[column] = ch;
      } else {
        line += ch;
      }
      ++column;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  return lines;
}

// On a terminal, standard error shows a progress line, redrawn while a slow entry is analysed;
// a skipped entry's line never runs into it.
TEST(Streams, ProgressLineOnATerminal) {
  const std::string dir = RunDirectory(), work = dir + "/work/";
  QuickThenSlow(work);
  std::ofstream(work + "in.fa", std::ios::app) << ">none\nNNNN\n";
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY);
  ASSERT_GE(screen, 0);
  termios mode;
  ASSERT_EQ(tcgetattr(screen, &mode), 0);
  mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // the bytes as written, no CR before LF
  ASSERT_EQ(tcsetattr(screen, TCSANOW, &mode), 0);
  const int out = open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const Child c =
      Spawn(work, {"in.fa", "out", "--all-entries", "-S:3000", "--seed", "1"}, out, screen, -1);
  close(out);
  close(screen);
  // Until the child ends and the terminal has nothing more to give.
  const std::string shown = ReadUntil(terminal, 120, [](const std::string&) { return false; });
  int status = 0;
  waitpid(c.pid, &status, 0);
  close(terminal);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  const std::vector<std::string> lines = ShownLines(shown);
  ASSERT_EQ(lines.size(), 3u) << shown;
  EXPECT_EQ(lines[0], "Entry none skipped: No valid nucleotides were found");
  EXPECT_EQ(lines[1].substr(0, 16), "3 entries done, ");
  EXPECT_EQ(lines[2], "");
  // Redrawn while the slow entry went on: more drawings than entries, which count the quick
  // entry as done once it is written.
  std::size_t drawings = 0;
  for (const char ch : shown) drawings += ch == '\r';
  EXPECT_GE(drawings, 4u) << shown;
  EXPECT_NE(shown.find("\r1 entries done, "), std::string::npos) << shown;
  fs::remove_all(dir);
}

}  // namespace
