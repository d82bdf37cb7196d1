#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/fatal.h"
#include "driver/messages.h"

namespace {

struct FatalCall {
  FatalStream where;
  std::string text;
};

void ThrowFatal(FatalStream where, std::string_view text) {
  throw FatalCall{where, std::string(text)};
}

// Runs f with fatal conditions turned into exceptions; returns the message, or "" if none.
template <typename F>
std::string FatalMessage(F f, FatalStream* where = nullptr) {
  const FatalHandler previous = SetFatalHandler(ThrowFatal);
  std::string message;
  try {
    f();
  } catch (const FatalCall& call) {
    message = call.text;
    if (where != nullptr) *where = call.where;
  }
  SetFatalHandler(previous);
  return message;
}

RunState Parse(std::vector<std::string> switches, std::string* message = nullptr) {
  std::vector<std::string> args = {"kestra", "in.fa", "out"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  RunState run;
  run.aa_freq[0] = 0.25, run.aa_freq[1] = 0.25, run.aa_freq[2] = 0.25, run.aa_freq[3] = 0.25;
  const std::string m =
      FatalMessage([&] { ParseOptions(static_cast<int>(argv.size()), argv.data(), &run); });
  if (message != nullptr) *message = m;
  return run;
}

TEST(Options, SwitchesSetTheRun) {
  EXPECT_EQ(Parse({"-W:50"}).window, 50);
  EXPECT_EQ(Parse({"-w:50"}).window, 50);
  EXPECT_EQ(Parse({"-W50"}).window, 0);      // the third character is skipped: "0"
  EXPECT_EQ(Parse({"-W"}).window, 0);        // too short: reads empty text
  EXPECT_EQ(Parse({"-W:abc"}).window, 0);    // not a number reads 0
  EXPECT_EQ(Parse({"-E:-3x"}).max_separation, -3);
  EXPECT_EQ(Parse({"-E"}).max_separation, 0);
  EXPECT_EQ(Parse({"-f"}).fasta_output, 1);
  EXPECT_EQ(Parse({"-F", "-L"}).fasta_output, 2);
  EXPECT_EQ(Parse({"-L", "-F"}).fasta_output, 1);
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
  const RunState b = Parse({"-B:3", "-S:100"});
  EXPECT_EQ(b.estimate_ran, 2);
  EXPECT_EQ(b.random_seqs, 100);

  const RunState f = Parse({"-A:0.4", "-T:0.1", "-G:0.2", "-C:0.3"});
  EXPECT_EQ(f.aa_freq[0], 0.4);
  EXPECT_EQ(f.aa_freq[1], 0.1);
  EXPECT_EQ(f.aa_freq[2], 0.2);
  EXPECT_EQ(f.aa_freq[3], 0.3);
  EXPECT_STREQ(f.freq_label, kUserFrequencies);
  EXPECT_STREQ(Parse({"-W:5"}).freq_label, kDefaultFrequencies);
}

TEST(Options, UnrecognisedArguments) {
  struct Case {
    const char* name;
    std::string arg;
    std::string message;
  };
  const Case cases[] = {
      {"unknown letter, upper-cased", "-x", "\nUnrecognized command line argument: 'X'\n"},
      {"the first character plays no part", "+q", "\nUnrecognized command line argument: 'Q'\n"},
      {"one character has NUL second", "-", std::string("\nUnrecognized command line argument: '") +
                                               '\0' + "'\n"},
      {"empty argument", "", std::string("\nUnrecognized command line argument: '") + '\0' + "'\n"},
  };
  for (const Case& c : cases) {
    std::string message;
    Parse({"-W:3", c.arg}, &message);
    EXPECT_EQ(message, c.message) << c.name;
  }
}

TEST(Options, Validation) {
  struct Case {
    const char* name;
    std::vector<std::string> switches;
    int length;
    std::string message;
    FatalStream where;
  };
  const FatalStream err = FatalStream::kStderr;
  const Case cases[] = {
      {"defaults pass", {}, 100, "", err},
      {"frequency above 1", {"-A:1.5", "-T:-0.5", "-G:0", "-C:0"}, 100, kFrequencyRange, err},
      {"frequency below 0", {"-A:0.5", "-T:-0.1", "-G:0.3", "-C:0.3"}, 100, kFrequencyRange, err},
      {"frequency not a number", {"-A:nan"}, 100, kFrequencyRange, err},
      {"sum off by more than 0.001", {"-A:0.4"}, 100, kFrequencySum, err},
      {"sum within 0.001", {"-A:0.2505"}, 100, "", err},
      {"window with random sequences", {"-W:50", "-S:100"}, 100, kWindowAndRandom, err},
      {"window with zero random sequences", {"-W:50", "-S:0"}, 100, "", err},
      {"no merge in runs mode", {"-N"}, 100, kNoMergeLinkage, err},
      {"no merge with masked output", {"-N", "-W:20", "-F"}, 100, kNoMergeFasta, err},
      {"no merge in window mode", {"-N", "-W:20"}, 100, "", err},
      {"window longer than the sequence", {"-W:500"}, 400, kWindowTooLong,
       FatalStream::kStdoutLine},
      {"window as long as the sequence", {"-W:400"}, 400, "", err},
  };
  for (const Case& c : cases) {
    const RunState run = Parse(c.switches);
    FatalStream where = err;
    const std::string message = FatalMessage([&] { ValidateOptions(run, c.length); }, &where);
    EXPECT_EQ(message, c.message) << c.name;
    if (!c.message.empty()) {
      EXPECT_EQ(where, c.where) << c.name;
    }
  }
}

}  // namespace
