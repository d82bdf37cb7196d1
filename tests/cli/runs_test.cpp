// How a run treats what it is given and what it says: an output that is the input file, the
// seeds that give streams of their own, and the standard streams while entries go by (lines
// on standard output as they happen, a progress line on a terminal that other lines never
// run into).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>

#include "harness.h"

namespace {

const std::string kSeq19 = std::string(CLI_DATA_DIR) + "/input/seq19.fa";

// No file the run writes, output or index, may be the input or another of its files, by any
// name (a link, a hard link, "./", "..", a descriptor, standard output that is a file): the run
// stops before anything is written, and every file stays as it was. Each row: what is made
// before the run ("copy|link|hard FROM NAME", "reads NAME" for a FASTQ input whose masked
// copy is <base>.fq; "stdout NAME", "stdin NAME" for where the streams are), the arguments,
// and the name the message gives, or "'A' and 'B" for two outputs that are one file.
TEST(OutputIsInput, RefusedBeforeAnythingIsWritten) {
  struct Case {
    const char *setup, *args, *message;
  };
  const Case cases[] = {
      {"copy in.fa same.fas", "same.fas same -F", "same.fas"},  // the masked FASTA
      {"copy in.fa x.seg", "x.seg x", "x.seg"},                 // the report
      {"reads r.fq", "r.fq r -L", "r.fq"},                      // masked reads
      {"reads o.fq.fai", "o.fq.fai o -F --index", "o.fq.fai"},  // masked reads' .fai
      {"copy in.fa x.bed", "x.bed x --bed --no-report", "x.bed"},
      {"link in.fa out.seg", "in.fa out", "out.seg"},
      {"hard in.fa out.fas", "in.fa out -L", "out.fas"},
      {"copy in.fa x.seg", "x.seg x --all-entries --threads 2", "x.seg"},
      {"", "in.fa x --report-out ./in.fa", "./in.fa"},
      {"", "in.fa x --table-out ../work/in.fa", "../work/in.fa"},
      {"copy in.fa o.fas.fai", "o.fas.fai o -L --index", "o.fas.fai"},
      {"copy in.fa o.fas.gz.gzi", "o.fas.gz.gzi o -L --compress --index", "o.fas.gz.gzi"},
      {"copy in.fa o.bed.gz.tbi", "o.bed.gz.tbi o --bed --compress --index", "o.bed.gz.tbi"},
      {"hard in.fa o.fas.fai", "in.fa o -F --index", "o.fas.fai"},
      {"link in.fa o.bed.gz.tbi", "in.fa o --bed --compress --index --all-entries", "o.bed.gz.tbi"},
      {"stdout in.fa", "in.fa o --all-entries --report-out -", "-"},
      {"stdout in.fa", "in.fa o --report-out /dev/stdout", "/dev/stdout"},
      {"stdin in.fa", "- o --bed-out in.fa", "in.fa"},
      {"stdin in.fa", "- o --fasta-out /dev/stdin", "/dev/stdin"},
      {"", "in.fa o --bed-out x --fasta-out x", "'x' and 'x"},
      {"", "in.fa q --bed-out q.seg", "'q.seg' and 'q.seg"},
      {"", "in.fa g -L --compress --index --report-out g.fas.gz.gzi",
       "'g.fas.gz.gzi' and 'g.fas.gz.gzi"},
      {"link o.seg o.bed", "in.fa o --bed", "'o.seg' and 'o.bed"},
      {"copy in.fa o.seg;hard o.seg o.tsv", "in.fa o --table", "'o.seg' and 'o.tsv"},
      {"", "in.fa o --summary-out ./o.seg", "'o.seg' and './o.seg"},
      {"", "in.fa o --bed --table-out ../work/o.bed", "'o.bed' and '../work/o.bed"},
      {"copy in.fa o.bed;stdout o.bed", "in.fa o --report-out - --bed", "'-' and 'o.bed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string named = c.message;
    const std::string message = named[0] == '\''
                                    ? "ERROR: output files " + named + "' are the same file\n"
                                    : "ERROR: output file '" + named + "' is the input file\n";
    const Scratch scratch;
    const std::string &dir = scratch.dir, &work = scratch.work;
    fs::copy_file(kSeq19, work + "in.fa");
    RunOptions options;
    std::istringstream steps(c.setup);
    for (std::string step; std::getline(steps, step, ';');) {
      const std::vector<std::string> words = Words(step + " - -");
      const std::string &how = words[0], &from = words[1], &name = words[2];
      if (how == "copy") fs::copy_file(work + from, work + name);
      if (how == "link") fs::create_symlink(from, work + name);
      if (how == "hard") fs::create_hard_link(work + from, work + name);
      if (how == "reads")
        std::ofstream(work + from) << "@r one\nACGTAAAAAAAAAAAAAAAA\n+\n"
                                   << std::string(20, 'I') << "\n";
      if (how == "stdin") options.stdin_path = work + from;
      if (how == "stdout") options.stdout_path = work + from, options.stdout_kept = true;
    }
    // Each entry, and the bytes of each file.
    const auto files = [&work] {
      std::map<std::string, std::string> bytes;
      for (const std::string& name : Listing(work))
        bytes[name] = fs::is_regular_file(work + name) ? ReadFile(work + name) : "";
      return bytes;
    };
    const auto before = files();
    const RunResult run = RunKestra(dir, Words(c.args), options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, message);
    EXPECT_EQ(files(), before);
  }
}

// Every seed of the range gives a stream of its own: reports estimated from random sequences
// differ from seed to seed, in both ways of making the sequences.
TEST(Seeds, EachGivesItsOwnStream) {
  std::mt19937 rng(7);
  const std::string in = Fasta("random", Letters(rng, 3000, "AACGT"), 3000);
  for (const std::string random : {"-S:40", "-B:40"}) {
    std::map<std::string, std::string> seen;  // report -> seed
    for (const std::string seed :
         {"1", "2", "3", "65536", "123456789", "1073741824", "2147483645", "2147483646"}) {
      const Outcome run = RunOn({{"in.fa", in}}, Words("in.fa out " + random + " --seed " + seed));
      EXPECT_EQ(run.status, 0) << random << " " << seed << run.err;
      EXPECT_NE(run.out.find("Random seed = " + seed + "\n"), std::string::npos);
      const auto earlier = seen.emplace(run.File("out.seg"), seed);
      EXPECT_TRUE(earlier.second) << random << ": seeds " << seed << " and "
                                  << earlier.first->second << " give the same report";
    }
  }
}

// Starts the binary in `work` with its standard output and error on the descriptors given,
// `other_end` closed; returns its process.
pid_t Spawn(const std::string& work, const char* args, int stdout_fd, int stderr_fd,
            int other_end) {
  std::vector<std::string> strings = Words(KESTRA_BIN " " + std::string(args));
  std::vector<char*> argv = CStrings(strings);
  const pid_t pid = fork();
  if (pid == 0) {
    if (other_end >= 0) close(other_end);
    if (dup2(stdout_fd, 1) < 0 || dup2(stderr_fd, 2) < 0 || chdir(work.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
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
  std::ofstream(work + "in.fa") << ">quick\nACGTAAAAAAACGT\n"
                                << Fasta("slow", Letters(rng, 60000, "ACGTA"), 60000);
  return "quick\t14\t5\t1\t-\tanalysed\n";
}

TEST(Streams, EntryLinesReachAPipeAsTheyHappen) {
  for (const char* threads : {"1", "2"}) {
    const Scratch scratch;
    const std::string &dir = scratch.dir, &work = scratch.work;
    const std::string first_line = QuickThenSlow(work);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const int err = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = Spawn(
        work,
        ("in.fa out --all-entries -S:20000 --seed 1 --threads " + std::string(threads)).c_str(),
        pipe_fds[1], err, pipe_fds[0]);
    close(pipe_fds[1]);
    close(err);
    const std::string got = ReadUntil(pipe_fds[0], 20, [&](const std::string& text) {
      return text.find(first_line) != std::string::npos;
    });
    // Still analysing the slow entry when the quick one's line came.
    const bool running = waitpid(pid, nullptr, WNOHANG) == 0;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(pipe_fds[0]);
    EXPECT_EQ(got, "Random seed = 1\n" + first_line) << threads << " threads";
    EXPECT_TRUE(running) << "the slow entry was done before the first line came";
  }
}

// What a terminal shows of text written to it: each line as it stands after its carriage
// returns have moved the cursor back over it.
std::vector<std::string> ShownLines(const std::string& text) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (const char ch : text) {
    std::string& line = lines.back();
    if (ch == '\n') {
      lines.emplace_back(), column = 0;
    } else if (ch == '\r') {
      column = 0;
    } else {
      (column < line.size() ? line[column] : (line += ' ', line.back())) = ch, ++column;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  return lines;
}

// On a terminal, standard error shows a progress line, redrawn while a slow entry is analysed;
// a skipped entry's line never runs into it.
TEST(Streams, ProgressLineOnATerminal) {
  const Scratch scratch;
  const std::string &dir = scratch.dir, &work = scratch.work;
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
  const pid_t pid = Spawn(work, "in.fa out --all-entries -S:3000 --seed 1", out, screen, -1);
  close(out);
  close(screen);
  // Until the child ends and the terminal has nothing more to give.
  const std::string shown = ReadUntil(terminal, 120, [](const std::string&) { return false; });
  int status = 0;
  waitpid(pid, &status, 0);
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
}

}  // namespace
