// A whole run: the command line, the input, every entry analysed and written, the exit
// status.
#pragma once

// Runs kestra with its command line; returns the exit status (fatal conditions end the
// process through the fatal path).
int RunKestra(int argc, char** argv);
// After a run that succeeded: 0 when everything printed reached standard output, else 1 with
// a message on standard error (the output files, complete, stay).
int CheckStandardOutput();
