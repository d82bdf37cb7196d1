// The FASTA reader on arbitrary bytes: from a file descriptor (plain or gzip), and through
// the scanner in blocks, which must agree with each other (see fasta_check.h).
#include <cstdint>
#include <cstdlib>

#include "fasta_check.h"

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!FastaPathsAgree(data, size, ReadFromMemoryFile(data, size))) std::abort();
  return 0;
}
