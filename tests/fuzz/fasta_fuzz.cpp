// The FASTA reader on arbitrary bytes: from a file descriptor (plain or compressed, FASTA or
// FASTQ), and through the scanner in blocks, which must agree with each other on plain FASTA
// (see fasta_check.h).
#include <cstdint>
#include <cstdlib>

#include "fasta_check.h"

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!FastaPathsAgree(data, size, ReadFromMemoryFile(data, size))) std::abort();
  return 0;
}
