// KESTRA as a library: the compositionally biased segments of DNA letters held in memory, and
// of every entry of a file, with the command's exact results. C++17; link kestra::kestra
// (CMake) or `pkg-config --cflags --libs kestra`.
//
// Options that cannot be used together, or that a sequence cannot be analysed with, throw
// std::invalid_argument carrying the words the command prints for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#define KESTRA_API
#else
#define KESTRA_API __attribute__((visibility("default")))
#endif

namespace kestra {

// Every switch and long option of the command that changes a result, with its defaults.
struct Options {
  int window = 0;                  // -W: 2 or more slides a window of this many positions
  int linkage = 5;                 // -E: runs closer than this join one segment
  bool estimate_linkage = false;   // -K: the linkage distance estimated as 2/(3p)
  double window_p = 0.05;          // -P: window mode records windows below this p-value
  bool merge = true;               // false: -N, recorded windows kept apart
  std::string residues = "A";      // -R: the special residues
  // -A -T -G -C: nucleotide frequencies in the order A, T, G, C; unset: the sequence's own.
  std::optional<double> frequencies[4];
  std::optional<double> mask_p;    // -M: segments below this p-value are masked (0.05 unset)
  int shuffles = 0;                // -S: p-values from this many shuffled copies
  int generated = 0;               // -B: or from this many drawn sequences (wins over -S)
  int64_t seed = 0;                // --seed of -S and -B; 0: from the clock
  std::string background;          // --background: "input", or a file's path
  std::optional<double> mask_evalue;  // --mask-evalue: mask below this E-value instead
  bool evalues = false;            // --evalues: E-values computed, the masks unchanged
  int64_t evalue_entries = 0;      // --evalue-entries: entries the E-values are taken over
  bool keep_case = false;          // --keep-case: Mask keeps the case of unmasked letters
};

// One segment: positions 0-based, end excluded (as the table's start and end columns).
struct Segment {
  int64_t start = 0;
  int64_t end = 0;
  int64_t length = 0;
  int64_t special = 0;  // special residues in it
  double p_value = 0.0;
  bool masked = false;  // its p-value (or E-value) lies below the masking threshold
  double e_value = -1.0;  // with E-values, its p-value times the entries; -1 without
};

// The overall line: the special residues of the whole sequence against the binomial.
struct Overall {
  int64_t specials = 0;
  double p_value = 0.0;  // the tail's probability, by the normal approximation
  bool below = false;    // the lower tail: fewer than expected (the report's "(-)")
  bool valid = true;     // the normal approximation holds (no '*')
};

// Throws std::invalid_argument, as the calls do, for options the command refuses.
KESTRA_API void CheckOptions(const Options& options);

// What one sequence gives.
struct Result {
  int64_t length = 0;
  std::vector<Segment> segments;  // in the report's order
  int64_t masked_positions = 0;   // positions inside masked segments
  Overall overall;
  int linkage = 0;                  // the linkage distance used (estimated with -K)
  double special_probability = 0.0; // of a special residue at a position
  double frequencies[4] = {0, 0, 0, 0};  // A, T, G, C used
  int64_t seed = 0;                 // of the random sequences, when drawn
};

// Analyses letters as a FASTA entry holds them: characters other than ASCII letters and '-'
// are left out, as the reader leaves them out of a file. Throws std::invalid_argument for bad
// options and for a sequence that cannot be analysed (no A, C, G or T; a window longer than
// it; ...). A background file and E-values over the entries of an input need Read, or
// evalue_entries; without it a sequence counts as one entry.
KESTRA_API Result Analyse(const std::string& letters, const Options& options = {});
// The same for the `size` letters at `letters`, read where they lie, not copied first.
KESTRA_API Result AnalyseLetters(const char* letters, std::size_t size,
                                 const Options& options = {});

// The masked copy of the letters, as -L (soft: lower case) or -F (hard: N) writes it: the
// letters kept as Analyse keeps them, upper-cased unless options.keep_case, the masked
// segments' letters in lower case or N.
enum class Masking { kSoft, kHard };
KESTRA_API std::string Mask(const std::string& letters, const Result& result,
                            Masking masking = Masking::kSoft, const Options& options = {});

// An entry of a file: its name (the header up to the first space or tab), its header, its
// letters' count, and its result, or why it was skipped (the command's words).
struct Entry {
  std::string name;
  std::string header;
  int64_t length = 0;
  std::optional<std::string> skipped;
  Result result;  // when not skipped
};

// Reads every entry of the file at `path` (FASTA or FASTQ, plain or compressed with gzip,
// BGZF, bzip2, xz or zstd; "-" for standard input) and hands each to `each` in input order,
// analysing on `threads` threads; `each` runs on one thread at a time. Throws
// std::invalid_argument for bad options and std::runtime_error for an input that cannot be
// opened or read, or that holds no entry (with the command's words), once the entries read
// before are handed over; an exception `each` throws ends the reading and is thrown again.
KESTRA_API void Read(const std::string& path, const std::function<void(Entry&&)>& each,
                     const Options& options = {}, int threads = 1);

// The library's version, as `kestra --version` gives it.
KESTRA_API std::string Version();

}  // namespace kestra
