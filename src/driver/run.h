// The stages of one run, in the order main calls them.
#pragma once

#include "driver/run_state.h"

// Start-up: reads the input, prepares the sequence, applies and checks the switches,
// encodes the sequence and opens the outputs. Returns only when the run can proceed.
void InitAll(int argc, char** argv, RunState* run);
// The start-up steps after the input is read: prepares run->entry, applies and checks the
// switches of argv, encodes the sequence, seeds the generator and writes the report's header
// lines into run->out.
void PrepareRun(int argc, char** argv, RunState* run);
// Runs or scanning-window detection, then merging: what the report will list.
void DetectSegments(RunState* run);
// The random-maximum distribution, when random sequences were asked for.
void EstimateRandomSignificance(RunState* run);
// Writes the report and the masked copy, closes them and puts them into place; returns the
// exit status.
int FinishReport(RunState* run);
// After a run that succeeded: 0 when everything printed reached standard output, else 1 with
// a message on standard error (the output files, complete, stay).
int CheckStandardOutput();
