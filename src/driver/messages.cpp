#include "driver/messages.h"

const char kHelp[] =
    "\n"
    "Find compositionally biased segments in DNA sequence.\n"
    "\n"
    "KESTRA <FASTA sequence> <output file> [optional arguments]\n"
    "\n"
    "Optional arguments:\n"
    "\n"
    "-W:# - scanning window size (OFF by default)\n"
    "-E:# - fragments closer than this number of positions will be merged (5 by default)\n"
    "-S:# - shuffle the original sequence # times to generate random sequences\n"
    "-B:# - use a.a. frequencies to generate # random sequences\n"
    "-F   - output QEL-like masked sequence in FASTA format (segments with Prob < min. p-value "
    "are masked by N's)\n"
    "-L   - output QEL-like masked sequence in FASTA format and mask segments using lower-case "
    "letters\n"
    "-N   - do not merge overlapping/adjacent scanning windows\n"
    "-K   - estimate linkage distance from expected number of occurrences\n"
    "-R:string - special residues (default: A)\n"
    "-P:# - min. p-value for merging adjacent scanning windows (0.05 by default)\n"
    "-M:# - min. p-value for masking FASTA output (0.05 by default)\n"
    "-A:# - frequency of A\n"
    "-T:# - frequency of T\n"
    "-G:# - frequency of G\n"
    "-C:# - frequency of C\n"
    "NOTE: by default, frequencies are estimated using the input sequence\n";
const char kCantOpenInput[] = "\nCan't open input file\n";
const char kErrorReadingFasta[] = "\nError reading FASTA file\n";
const char kSequenceTooLong[] = "\nERROR: sequence is too long\n";
const char kNoValidNucleotides[] = "\nNo valid nucleotides were found\n";
const char kUnrecognizedArgument[] = "\nUnrecognized command line argument: '%c'\n";
const char kValueOutOfRange[] = "ERROR: value out of range in argument '%s'\n";
const char kUnrecognizedLongArgument[] = "\nUnrecognized command line argument: '%s'\n";
const char kMissingValue[] = "ERROR: value missing in argument '%s'\n";
const char kInvalidValue[] = "ERROR: invalid value in argument '%s'\n";
const char kNoReportAlone[] = "ERROR: --no-report needs -F, -L or --bed\n";
const char kLongOptionsHelp[] =
    "Long options (anywhere after the two file names):\n"
    "\n"
    "--all-entries - analyse every entry of the input, not only the first\n"
    "--threads N   - analyse up to N entries at once (1 by default)\n"
    "--bed         - also write the masked segments to <output file>.bed (BED6)\n"
    "--no-report   - write no <output file>.seg (with -F, -L or --bed)\n"
    "--seed N      - seed the random sequences of -S and -B with N (0, the default: the clock)\n"
    "--keep-case   - letters outside masked segments keep their input case in the FASTA output\n"
    "--help        - this text\n"
    "--version     - the version\n";
const char kOnlyFirstEntry[] =
    "Note: only the first entry was analysed; --all-entries analyses every entry\n";
const char kSkippedEntry[] = "Entry %s skipped: %s\n";
const char kRandomSeed[] = "Random seed = %lld\n";
const char kFrequencyRange[] = "ERROR: nucleotide frequencies must lie between 0 and 1\n";
const char kFrequencySum[] = "ERROR: nucleotide frequencies do not add up to 1.0\n";
const char kWindowAndRandom[] = "Incompatible switches: scanning window+random sequences\n";
const char kNoMergeLinkage[] = "Incompatible switches: no merge+use linkage\n";
const char kNoMergeFasta[] = "Incompatible switches: no merge+fasta output\n";
const char kWindowTooLong[] = "\nERROR: window is longer than the sequence";
const char kLinkageNotEstimable[] =
    "ERROR: linkage distance cannot be estimated when the special residues have zero "
    "frequency\n";
const char kAllocationError[] = "\nAllocation error in InitAll()";
const char kCantOpenReport[] = "\nCan't open output file\n";
const char kCantOpenFasta[] = "\nCan't open output file %s\n";
const char kErrorClosingReport[] = "\nerror closing output file\n";
const char kStandardOutputError[] = "Error writing standard output\n";
const char kNormalNotValid[] = "\nNormal approximation to Binomial distribution is not valid\n";
