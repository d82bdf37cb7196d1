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

// What the end-to-end cases do not show: numbers read as far as they go, and a later
// switch overriding an earlier one.
TEST(Options, NumbersAndLaterSwitches) {
  EXPECT_EQ(Parse({"-W:abc"}).window, 0);
  EXPECT_EQ(Parse({"-E:-3x"}).max_separation, -3);
  EXPECT_EQ(Parse({"-R:A", "-R:T"}).special_aa, "T");
  const RunState s = Parse({"-S:100", "-B:3"});
  EXPECT_EQ(s.estimate_ran * 10 + s.random_seqs, 13);
}

}  // namespace
