// kestra: finds compositionally biased segments in the entries of a FASTA file.
#include "driver/output_file.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  InstallInterruptCleanup();
  return RunKestra(argc, argv);
}
