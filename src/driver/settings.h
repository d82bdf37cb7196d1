// What the command line asks for: the one-letter switches and the long options, parsed once
// into an immutable struct, and the checks that reject inconsistent settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fatal/fatal.h"

enum class Mode { kRuns, kWindow };
enum class MaskStyle { kNone = 0, kN = 1, kLowerCase = 2 };  // -F, -L
enum class RandomSource { kNone, kShuffle, kGenerate };      // -S, -B

struct Settings {
  int window = 0;  // as given (the report prints it); 2 or more selects window mode
  int max_separation = 5;
  bool estimate_linkage = false;  // -K
  double min_p_val = 0.05;        // a window is recorded below it
  double masking_p_val = 0.05;    // a segment is masked below it
  bool merge = true;              // -N: recorded windows stay apart
  MaskStyle mask = MaskStyle::kNone;
  RandomSource random = RandomSource::kNone;  // the last -S or -B
  int random_seqs = 0;
  std::string special_aa = "A";
  double user_freq[4] = {0, 0, 0, 0};  // -A -T -G -C, in the order A, T, G, C
  bool has_user_freq[4] = {false, false, false, false};
  // Long options.
  bool all_entries = false;
  int threads = 1;
  bool bed = false;
  bool report = true;  // --no-report clears it
  int64_t seed = 0;    // 0: from the clock
  bool keep_case = false;
  bool help = false;
  bool version = false;

  Mode mode() const { return window >= 2 ? Mode::kWindow : Mode::kRuns; }
  bool user_frequencies() const;
  // Random sequences are drawn: runs mode with -S or -B of at least one sequence.
  bool draws_random() const { return random != RandomSource::kNone && random_seqs > 0; }
};

// A message that stops the run: where it goes and its bytes.
struct Failure {
  FatalStream where;
  std::string text;
};

// The fifteen accepted switch letters.
extern const char valid_args[];

// Reads argv[3..argc-1], switches and long options alike. The first argument that cannot
// be read leaves its message in *failure; the others are read all the same.
Settings ParseCommandLine(int argc, char** argv, std::optional<Failure>* failure);
// The first check that fails, in a fixed order: frequencies, incompatible switches, window
// length, then the long options. Without an entry (freq and length null) the checks that
// depend on a sequence are left out: the frequency sum (unless all four are given) and the
// window length.
std::optional<Failure> CheckSettings(const Settings& settings, const double* freq,
                                     const int* length);
// The nucleotide frequencies an entry is analysed with: the user's where given, else its own.
void EffectiveFrequencies(const Settings& settings, const double own[4], double freq[4]);
// What --help prints, and the version line.
std::string HelpText();
std::string VersionText();
