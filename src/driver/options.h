// The command line: switches from the third argument on, and the checks that reject
// inconsistent settings before any output file is opened.
#pragma once

#include "driver/run_state.h"

// The fifteen accepted switch letters.
extern const char valid_args[];

// Applies argv[3..argc-1] to the settings; an unrecognised letter ends the run.
void ParseOptions(int argc, char** argv, RunState* run);
// Ends the run on the first failed check: frequencies, incompatible switches, window length.
void ValidateOptions(const RunState& run, int length);
