// What a run holds of what it never writes: an entry too long to analyse is counted, not kept,
// and a compressed file's size reserves nothing. Under an address-space limit far below the
// entry or the file, such runs give the bytes of the same runs on small inputs without one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

constexpr rlim_t kLimit = rlim_t{128} << 20;       // address space: less than the entry or the file
constexpr const char* kLength = "length=1000000";  // letters that make an entry too long
const std::string kSmall = "ACGTAAAAAAAAAAAAAAAAAAAAACGTACGTTGCAAAAAAAAAAAAAAAAAAAATGCA";
const std::string kTiny = "ACGTAAAAAAAAAAAAAAAAAAAACGTAC";  // 29 letters

// An entry of `lines` lines of 60 letters, streamed.
std::string LongEntry(const std::string& lines) {
  return "printf '>huge entry\\n'; yes "
         "ACGTTGCAACGTAGCTAGCTAGGATCCATGCATGCAAAATTTTCCCCGGGGACGTTGACG 2>/dev/null "
         "| head -n " +
         lines;
}

struct Outputs {
  int status = -1;
  std::string out, err, report, summary;
};

// Runs the binary on in.fa.gz, made by `make` in the run directory, and collects what it says
// and writes.
Outputs RunOn(const std::string& make, std::vector<std::string> args, const RunOptions& options) {
  const std::string dir = RunDirectory();
  EXPECT_EQ(std::system(("cd " + dir + "/work && { " + make + "; } > in.fa.gz").c_str()), 0);
  args.insert(args.begin(), {"in.fa.gz", "out"});
  const RunResult r = RunKestra(dir, args, options);
  Outputs o{r.status, r.out, r.err, ReadFile(dir + "/work/out.seg"),
            ReadFile(dir + "/work/out.summary.tsv")};
  fs::remove_all(dir);
  return o;
}

bool operator==(const Outputs& a, const Outputs& b) {
  return a.status == b.status && a.out == b.out && a.err == b.err && a.report == b.report &&
         a.summary == b.summary;
}

void PrintTo(const Outputs& o, std::ostream* os) {
  *os << "status " << o.status << ", out " << testing::PrintToString(o.out) << ", err "
      << testing::PrintToString(o.err) << ", report of " << o.report.size() << " bytes, summary "
      << testing::PrintToString(o.summary);
}

// The lines a skipped entry adds to standard output and the summary, before those of the
// entry after it, and its note, before that entry's words.
Outputs WithSkippedEntry(Outputs o, const std::string& name, const std::string& letters) {
  o.out = name + "\t" + letters + "\t-\t-\t-\tskipped\n" + o.out;
  o.err = "Entry " + name + " skipped: ERROR: sequence is too long\n" + o.err;
  const std::size_t columns = o.summary.find('\n') + 1;
  o.summary.insert(columns, name + "\t" + letters + "\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tskipped\n");
  return o;
}

TEST(Memory, WhatIsNeverWrittenIsNotHeld) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs the address space";
#endif
  RunOptions limited;
  limited.memory = kLimit;
  limited.job_limits = kLength;
  RunOptions unlimited;
  unlimited.job_limits = kLength;
  const std::string small = "printf '>small\\n" + kSmall + "\\n' | gzip -1",
                    tiny = "printf '>tiny\\n" + kTiny + "\\n' | gzip -1";
  // 200,000,040 letters, and 1,000,020: just too long.
  const std::string huge_then_small =
      "{ " + LongEntry("3333334") + "; printf '>small\\n" + kSmall + "\\n'; } | gzip -1";
  const std::string over_then_small =
      "{ " + LongEntry("16667") + "; printf '>small\\n" + kSmall + "\\n'; } | gzip -1";
  // Zero bytes after the last member are padding: 64 MiB of them, a file of a quarter of
  // the address space.
  const std::string padded = tiny + "; head -c 67108864 /dev/zero";
  const std::vector<std::string> all = {"--all-entries", "--summary"};
  const Outputs small_alone = RunOn(small, all, unlimited);
  ASSERT_EQ(small_alone.status, 0) << small_alone.err;
  const Outputs over_first = RunOn(over_then_small, {}, unlimited);
  ASSERT_EQ(over_first.status, 1);
  const Outputs tiny_alone = RunOn(tiny, {}, unlimited);
  ASSERT_EQ(tiny_alone.status, 0) << tiny_alone.err;
  const Outputs tiny_all = RunOn(tiny, all, unlimited);
  ASSERT_EQ(tiny_all.status, 0) << tiny_all.err;
  const struct {
    const char* name;
    std::string make;
    std::vector<std::string> args;
    Outputs want;
  } cases[] = {
      {"a too long entry skipped, then one analysed", huge_then_small, all,
       WithSkippedEntry(small_alone, "huge", "200000040")},
      {"a too long first entry", huge_then_small, {}, over_first},
      {"the first entry of a padded file", padded, {}, tiny_alone},
      {"every entry of a padded file", padded, all, tiny_all},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunOn(c.make, c.args, limited), c.want) << c.name;
  }
}

}  // namespace
