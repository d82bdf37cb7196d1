// The texts the run prints, byte for byte. Some keep words from older versions of the
// tool (the usage text printed when arguments are missing, "Allocation error in InitAll()"):
// they are kept as they are for the callers that read them.
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
const char kFullHelp[] =
    "kestra - find compositionally biased segments in DNA\n"
    "\n"
    "Usage: kestra <input FASTA> <output base> [switches and long options]\n"
    "       kestra --help | --version\n"
    "\n"
    "Marks the positions that hold special residues (A by default), finds the stretches where\n"
    "they are dense, scores each with the probability that a stretch as dense arises by chance\n"
    "(a scan-statistic p-value) and writes the report <output base>.seg. A switch is one letter,\n"
    "in either case, with its value after a colon (-W:50); long options may stand anywhere\n"
    "after the two file names, a value following as the next argument or after '='.\n"
    "\n"
    "Input and output:\n"
    "  <input FASTA>  a FASTA file, plain or gzip-compressed, or a pipe (/dev/stdin); its\n"
    "                 first entry is analysed (every entry with --all-entries)\n"
    "  -F             also write <output base>.fas, the sequence with every significant\n"
    "                 segment replaced by N\n"
    "  -L             the same, the significant segments in lower case\n"
    "  --keep-case    in the .fas file, letters outside masked segments keep their input case\n"
    "                 (default: upper case)\n"
    "  --bed          also write <output base>.bed, the masked segments in BED6\n"
    "  --no-report    write no .seg file (only with -F, -L or --bed)\n"
    "\n"
    "Detection:\n"
    "  -R:letters     the special residues: distinct letters of WIYFLVMCAGHPSTNQDEKR\n"
    "                 (default A; -R:AT for A and T)\n"
    "  -E:#           linkage distance: a run of special residues joins the segment before it\n"
    "                 when its start minus that segment's end is at most # (default 5)\n"
    "  -K             estimate the linkage distance as 2/(3p), p the probability of a special\n"
    "                 residue at a position\n"
    "  -W:#           window mode: slide a window of # positions (2 or more) along the sequence\n"
    "                 and record every window whose p-value lies below -P (default: off, runs\n"
    "                 of special residues are merged instead)\n"
    "  -P:#           window mode: the p-value below which a window is recorded (default 0.05)\n"
    "  -N             window mode: keep the recorded windows apart instead of merging them\n"
    "                 (not with -F or -L)\n"
    "\n"
    "Significance:\n"
    "  -M:#           mask the segments whose p-value lies below # (default 0.05)\n"
    "  -A:# -T:# -G:# -C:#\n"
    "                 the nucleotide frequencies, each from 0 to 1, the four adding up to 1\n"
    "                 (default: those of the sequence)\n"
    "  -S:#           runs mode: p-values from # shuffled copies of the sequence instead\n"
    "  -B:#           runs mode: p-values from # sequences drawn with the nucleotide\n"
    "                 frequencies instead\n"
    "  --seed N       seed the random sequences of -S and -B: 1 to 2147483646, or 0 for the\n"
    "                 clock (default); the seed in effect is printed, and gives the same report\n"
    "\n"
    "Whole inputs:\n"
    "  --all-entries  analyse every entry of the input, each as if it stood alone in a file\n"
    "  --threads N    analyse on N threads, 1 to 1024 (default 1); the outputs are the same\n"
    "                 bytes whatever N\n"
    "\n"
    "  --help         this text\n"
    "  --version      the version\n"
    "\n"
    "Examples:\n"
    "  kestra genome.fa genome -L --bed\n"
    "      the first entry's report, its masked copy in lower case, and the masked segments\n"
    "  kestra assembly.fa.gz asm --all-entries --threads 4 -R:AT -E:10\n"
    "      every entry of an assembly: A and T special, runs at most 10 apart merged\n";
const char kOnlyFirstEntry[] =
    "Note: only the first entry was analysed; --all-entries analyses every entry\n";
const char kSkippedEntry[] = "Entry %s skipped: %s\n";
const char kRandomSeed[] = "Random seed = %s\n";
const char kNoBedName[] = "Warning: entry %s has no name for BED\n";
const char kSameBedName[] = "Warning: entry %s has the same name as entry %s\n";
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
const char kOutputIsInput[] = "ERROR: output file '%s' is the input file\n";
const char kErrorClosingReport[] = "\nerror closing output file\n";
const char kStandardOutputError[] = "Error writing standard output\n";
const char kNormalNotValid[] = "\nNormal approximation to Binomial distribution is not valid\n";
