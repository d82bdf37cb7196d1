// What a run holds of what it never writes: an entry too long to analyse is counted, not kept,
// and a compressed file's size reserves nothing. Under an address-space limit far below the
// entry or the file, such runs give the bytes of the same runs on small inputs without one.
#include "harness.h"

namespace {

const std::string kSmall = "ACGTAAAAAAAAAAAAAAAAAAAAACGTACGTTGCAAAAAAAAAAAAAAAAAAAATGCA";
const std::string kTiny = "ACGTAAAAAAAAAAAAAAAAAAAACGTAC";  // 29 letters

// An entry of `lines` lines of 60 letters, streamed.
std::string LongEntry(const std::string& lines) {
  return "printf '>huge entry\\n'; yes "
         "ACGTTGCAACGTAGCTAGCTAGGATCCATGCATGCAAAATTTTCCCCGGGGACGTTGACG 2>/dev/null | head -n " +
         lines;
}

// Runs the binary on in.fa.gz, made by `make` in the run directory; `memory`: the address
// space, less than the entry or the file; an entry of a million letters is too long.
Outcome RunGzip(const std::string& make, const std::string& args, rlim_t memory = RLIM_INFINITY) {
  RunOptions o;
  o.memory = memory;
  o.job_limits = "length=1000000";
  Outcome run = RunOn({}, Words("in.fa.gz out " + args), o, "{ " + make + "; } > in.fa.gz");
  run.files.erase("in.fa.gz");
  return run;
}

// The lines a skipped entry adds to standard output and the summary, before those of the
// entry after it, and its note, before that entry's words.
Outcome WithSkippedEntry(Outcome o, const std::string& name, const std::string& letters) {
  o.out = name + "\t" + letters + "\t-\t-\t-\tskipped\n" + o.out;
  o.err = "Entry " + name + " skipped: ERROR: sequence is too long\n" + o.err;
  std::string& summary = o.files["out.summary.tsv"];
  summary.insert(summary.find('\n') + 1,
                 name + "\t" + letters + "\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tskipped\n");
  return o;
}

TEST(Memory, WhatIsNeverWrittenIsNotHeld) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs the address space";
#endif
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
  const char* all = "--all-entries --summary";
  const Outcome small_alone = RunGzip(small, all), over_first = RunGzip(over_then_small, "");
  const Outcome tiny_alone = RunGzip(tiny, ""), tiny_all = RunGzip(tiny, all);
  for (const Outcome* o : {&small_alone, &tiny_alone, &tiny_all}) ASSERT_EQ(o->status, 0) << o->err;
  ASSERT_EQ(over_first.status, 1);
  const struct {
    const char* name;
    std::string make;
    const char* args;
    Outcome want;
  } cases[] = {
      {"a too long entry skipped, then one analysed", huge_then_small, all,
       WithSkippedEntry(small_alone, "huge", "200000040")},
      {"a too long first entry", huge_then_small, "", over_first},
      {"the first entry of a padded file", padded, "", tiny_alone},
      {"every entry of a padded file", padded, all, tiny_all},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RunGzip(c.make, c.args, rlim_t{128} << 20), c.want) << c.name;
}

}  // namespace
