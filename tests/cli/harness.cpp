#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "gzip_support.h"

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(&s[0]);
  pointers.push_back(nullptr);
  return pointers;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  const std::size_t prefix = fs::path(dir + "/").lexically_normal().string().size();
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = entry.path().string().substr(prefix);
    names.insert(entry.is_symlink()     ? name + " -> " + fs::read_symlink(entry).string()
                 : entry.is_directory() ? name + "/"
                                        : name);
  }
  return names;
}

// Whether the run has its outputs open: a temporary file in dir, named or (O_TMPFILE) not,
// the second seen among the descriptors of process pid.
static bool OutputsOpen(const std::string& dir, pid_t pid) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(".kestra-", 0) == 0) return true;
  }
  std::error_code error;
  const std::string unnamed = fs::path(dir).lexically_normal().string() + "/#";
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error).string().rfind(unnamed, 0) == 0) return true;
  }
  return false;
}

// The child's side: streams, limits, then `[setpriv ...] [faketime ...] KESTRA_BIN args...`.
// Only async-signal-safe calls: no allocation, since another thread of the harness may have
// held the allocator's lock when the process forked.
[[noreturn]] static void Exec(const std::string& err_path, const std::string& work,
                              const RunOptions& o, int in, int out, std::vector<char*>& argv,
                              std::vector<char*>& envp) {
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const struct rlimit no_core = {0, 0}, size = {o.file_size, o.file_size},
                      memory = {o.memory, o.memory}, processes = {o.processes, o.processes};
  if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
      chdir(work.c_str()) != 0 || setrlimit(RLIMIT_CORE, &no_core) != 0 ||
      setrlimit(RLIMIT_FSIZE, &size) != 0 || setrlimit(RLIMIT_AS, &memory) != 0 ||
      (o.processes != RLIM_INFINITY && setrlimit(RLIMIT_NPROC, &processes) != 0))
    _exit(127);
  if (o.closed_streams) close(0), close(1), close(2);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

// The environment of the child: this one's, with the limits of the run. Unless they say
// otherwise, --threads N starts N threads whatever the cores, so that a two-core machine
// tests eight threads at once.
static std::vector<std::string> ChildEnvironment(const RunOptions& o) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "KESTRA_TEST_LIMITS=", 19) != 0) env.emplace_back(*e);
  }
  env.push_back("KESTRA_TEST_LIMITS=cores=1024" + (o.job_limits.empty() ? "" : "," + o.job_limits));
  return env;
}

// The binary where user 65534 can reach it: a copy in a directory of its own under the
// temporary directory, made once and removed at exit, since the build tree may lie under a
// private directory.
static std::string BinaryForEveryone() {
  static const Scratch copy;
  const std::string binary = copy.dir + "/kestra";
  if (!fs::exists(binary)) {
    fs::copy_file(KESTRA_BIN, binary);
    for (const std::string& path : {copy.dir, binary}) fs::permissions(path, fs::perms(0755));
  }
  return binary;
}

// The command line: as the unprivileged user and group or a user no other process runs as,
// under faketime unless the binary itself must be the child. faketime waits for the binary in
// a process of its own; a signal or a broken pipe must reach the binary itself, which then
// runs on the real clock; so must a run started with its standard streams closed, or one that
// may start only a few processes.
static std::vector<std::string> CommandLine(const std::vector<std::string>& args,
                                            const RunOptions& o) {
  std::vector<std::string> strings;
  const std::string user = o.other_user ? "65533" : "65534";
  if (o.unprivileged || o.other_user)
    strings = {"/usr/bin/setpriv", "--reuid=" + user, "--regid=" + user, "--clear-groups"};
  if (o.signal == 0 && !o.stdout_pipe && !o.closed_streams && o.processes == RLIM_INFINITY)
    strings.insert(strings.end(), {kFaketime, "-f", "2021-03-04 05:06:07"});
  strings.push_back(o.unprivileged || o.other_user ? BinaryForEveryone() : KESTRA_BIN);
  strings.insert(strings.end(), args.begin(), args.end());
  return strings;
}

RunResult RunKestra(const std::string& dir, const std::vector<std::string>& args,
                    const RunOptions& o) {
  // A sanitizer build must not insist on coming first among the preloaded
  // libraries, since faketime preloads its own. A leading ':' is skipped.
  const std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
  if (asan.find("verify_asan_link_order") == std::string::npos)
    setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
  setenv("TZ", "UTC", 1);  // the frozen clock, and so the seed it gives, read alike anywhere
  std::vector<std::string> strings = CommandLine(args, o), env = ChildEnvironment(o);
  std::vector<char*> argv = CStrings(strings), envp = CStrings(env);
  int feed[2] = {-1, -1}, drain[2] = {-1, -1};  // closing -1 does nothing
  if ((o.through_pipe && pipe(feed) != 0) || (o.stdout_pipe && pipe(drain) != 0))
    return {127, "", "harness: no pipe\n"};
  signal(SIGPIPE, SIG_IGN);  // the binary may stop reading once it has what it needs
  const std::string work = dir + "/work", err_path = dir + "/stderr";
  const auto in_work = [&work](const std::string& path) {
    return path[0] == '/' ? path : work + "/" + path;
  };
  const std::string in_path = in_work(o.stdin_path),
                    out_path = o.stdout_path.empty() ? dir + "/stdout" : in_work(o.stdout_path);
  const int out_flags = o.stdout_kept ? O_RDWR : O_WRONLY | O_CREAT | O_TRUNC;
  const pid_t pid = fork();
  if (pid == 0) {
    close(feed[1]), close(drain[0]), signal(SIGPIPE, SIG_DFL);
    Exec(err_path, work, o, o.through_pipe ? feed[0] : open(in_path.c_str(), O_RDONLY),
         o.stdout_pipe ? drain[1] : open(out_path.c_str(), out_flags, 0644), argv, envp);
  }
  close(feed[0]), close(drain[1]);
  const std::string bytes = o.through_pipe ? ReadFile(in_path) : "";
  const ssize_t size = static_cast<ssize_t>(bytes.size());
  for (ssize_t at = 0, put = 0; at < size && (put = write(feed[1], &bytes[at], size - at)) > 0;)
    at += put;
  close(feed[1]);
  for (int tries = 0; (o.stdout_pipe || o.signal != 0) && tries < 1000 && !OutputsOpen(work, pid);
       ++tries)
    usleep(10000);
  std::string piped_out(10, '\0');  // the first line, written whole, is longer
  if (o.stdout_pipe) piped_out.resize(std::max<ssize_t>(0, read(drain[0], &piped_out[0], 10)));
  close(drain[0]);  // the next line the binary prints meets a closed pipe
  if (o.signal != 0) kill(pid, o.signal);
  // A run that has not ended within five minutes hangs: it is killed and fails the test.
  int wstatus = 0;
  pid_t ended = 0;
  for (int tries = 0; pid > 0 && tries < 30000 && (ended = waitpid(pid, &wstatus, WNOHANG)) == 0;)
    usleep(10000), ++tries;
  if (pid > 0 && ended == 0) {
    kill(pid, SIGKILL), waitpid(pid, &wstatus, 0);
    return {-2, "", "harness: the run did not end within five minutes\n"};
  }
  if (pid < 0 || ended != pid) return {127, "", "harness: cannot run\n"};
  const std::string out = o.stdout_pipe           ? piped_out
                          : o.stdout_path.empty() ? ReadFile(out_path)
                                                  : "";  // a device: nothing to read back
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), out,
          ReadFile(err_path)};
}

std::string RunDirectory() {
  std::string pattern = ::testing::TempDir() + "kestra_cli_XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("no directory " + pattern);
  fs::create_directory(pattern + "/work");
  return pattern;
}

RunOptions With(const std::string& job_limits, const std::string& stdin_path, bool through_pipe) {
  RunOptions o;
  o.job_limits = job_limits, o.stdin_path = stdin_path, o.through_pipe = through_pipe;
  return o;
}

int Shell(const std::string& dir, const std::string& command) {
  return std::system(("cd " + dir + " && " + command).c_str());
}

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "status " << o.status << ", out " << ::testing::PrintToString(o.out) << ", err "
      << ::testing::PrintToString(o.err);
  for (const auto& [name, bytes] : o.files) *os << ", " << name << " of " << bytes.size();
}

Outcome RunOn(const Files& inputs, const std::vector<std::string>& args, const RunOptions& o,
              const std::string& prepare, const std::string& then) {
  const std::string dir = RunDirectory(), work = dir + "/work/";
  for (const auto& [name, bytes] : inputs) std::ofstream(work + name, std::ios::binary) << bytes;
  const auto shell = [&work](const std::string& command) {
    EXPECT_EQ(command.empty() ? 0 : Shell(work, command), 0) << command;
  };
  shell(prepare);
  const RunResult run = RunKestra(dir, args, o);
  shell(then);
  Outcome got{run.status, run.out, run.err, {}};
  for (const auto& file : fs::recursive_directory_iterator(work)) {
    const std::string name = file.path().string().substr(work.size());
    if (!file.is_regular_file()) continue;
    const auto given = inputs.find(name);
    std::string bytes = ReadFile(file.path());
    if (given == inputs.end() || given->second != bytes) got.files[name] = std::move(bytes);
  }
  fs::remove_all(dir);
  return got;
}

std::string Gzip(const std::string& text) { return kestra::Member(text, 6, 0); }

// The text of gzip members one after another, BGZF blocks among them.
std::string Gunzip(const std::string& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size();) {
    const kestra::Inflated member = kestra::ThroughZlib(bytes.substr(at));
    text += member.text;
    if (member.verdict != kestra::Verdict::kWhole) break;
    at = bytes.size() - member.left;
  }
  return text;
}

std::string Fasta(const std::string& header, const std::string& letters, std::size_t width,
                  const char* line_end) {
  std::string out = ">" + header + line_end;
  for (std::size_t i = 0; i < letters.size(); i += width)
    out += letters.substr(i, width) + line_end;
  return out;
}

std::string AsFastq(const std::string& fasta) {
  std::string fastq;
  for (std::size_t at = fasta.find('>'), n = 0; at != std::string::npos; ++n) {
    const std::size_t line_end = std::min(fasta.find('\n', at), fasta.size());
    const std::size_t next = fasta.find('>', line_end);
    const std::string header = fasta.substr(at + 1, line_end - at - 1);
    std::string lines =
        line_end < fasta.size() ? fasta.substr(line_end + 1, next - line_end - 1) : "";
    if (!lines.empty() && lines.back() != '\n') lines += '\n';
    const std::size_t chars = lines.size() - std::count(lines.begin(), lines.end(), '\r') -
                              std::count(lines.begin(), lines.end(), '\n');
    std::string qualities;
    for (std::size_t i = 0; i < chars; ++i) qualities += "@I+J#5F"[(i * 3 + n) % 7];
    fastq += "@" + header + "\n" + lines + "+\n";
    for (std::size_t i = 0; i < qualities.size(); i += 50) fastq += qualities.substr(i, 50) + "\n";
    at = next;
  }
  return fastq;
}

std::string EntryLines(const std::string& out) {
  std::string lines = out;
  for (const char* before : {"Background = ", "Random seed = "}) {
    if (lines.rfind(before, 0) == 0) lines.erase(0, lines.find('\n') + 1);
  }
  const std::size_t end = lines.rfind("\nElapsed time: ");
  return end == std::string::npos ? lines : lines.substr(0, end);
}

bool IsFastqName(const std::string& name) { return name.find(".fq") != std::string::npos; }

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string WithoutCr(std::string line) {
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  return line;
}

}  // namespace

std::string MaskedRecords(const std::string& copy) {
  const std::vector<std::string> lines = LinesOf(copy);
  std::string records;
  if (!copy.empty() && copy[0] == '@') {
    for (std::size_t i = 0; i + 1 < lines.size(); i += 4) {
      records += lines[i].substr(1) + "\t" + lines[i + 1] + "\n";
    }
    return records;
  }
  for (std::size_t i = 0; i < lines.size();) {
    std::string record = lines[i++].substr(1) + "\t";
    for (; i < lines.size() && (lines[i].empty() || lines[i][0] != '>'); ++i) record += lines[i];
    records += record + "\n";
  }
  return records;
}

std::string QualitiesOfCopy(const std::string& copy) {
  const std::vector<std::string> lines = LinesOf(copy);
  std::string qualities;
  for (std::size_t i = 3; i < lines.size(); i += 4) qualities += lines[i] + "\n";
  return qualities;
}

std::string KeptQualities(const std::string& fastq) {
  const std::vector<std::string> lines = LinesOf(fastq);
  std::string kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (WithoutCr(lines[i]).empty()) continue;
    std::string sequence, qualities;
    while (++i < lines.size() && (lines[i].empty() || lines[i][0] != '+')) {
      sequence += WithoutCr(lines[i]);
    }
    while (++i < lines.size() && qualities.size() < sequence.size())
      qualities += WithoutCr(lines[i]);
    --i;  // the next record's header
    for (std::size_t k = 0; k < sequence.size(); ++k) {
      if (sequence[k] == '-' || std::isalpha(static_cast<unsigned char>(sequence[k])))
        kept += qualities[k];
    }
    kept += "\n";
  }
  return kept;
}
