#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/settings.h"

namespace {

// The settings `switches` give, and the message of the first that cannot be read.
Settings Parse(std::vector<std::string> switches, std::string* message) {
  std::vector<std::string> args = {"kestra", "in.fa", "out"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  std::optional<Failure> failure;
  const Settings s = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &failure);
  *message = failure ? failure->text : "";
  return s;
}

// Numbers are read as far as they go; what fits an int is taken, both bounds included, and
// what does not is refused rather than wrapped into another value.
TEST(Options, IntegerValues) {
  std::string message;
  Settings s = Parse({"-W:abc", "-E:-3x"}, &message);
  EXPECT_EQ(message, "");
  EXPECT_EQ(s.window, 0);
  EXPECT_EQ(s.max_separation, -3);
  const std::pair<char, int Settings::*> switches[] = {{'W', &Settings::window},
                                                       {'e', &Settings::max_separation},
                                                       {'S', &Settings::random_seqs},
                                                       {'b', &Settings::random_seqs}};
  for (const auto& [letter, field] : switches) {
    const std::string prefix = std::string("-") + letter + ":";
    for (const long long value : {2147483647LL, -2147483648LL}) {
      s = Parse({prefix + std::to_string(value)}, &message);
      EXPECT_EQ(message, "") << letter << value;
      EXPECT_EQ(s.*field, value) << letter;
    }
    for (const char* value : {"2147483648", "-2147483649", "4294967396", "99999999999999999999"}) {
      Parse({prefix + value}, &message);
      EXPECT_EQ(message, "ERROR: value out of range in argument '" + prefix + value + "'\n");
    }
  }
}

// A later switch overrides an earlier one, the random source with its count; long options
// mix with the switches, and the first argument that cannot be read is the one reported.
TEST(Options, LaterSwitchesAndLongOptions) {
  std::string message;
  Settings s =
      Parse({"-R:A", "-S:100", "--threads", "3", "-R:T", "-B:3", "--seed=7", "--bed"}, &message);
  EXPECT_EQ(message, "");
  EXPECT_EQ(s.special_aa, "T");
  EXPECT_EQ(s.random, RandomSource::kGenerate);
  EXPECT_EQ(s.random_seqs, 3);
  EXPECT_EQ(s.threads, 3);
  EXPECT_EQ(s.seed, 7);
  EXPECT_TRUE(s.bed);
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--threads", "0"}, "ERROR: invalid value in argument '--threads 0'\n"},
      {{"--threads=2x"}, "ERROR: invalid value in argument '--threads=2x'\n"},
      {{"--seed", "9223372036854775808"},
       "ERROR: value out of range in argument '--seed 9223372036854775808'\n"},
      {{"--seed"}, "ERROR: value missing in argument '--seed'\n"},
      {{"--colour", "-x"}, "\nUnrecognized command line argument: '--colour'\n"},
      {{"-x", "--colour"}, "\nUnrecognized command line argument: 'X'\n"}};
  for (const auto& [args, want] : refused) {
    Parse(args, &message);
    EXPECT_EQ(message, want) << args[0];
  }
}

}  // namespace
