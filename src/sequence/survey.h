// A survey of a whole input, read once before its entries are analysed: how many entries it
// holds and its A, T, G and C over all of them, counted as each entry's own letters count
// them (either case; in FASTQ the qualities are no letters), in 64-bit counts.
#pragma once

#include <cstdint>

#include "sequence/fasta.h"
#include "sequence/parallel_loop.h"

namespace kestra {

struct InputSurvey {
  int64_t entries = 0;               // every entry the reader gives, skipped ones included
  int64_t counts[4] = {0, 0, 0, 0};  // A, T, G, C
};

// Surveys the input open at `fd`: a plain FASTA file by position from its first byte (its
// offset is left alone), anything else (a compressed file, FASTQ, a pipe) from where its
// offset stands, BGZF blocks inflated through `loop`. False when it cannot be read, with the
// reason in *problem.
bool SurveyInput(int fd, const ParallelLoop* loop, InputSurvey* survey, ReadProblem* problem);

// The survey of FASTA text fed a block at a time, as the reader splits it into entries: an
// entry starts at a '>' outside a header line, and its header line runs to the next '\n';
// bytes before the first entry belong to none.
struct FastaTextSurvey {
  InputSurvey* survey;
  bool started = false;    // the first entry has begun
  bool in_header = false;  // inside a header line
};
void SurveyFastaText(FastaTextSurvey* s, const char* data, std::size_t n);
// Adds the A, T, G and C of [p, end), either case, to counts[0..3].
void CountNucleotides(const char* p, const char* end, int64_t counts[4]);

}  // namespace kestra
