// kestra: finds compositionally biased segments in the entries of a FASTA file.
#include <cstdio>

#include "driver/output_file.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  // Progress reaches a pipe or a log as it is printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  InstallInterruptCleanup();
  return RunKestra(argc, argv);
}
