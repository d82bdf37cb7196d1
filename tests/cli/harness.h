// Running the built binary in a directory of its own and collecting what it leaves.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // file name -> bytes

inline constexpr const char* kFaketime = "/usr/bin/faketime";

std::string ReadFile(const std::string& path);
// The strings as a null-ended array for exec.
std::vector<char*> CStrings(std::vector<std::string>& strings);
// The words of `text`, split at blanks.
std::vector<std::string> Words(const std::string& text);
// The entries under a directory, by path relative to it: a directory's followed by '/' and
// a link's by its target, so that a staged entry the run replaced shows.
std::set<std::string> Listing(const std::string& dir);

// How the binary runs, besides its arguments.
struct RunOptions {
  std::string stdin_path =
      "/dev/null";                   // this and stdout_path, when relative, in the run directory
  bool through_pipe = false;         // standard input is a pipe fed with stdin_path
  bool unprivileged = false;         // as user and group 65534
  bool other_user = false;           // as user and group 65533, which nothing else runs as
  rlim_t file_size = RLIM_INFINITY;  // RLIMIT_FSIZE, SIGXFSZ left at its default
  rlim_t memory = RLIM_INFINITY;     // RLIMIT_AS
  rlim_t processes = RLIM_INFINITY;  // RLIMIT_NPROC: the user's processes and threads
  std::string stdout_path;           // instead of capturing standard output
  bool stdout_kept = false;          // stdout_path opened for reading and writing, not emptied
  bool stdout_pipe = false;          // standard output is a pipe closed after 10 bytes, once the
                                     // outputs are open
  bool closed_streams = false;       // started with descriptors 0, 1 and 2 closed
  int signal = 0;                    // sent once the outputs are open
  // KESTRA_TEST_LIMITS, key=value,... (entries, letters, waiting, range, piece, cores,
  // length): how the run cuts its work. The runs of the tests may start more threads than the
  // machine has cores unless this says otherwise.
  std::string job_limits;
};

// Limits that put many jobs and pieces in flight at once, each waiting for the one before:
// jobs of one entry, 64 bytes kept before a writer waits, plain files read 200 bytes at a
// time, entries cut into pieces of 320 letters.
inline constexpr const char* kManyJobs = "entries=1,letters=1,waiting=64,range=200,piece=320";
// A run whose jobs are cut as `job_limits` says, reading standard input from `stdin_path`
// (a pipe fed with it when `through_pipe`).
RunOptions With(const std::string& job_limits, const std::string& stdin_path = "/dev/null",
                bool through_pipe = false);

struct RunResult {
  int status = -1;       // exit status; 128 + signal number when killed by one
  std::string out, err;  // everything written to standard output and standard error
};

// Runs the binary in `dir`/work, under a frozen clock, and waits for it. The streams are
// captured in `dir`, so they never show up among the run's files.
RunResult RunKestra(const std::string& dir, const std::vector<std::string>& args,
                    const RunOptions& o = {});
// A fresh directory for the captured streams, with the run directory work/ in it.
std::string RunDirectory();
// Such a directory, removed with the object.
struct Scratch {
  const std::string dir = RunDirectory(), work = dir + "/work/";
  ~Scratch() { fs::remove_all(dir); }
};
// The status of the shell command run in `dir`.
int Shell(const std::string& dir, const std::string& command);

// What a run leaves: its exit status, its streams, and the files of its run directory but
// those it was given and left as they were, by path relative to it.
struct Outcome {
  int status = -1;
  std::string out, err;
  Files files;
  std::string File(const std::string& name) const {
    const auto file = files.find(name);
    return file == files.end() ? "" : file->second;
  }
  bool operator==(const Outcome& o) const {
    return std::tie(status, out, err, files) == std::tie(o.status, o.out, o.err, o.files);
  }
};
void PrintTo(const Outcome& o, std::ostream* os);  // the streams, the files' names and sizes
// Runs the binary in a directory of its own, removed afterwards, whose run directory holds
// `inputs` (name -> bytes) and then what the shell command `prepare` makes there. The shell
// command `then` runs there after the binary, and what it makes is among the files.
Outcome RunOn(const Files& inputs, const std::vector<std::string>& args, const RunOptions& o = {},
              const std::string& prepare = "", const std::string& then = "");
// n letters drawn from `alphabet`.
inline std::string Letters(std::mt19937& rng, int n, const char* alphabet) {
  std::string s;
  const std::size_t k = std::char_traits<char>::length(alphabet);
  for (int i = 0; i < n; ++i) s += alphabet[rng() % k];
  return s;
}

// `text` as one gzip member, as gzip -n makes it; the text of gzip members one after another.
std::string Gzip(const std::string& text);
std::string Gunzip(const std::string& bytes);

// An entry of FASTA: its header line, then its letters in lines of `width`.
std::string Fasta(const std::string& header, const std::string& letters, std::size_t width = 80,
                  const char* line_end = "\n");

// The input as FASTQ: each entry (from its '>' through its header line, then on to the next
// '>') a record, with its header line after '@' and its lines as sequence lines, a line that
// the next '>' cuts short included; then as many qualities as its sequence lines hold
// characters (CR and LF not counted), 50 a line, many lines led by '@' or '+'. The text before
// the first entry is left out: no record may start so.
std::string AsFastq(const std::string& fasta);
// The entry lines of standard output: without the background and seed lines before them and
// the elapsed time after them.
std::string EntryLines(const std::string& out);
// Whether a file name is a FASTQ one (".fq" in it), whose masked copy is out.fq.
bool IsFastqName(const std::string& name);
// A masked copy, FASTA (any width) or FASTQ, as "header\tletters\n" a record.
std::string MaskedRecords(const std::string& copy);
// The qualities of a FASTQ copy, a line a record.
std::string QualitiesOfCopy(const std::string& copy);
// The qualities a FASTQ input's copy must keep, a line a record: those of the sequence
// characters that are letters or '-', CR and LF not counted.
std::string KeptQualities(const std::string& fastq);
