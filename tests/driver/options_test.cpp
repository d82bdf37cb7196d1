#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/settings.h"

namespace {

// The settings `switches` give, and the first argument that could not be read.
Settings Parse(std::vector<std::string> switches, std::optional<Failure>* failure) {
  std::vector<std::string> args = {"kestra", "in.fa", "out"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), failure);
}

// Numbers are read as far as they go; what fits an int is taken, both bounds included, and
// what does not is refused rather than wrapped into another value. (The messages are pinned
// end to end.)
TEST(Options, IntegerValues) {
  std::optional<Failure> failure;
  Settings s = Parse({"-W:abc", "-E:-3x"}, &failure);
  EXPECT_FALSE(failure);
  EXPECT_EQ(s.window, 0);
  EXPECT_EQ(s.linkage, -3);
  const std::pair<char, int Settings::*> switches[] = {{'W', &Settings::window},
                                                       {'e', &Settings::linkage},
                                                       {'S', &Settings::random_sequences},
                                                       {'b', &Settings::random_sequences}};
  for (const auto& [letter, field] : switches) {
    const std::string prefix = std::string("-") + letter + ":";
    for (const long long value : {2147483647LL, -2147483648LL}) {
      s = Parse({prefix + std::to_string(value)}, &failure);
      EXPECT_FALSE(failure) << letter << value;
      EXPECT_EQ(s.*field, value) << letter;
    }
    for (const char* value : {"2147483648", "-2147483649", "4294967396", "99999999999999999999"}) {
      Parse({prefix + value}, &failure);
      ASSERT_TRUE(failure) << prefix << value;
      EXPECT_NE(failure->text.find(prefix + value), std::string::npos);
    }
  }
}

// A later switch overrides an earlier one, the random source with its count; long options
// mix with the switches, seeds take their whole range, and the first argument that cannot be
// read is the one reported.
TEST(Options, LaterSwitchesAndLongOptions) {
  std::optional<Failure> failure;
  Settings s =
      Parse({"-R:A", "-S:100", "--threads", "3", "-R:T", "-B:3", "--seed=7", "--bed"}, &failure);
  EXPECT_FALSE(failure);
  EXPECT_EQ(s.special_residues, "T");
  EXPECT_EQ(s.random, RandomSource::kGenerate);
  EXPECT_EQ(s.random_sequences, 3);
  EXPECT_EQ(s.threads, 3);
  EXPECT_EQ(s.seed, 7);
  EXPECT_TRUE(s.bed);
  for (const char* seed : {"0", "1", "2147483646"}) {
    s = Parse({"--seed", seed}, &failure);
    EXPECT_FALSE(failure) << seed;
    EXPECT_EQ(s.seed, std::stoll(seed));
  }
  const std::vector<std::string> refused[] = {
      {"--threads", "0"},    {"--threads=2x"}, {"--threads=1025"}, {"--seed", "-1"},
      {"--seed=2147483647"}, {"--seed"},       {"--colour", "-x"}, {"-x", "--colour"}};
  for (const auto& args : refused) {
    Parse(args, &failure);
    ASSERT_TRUE(failure) << args[0];
    const std::string first = args[0].substr(0, args[0].find('=')).substr(args[0] == "-x" ? 1 : 0);
    EXPECT_NE(failure->text.find(first == "x" ? "X" : first), std::string::npos) << failure->text;
  }
}

}  // namespace
