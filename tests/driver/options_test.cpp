#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fatal/fatal.h"

namespace {

void ThrowMessage(FatalStream, std::string_view text) { throw std::string(text); }

// The settings after parsing `switches`, or the message that stopped the run.
std::string Parse(std::vector<std::string> switches, RunState* run) {
  std::vector<std::string> args = {"kestra", "in.fa", "out"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  const FatalHandler previous = SetFatalHandler(ThrowMessage);
  std::string message;
  try {
    ParseOptions(static_cast<int>(argv.size()), argv.data(), run);
  } catch (const std::string& m) {
    message = m;
  }
  SetFatalHandler(previous);
  return message;
}

// Numbers are read as far as they go; what fits an int is taken, both bounds included, and
// what does not is refused rather than wrapped into another value.
TEST(Options, IntegerValues) {
  RunState run;
  EXPECT_EQ(Parse({"-W:abc", "-E:-3x"}, &run), "");
  EXPECT_EQ(run.window, 0);
  EXPECT_EQ(run.max_separation, -3);
  const std::pair<char, int RunState::*> switches[] = {{'W', &RunState::window},
                                                       {'e', &RunState::max_separation},
                                                       {'S', &RunState::random_seqs},
                                                       {'b', &RunState::random_seqs}};
  for (const auto& [letter, field] : switches) {
    const std::string prefix = std::string("-") + letter + ":";
    for (const long long value : {2147483647LL, -2147483648LL}) {
      EXPECT_EQ(Parse({prefix + std::to_string(value)}, &run), "") << letter << value;
      EXPECT_EQ(run.*field, value) << letter;
    }
    for (const char* value : {"2147483648", "-2147483649", "4294967396", "99999999999999999999"}) {
      EXPECT_EQ(Parse({prefix + value}, &run),
                "ERROR: value out of range in argument '" + prefix + value + "'\n");
    }
  }
}

// A later switch overrides an earlier one, the random source with its count.
TEST(Options, LaterSwitchesWin) {
  RunState run;
  EXPECT_EQ(Parse({"-R:A", "-S:100", "-R:T", "-B:3"}, &run), "");
  EXPECT_EQ(run.special_aa, "T");
  EXPECT_EQ(run.estimate_ran, 1);
  EXPECT_EQ(run.random_seqs, 3);
}

}  // namespace
