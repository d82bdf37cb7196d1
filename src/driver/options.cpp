#include "driver/options.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/messages.h"
#include "fatal/fatal.h"
#include "sequence/composition.h"

const char valid_args[] = "WESRPNFLATGCMKB";

// The value of a switch starts at its fourth character; the third (':') is skipped whatever
// it is. A switch shorter than that reads from empty text.
static const char* ValueText(const char* arg) {
  return std::strlen(arg) >= 3 ? arg + 3 : "";
}

// An integer read as far as it goes (text that is not a number reads 0); a number beyond
// the range of int ends the run rather than wrapping into another value.
static int IntValue(const char* arg) {
  const long value = std::strtol(ValueText(arg), nullptr, 10);
  if (value < INT_MIN || value > INT_MAX) {
    std::string text = kValueOutOfRange;
    Fatal(FatalStream::kStderr, text.replace(text.find("%s"), 2, arg));
  }
  return static_cast<int>(value);
}

static double RealValue(const char* arg) { return std::strtod(ValueText(arg), nullptr); }

// The switch letter, upper-cased; NUL for an argument shorter than two characters.
static char SwitchLetter(const char* arg) {
  const char second = arg[0] == '\0' ? '\0' : arg[1];
  return static_cast<char>(std::toupper(static_cast<unsigned char>(second)));
}

static void SetFrequency(RunState* run, char letter, const char* arg) {
  run->aa_freq[FindLetter(letter, 4, kNucleotides)] = RealValue(arg);
  run->freq_label = kUserFrequencies;
}

static void ApplySwitch(RunState* run, char letter, const char* arg) {
  switch (letter) {
    case 'W': run->window = IntValue(arg); break;
    case 'E': run->max_separation = IntValue(arg); break;
    case 'S': run->estimate_ran = 2; run->random_seqs = IntValue(arg); break;
    case 'B': run->estimate_ran = 1; run->random_seqs = IntValue(arg); break;
    case 'P': run->min_p_val = RealValue(arg); break;
    case 'M': run->masking_p_val = RealValue(arg); break;
    case 'N': run->use_merge = 0; break;
    case 'K': run->estimate_linkage = 1; break;
    case 'F': run->fasta_output = 1; break;
    case 'L': run->fasta_output = 2; break;
    case 'R': run->special_aa = CopyAA(ValueText(arg)); break;
    case 'A': case 'T': case 'G': case 'C': SetFrequency(run, letter, arg); break;
    default: break;
  }
}

void ParseOptions(int argc, char** argv, RunState* run) {
  for (int i = 3; i < argc; ++i) {
    const char* arg = argv[i];
    const char letter = SwitchLetter(arg);
    if (!AAExists(letter, valid_args, 15)) {
      std::string text = kUnrecognizedArgument;
      text.replace(text.find("%c"), 2, 1, letter);
      Fatal(FatalStream::kStdout, text);
    }
    // An argument that does not begin with '-' is accepted and changes nothing.
    if (arg[0] == '-') ApplySwitch(run, letter, arg);
  }
}

static void CheckFrequencies(const double* f) {
  for (int i = 0; i < 4; ++i) {
    if (!(f[i] >= 0.0 && f[i] <= 1.0)) Fatal(FatalStream::kStderr, kFrequencyRange);
  }
  const double sum = f[0] + f[1] + f[2] + f[3];
  if (sum < 0.999 || sum > 1.001) Fatal(FatalStream::kStderr, kFrequencySum);
}

void ValidateOptions(const RunState& run, int length) {
  CheckFrequencies(run.aa_freq);
  if (run.window >= 2 && run.random_seqs >= 1) Fatal(FatalStream::kStderr, kWindowAndRandom);
  if (run.use_merge == 0) {
    if (run.window < 2) Fatal(FatalStream::kStderr, kNoMergeLinkage);
    if (run.fasta_output != 0) Fatal(FatalStream::kStderr, kNoMergeFasta);
  }
  if (run.window > length) Fatal(FatalStream::kStdoutLine, kWindowTooLong);
}
