#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "command_line/settings.h"

using namespace kestra;

namespace {

using Args = std::vector<std::string>;

// The settings `switches` give, the first argument that could not be read, and the words
// of the switches misread.
Settings Parse(Args switches, std::optional<Failure>* failure, Args* misread = nullptr) {
  Args args = {"kestra", "in.fa", "out"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), failure, misread);
}

// `args` are refused, in words that name `named` (the first argument when null).
void ExpectRefused(const Args& args, const char* named = nullptr) {
  std::optional<Failure> failure;
  Parse(args, &failure);
  ASSERT_TRUE(failure) << ::testing::PrintToString(args);
  EXPECT_NE(failure->text.find(named != nullptr ? named : args[0]), std::string::npos)
      << failure->text;
}

// Numbers are read as far as they go; what fits an int is taken, both bounds included, and
// what does not is refused, not wrapped into another value, by every integer switch. (The
// messages are pinned end to end.)
TEST(Options, IntegerValues) {
  std::optional<Failure> failure;
  const std::pair<const char*, int> taken[] = {
      {"-W:2147483647", INT_MAX}, {"-W:-2147483648", INT_MIN}, {"-w:abc", 0}, {"-W:-3x", -3}};
  for (const auto& [arg, window] : taken) {
    EXPECT_EQ(Parse({arg}, &failure).window, window) << arg;
    EXPECT_FALSE(failure) << arg;
  }
  for (const char* arg :
       {"-W:2147483648", "-e:-2147483649", "-S:99999999999999999999", "-b:4294967396"}) {
    ExpectRefused({arg});
  }
}

// A later switch overrides an earlier one, the random source with its count; long options mix
// with the switches, and the first argument that cannot be read is the one reported.
TEST(Options, LaterSwitchesAndLongOptions) {
  std::optional<Failure> failure;
  const Settings s = Parse(
      {"-R:A", "-S:100", "--threads", "3", "-R:T", "-B:3", "--seed=2147483646", "--bed"}, &failure);
  EXPECT_FALSE(failure);
  EXPECT_EQ(
      std::make_tuple(s.special_residues, s.random, s.random_sequences, s.threads, s.seed, s.bed),
      std::make_tuple("T", RandomSource::kGenerate, 3, 3, 2147483646, true));
  EXPECT_EQ(Parse({"--seed", "0"}, &failure).seed, 0);  // the clock's
  EXPECT_FALSE(failure);
  // Refusals besides those of the end-to-end cases, and what the message must name.
  const std::pair<Args, const char*> refused[] = {{{"--threads", "0"}, "--threads"},
                                                  {{"--threads=2x"}, "--threads"},
                                                  {{"--threads=1025"}, "--threads"},
                                                  {{"--colour", "-x"}, "--colour"},
                                                  {{"-x", "--colour"}, "'X'"}};
  for (const auto& [args, named] : refused) ExpectRefused(args, named);
}

// A bare switch is told the form meant only when the next argument reads whole as its value,
// and that argument is read on its own all the same. (The hint's words are pinned end to end.)
TEST(Options, ValueGivenApart) {
  const struct {
    Args args;
    bool hinted;
    bool refused;  // the next argument stops the run: its letter is no switch
  } rows[] = {
      {{"-E", "25"}, true, true},  {{"-e", "-3"}, true, true},      {{"-P", "1e-3"}, true, false},
      {{"-R", "at"}, true, false}, {{"-E", "2x"}, false, true},     {{"-S", "2.5"}, false, true},
      {{"-R", "AU"}, false, true}, {{"-E", "--bed"}, false, false}, {{"-E:", "25"}, false, true},
      {{"-W", ""}, false, true},
  };
  for (const auto& row : rows) {
    std::optional<Failure> failure;
    Args misread;
    Parse(row.args, &failure, &misread);
    const std::string meant = "as in '" + row.args[0].substr(0, 2) + ":" + row.args[1] + "'";
    ASSERT_FALSE(misread.empty()) << row.args[0] << " " << row.args[1];
    EXPECT_EQ(misread[0].find(meant) != std::string::npos, row.hinted) << misread[0];
    EXPECT_EQ(failure.has_value(), row.refused) << row.args[0] << " " << row.args[1];
  }
}

// The options of significance across the input: what each needs of a survey of the input,
// and the values refused.
TEST(Options, SignificanceAcrossTheInput) {
  std::optional<Failure> failure;
  const std::pair<Args, std::vector<bool>> cases[] = {
      // E-values, surveys entries, composition
      {{}, {false, false, false}},
      {{"--background", "input"}, {false, false, true}},
      {{"--background=genome.fa"}, {false, false, false}},
      {{"--mask-evalue", "0.05"}, {true, true, false}},
      {{"--evalues"}, {true, true, false}},
      {{"--evalue-entries", "12"}, {true, false, false}},
      {{"--mask-evalue=1e-3", "--evalue-entries", "9223372036854775807"}, {true, false, false}}};
  for (const auto& [args, needs] : cases) {
    const Settings s = Parse(args, &failure);
    EXPECT_FALSE(failure) << ::testing::PrintToString(args);
    EXPECT_EQ(
        (std::vector<bool>{s.computes_evalues(), s.surveys_entries(), s.surveys_composition()}),
        needs)
        << ::testing::PrintToString(args);
  }
  EXPECT_EQ(Parse({"--mask-evalue=1e-3"}, &failure).mask_evalue, 1e-3);
  EXPECT_EQ(Parse({"--evalue-entries=7"}, &failure).evalue_entries, 7);
  for (const Args& args : std::vector<Args>{{"--mask-evalue", "nan"},
                                            {"--mask-evalue", " 1"},
                                            {"--mask-evalue=0.1x"},
                                            {"--mask-evalue="},
                                            {"--evalue-entries", "9223372036854775808"},
                                            {"--evalue-entries", "-3"},
                                            {"--background="}}) {
    ExpectRefused(args);
  }
}

}  // namespace
