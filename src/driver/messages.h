// Every text the run prints on its own behalf, byte for byte.
#pragma once

extern const char kHelp[];
extern const char kCantOpenInput[];
extern const char kErrorReadingFasta[];
extern const char kSequenceTooLong[];
extern const char kNoValidNucleotides[];
extern const char kUnrecognizedArgument[];      // printf format with %c
extern const char kValueOutOfRange[];           // printf format with %s
extern const char kUnrecognizedLongArgument[];  // %s: the argument
extern const char kMissingValue[];              // %s: the argument
extern const char kInvalidValue[];              // %s: the argument as typed, value included
extern const char kNoReportAlone[];
extern const char kFullHelp[];  // what --help prints
extern const char kOnlyFirstEntry[];
extern const char kSkippedEntry[];  // %s: the entry's name, then the words of its failure
extern const char kRandomSeed[];    // %s: the seed
extern const char kNoBedName[];     // %s: the entry's number
extern const char kSameBedName[];   // %s: the entry's number, then the earlier one's
extern const char kFrequencyRange[];
extern const char kFrequencySum[];
extern const char kWindowAndRandom[];
extern const char kNoMergeLinkage[];
extern const char kNoMergeFasta[];
extern const char kWindowTooLong[];
extern const char kLinkageNotEstimable[];
extern const char kAllocationError[];
extern const char kCantOpenReport[];
extern const char kCantOpenFasta[];  // printf format with %s
extern const char kOutputIsInput[];  // %s: the output path
extern const char kErrorClosingReport[];
extern const char kStandardOutputError[];
extern const char kNormalNotValid[];
