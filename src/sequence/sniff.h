// What a regular file holds, told from its first bytes (or its first text) without reading
// its entries: whether it is compressed, FASTQ, or FASTA in BGZF blocks. IsFastqFile and
// IsPlainFile, declared in fasta.h, are told here too.
#pragma once

#include "sequence/parallel_loop.h"

namespace kestra {

// Whether a regular file's text is plain FASTA: not compressed, and not FASTQ (its first
// byte that is not blank is not '@'). One that cannot be read counts as FASTA, for the
// reader of its ranges to tell.
bool HoldsPlainFasta(int fd);
// Whether a regular file's first member is a BGZF block.
bool BeginsWithBlock(int fd);
// Whether the text of a BGZF file holds FASTA: its first byte that is not blank is not '@'.
// Its blocks are inflated from the first, one at a time, up to the one that holds that byte;
// one that cannot be read counts as FASTQ, for the reading from the start to tell.
bool BlocksHoldFasta(int fd, const ParallelLoop* loop);

}  // namespace kestra
