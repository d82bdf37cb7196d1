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
