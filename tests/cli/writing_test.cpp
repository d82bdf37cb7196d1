// The outputs of a job written between its entries and between the pieces of a long one: the
// masked copy of skipped entries (no letter to analyse, or too long) and the qualities of a
// FASTQ copy, written a piece at a time by jobs that wait for their turn, hold the bytes of a
// run on one thread that writes each record whole, and the entries' notes come in input order.
#include "harness.h"

namespace {

// Entries skipped (all N; too long for length=2000) among analysed ones, two of one name.
std::string SkippedAmongAnalysed() {
  std::mt19937 rng(11);
  const std::string a = Letters(rng, 900, "ACGTA"), x = Letters(rng, 2500, "ACGTAAT");
  const std::string a2 = Letters(rng, 40, "ACGT"), rich = Letters(rng, 1999, "AAAATTGC");
  return Fasta("nn one", std::string(3001, 'N'), 61) + Fasta("a", a, 61) + Fasta("long x", x, 61) +
         Fasta("nn2", std::string(1300, 'n'), 61) + Fasta("a", a2, 61) + Fasta("empty", "", 61) +
         Fasta("rich", rich, 61);
}

TEST(WholeInputs, RecordsWrittenInPiecesAreWhole) {
  const std::string fasta = SkippedAmongAnalysed();
  for (const auto& [name, bytes] : {std::pair{"in.fa", fasta}, {"in.fq", AsFastq(fasta)}}) {
    for (const char* switches : {"-F --bed --index", "-F --line-width 0 -L", "-F --line-width 7"}) {
      const auto run = [&, name = name, bytes = bytes](const char* threads, std::string limits) {
        RunOptions o;
        o.job_limits = "length=2000" + limits;
        return RunOn(
            {{name, bytes}},
            Words(std::string(name) + " out --all-entries --threads " + threads + " " + switches),
            o);
      };
      const Outcome want = run("1", "");
      EXPECT_GT(want.out.size(), 100u) << name;
      for (const char* threads : {"1", "3"}) {
        for (const std::string limits : {"piece=320", "waiting=1,piece=320", kManyJobs}) {
          EXPECT_EQ(run(threads, "," + limits), want)
              << name << " " << switches << " " << threads << " threads, " << limits;
        }
      }
    }
  }
}

}  // namespace
