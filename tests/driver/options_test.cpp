#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

RunState Parse(std::vector<std::string> switches) {
  std::vector<std::string> args = {"kestra", "in.fa", "out"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  RunState run;
  ParseOptions(static_cast<int>(argv.size()), argv.data(), &run);
  return run;
}

TEST(Options, SwitchesSetTheRun) {
  EXPECT_EQ(Parse({"-W:50"}).window, 50);
  EXPECT_EQ(Parse({"-w:50"}).window, 50);
  EXPECT_EQ(Parse({"-W50"}).window, 0);    // the third character is skipped: "0"
  EXPECT_EQ(Parse({"-W"}).window, 0);      // too short: reads empty text
  EXPECT_EQ(Parse({"-W:abc"}).window, 0);  // not a number reads 0
  EXPECT_EQ(Parse({"-E:-3x"}).max_separation, -3);
  EXPECT_EQ(Parse({"-F", "-L"}).fasta_output, 2);
  EXPECT_EQ(Parse({"-L", "-f"}).fasta_output, 1);
  EXPECT_EQ(Parse({"-N"}).use_merge, 0);
  EXPECT_EQ(Parse({"-K"}).estimate_linkage, 1);
  EXPECT_EQ(Parse({"-P:0.9"}).min_p_val, 0.9);
  EXPECT_EQ(Parse({"-M:0.6"}).masking_p_val, 0.6);
  EXPECT_EQ(Parse({"-R:gc"}).special_aa, "GC");
  EXPECT_EQ(Parse({"-R:ACGT"}).special_aa, "ACGT");  // more than three letters are kept
  EXPECT_EQ(Parse({"-R:A", "-R:T"}).special_aa, "T");
  EXPECT_EQ(Parse({"-R"}).special_aa, "");
  EXPECT_EQ(Parse({"xW:7"}).window, 0);  // a known letter without '-' changes nothing
  const RunState s = Parse({"-S:100", "-B:3"});
  EXPECT_EQ(s.estimate_ran, 1);
  EXPECT_EQ(s.random_seqs, 3);
  const RunState f = Parse({"-A:0.4", "-t:0.1", "-G:0.2", "-C:0.3"});
  EXPECT_EQ(std::vector<double>(f.aa_freq, f.aa_freq + 4), (std::vector<double>{0.4, 0.1, 0.2, 0.3}));
  EXPECT_STREQ(f.freq_label, kUserFrequencies);
  EXPECT_STREQ(Parse({"-W:5"}).freq_label, kDefaultFrequencies);
}

}  // namespace
