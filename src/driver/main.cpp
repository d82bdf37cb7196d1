// kestra: finds compositionally biased segments in the first entry of a FASTA file.
#include <ctime>

#include "driver/run.h"
#include "driver/run_state.h"

int main(int argc, char** argv) {
  RunState run;
  run.start_time = std::time(nullptr);
  InitAll(argc, argv, &run);
  DetectSegments(&run);
  EstimateRandomSignificance(&run);
  return FinishReport(&run);
}
