// What the command line asks for: the one-letter switches and the long options, parsed once
// into an immutable struct, and the checks that reject inconsistent settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/detection_mode.h"
#include "base/mask_style.h"
#include "base/output_kind.h"
#include "base/random_source.h"
#include "command_line/messages.h"

namespace kestra {

// What --background names for the input's own composition.
constexpr char kBackgroundInput[] = "input";

struct Settings {
  int window = 0;                     // as given (the report prints it); 2 or more: window mode
  int linkage = 5;                    // -E
  bool estimate_linkage = false;      // -K
  double window_threshold = 0.05;     // -P: a window is recorded below it
  double mask_threshold = 0.05;       // -M: a segment is masked below it
  bool mask_threshold_given = false;  // -M was given
  bool merge = true;                  // -N: recorded windows stay apart
  MaskStyle mask = MaskStyle::kNone;  // -F, -L
  RandomSource random = RandomSource::kNone;  // the last -S or -B
  int random_sequences = 0;
  std::string special_residues = "A";
  double user_frequencies[4] = {0, 0, 0, 0};  // -A -T -G -C, in the order A, T, G, C
  bool has_user_frequency[4] = {false, false, false, false};
  // Long options.
  bool all_entries = false;
  int shard_index = 0, shard_count = 0;  // --shard I/N: the I-th of N parts; 0 for none
  int threads = 1;
  bool bed = false;
  bool table = false;         // the table of segments
  bool all_segments = false;  // in it, every segment, not only the masked ones
  bool summary = false;       // the table of entries
  bool no_report = false;
  bool report = true;                      // unless --no-report
  std::string output_paths[kOutputKinds];  // --report-out ...; empty: from the base name
  int line_width = 80;                     // letters a line of the masked FASTA; 0: one line
  bool compress = false;                   // every output under the base name as BGZF (.gz)
  int compress_level = -1;                 // of BGZF, 0 to 9; -1: the default
  bool index = false;                      // with the masked FASTA and a BGZF BED, their indexes
  bool quiet = false;                      // no status lines
  bool strict = false;                     // a switch misread is an error
  int64_t seed = 0;                        // 0: from the clock
  // Significance across the input: the frequencies of a background (kBackgroundInput, or a
  // file's path; empty: each entry's own), and the E-values, a segment's p-value times the
  // entries of the input (evalue_entries, or 0 for the count a survey of the input gives).
  std::string background;
  bool mask_by_evalue = false;  // --mask-evalue: mask below an E-value instead of -M's p-value
  double mask_evalue = 0.0;
  bool evalues = false;  // --evalues: computed, the masks unchanged
  int64_t evalue_entries = 0;
  bool keep_case = false;
  bool help = false;
  bool version = false;

  DetectionMode mode() const { return window >= 2 ? DetectionMode::kWindow : DetectionMode::kRuns; }
  bool frequencies_given() const;
  // Random sequences are drawn: runs mode with -S or -B of at least one sequence.
  bool draws_random() const { return random != RandomSource::kNone && random_sequences > 0; }
  // E-values are computed (and written in the tables).
  bool computes_evalues() const { return mask_by_evalue || evalues || evalue_entries > 0; }
  // The count of the input's entries, or its composition, must be had by reading it whole.
  bool surveys_entries() const { return computes_evalues() && evalue_entries == 0; }
  bool surveys_composition() const { return background == kBackgroundInput; }
};

// Reads argv[3..argc-1], switches and long options alike. The first argument that cannot
// be read leaves its message in *failure; the others are read all the same. A switch read
// otherwise than it is written (-W50 is -W:0) is read as it always was, and said in
// *misread, in words that follow "Warning: " or, with --strict, "ERROR: ".
Settings ParseCommandLine(int argc, char** argv, std::optional<Failure>* failure,
                          std::vector<std::string>* misread = nullptr);
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

}  // namespace kestra
