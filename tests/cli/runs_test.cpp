// How a run treats what it is given and what it says: the seeds that give streams of their own, and
// the standard streams while entries go by (lines on standard output as they happen, a progress
// line on a terminal that other lines never run into).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "harness.h"

namespace {

const std::string kSeq19 = std::string(CLI_DATA_DIR) + "/input/seq19.fa";

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
