// The settings and working data of one run, owned by main and passed by reference.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "driver/output_file.h"
#include "random/generator.h"
#include "report/report.h"
#include "report/sink.h"
#include "segments/segments.h"
#include "sequence/fasta.h"

extern const char kDefaultFrequencies[];
extern const char kUserFrequencies[];

struct RunState {
  // Settings, from the command line.
  int window = 0;           // below 2: runs mode; 2 or more: scanning window length
  int max_separation = 5;   // linkage distance
  double min_p_val = 0.05;  // a window is recorded below this p-value
  double masking_p_val = 0.05;
  int use_merge = 1;         // merge recorded windows
  int estimate_linkage = 0;  // estimate max_separation from P_special
  int fasta_output = 0;      // 0 none, 1 mask with N, 2 mask with lower case
  int estimate_ran = 0;      // 2 shuffled, 1 generated random sequences
  int random_seqs = 0;
  std::string special_aa = "A";
  double aa_freq[4] = {0, 0, 0, 0};  // A, T, G, C
  const char* freq_label = kDefaultFrequencies;

  // Working data.
  std::time_t start_time = 0;
  FastaEntry entry;              // header and upper-cased letters of the first entry
  int length = 0;                // number of letters
  double P_special = 0.0;        // probability of a special residue at a position
  std::vector<char> binary_seq;  // '1'/'0' per position, plus a final '0'
  WindowScores window_scores;    // window mode: the p-value of each window count
  SegmentSource segments;        // what the report lists: the merged runs, or the windows
  Ran1 generator;                // random sequences are drawn from it
  RandomMaxCounts random_max;    // largest merged lengths of the random sequences
  TextSink out;                  // the report (.seg)
  TextSink fasta_out;            // the masked copy (.fas)
  OutputFile report_file;        // where they go; none for a run kept in memory
  OutputFile fasta_file;
};
