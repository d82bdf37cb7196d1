// The stages of one run, in the order main calls them.
#pragma once

#include "driver/run_state.h"

// Start-up: reads the input, prepares the sequence, applies and checks the switches,
// encodes the sequence and opens the outputs. Returns only when the run can proceed.
void InitAll(int argc, char** argv, RunState* run);
// Runs or scanning-window detection, then merging: what the report will list.
void DetectSegments(RunState* run);
// The random-maximum distribution, when random sequences were asked for.
void EstimateRandomSignificance(RunState* run);
// Writes the report and the masked copy, closes them; returns the exit status.
int FinishReport(RunState* run);
