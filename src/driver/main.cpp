// kestra: finds compositionally biased segments in the entries of a FASTA file.
#include <malloc.h>

#include <cstdio>

#include "driver/output_file.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  // Progress reaches a pipe or a log as it is printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // Entry after entry needs buffers of the same few sizes: keep freed memory for the next
  // one rather than hand it back and fault it in again.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  InstallInterruptCleanup();
  return RunKestra(argc, argv);
}
