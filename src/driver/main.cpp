// kestra: finds compositionally biased segments in the first entry of a FASTA file.
#include <cstdio>
#include <ctime>
#include <new>

#include "driver/messages.h"
#include "driver/output_file.h"
#include "driver/run.h"
#include "driver/run_state.h"
#include "fatal/fatal.h"

int main(int argc, char** argv) {
  // Progress reaches a pipe or a log as it is printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  InstallInterruptCleanup();
  RunState run;
  run.start_time = std::time(nullptr);
  int status = 1;
  try {
    InitAll(argc, argv, &run);
    DetectSegments(&run);
    EstimateRandomSignificance(&run);
    status = FinishReport(&run);
  } catch (const std::bad_alloc&) {
    Fatal(FatalStream::kStdoutLine, kAllocationError);  // the exit removes temporary outputs
  }
  return status == 0 ? CheckStandardOutput() : status;
}
