// The temporary files of the run's outputs, not yet renamed into place: recorded so that the
// exit, a failure or a signal that ends the run removes them.
#pragma once

#include <string>

namespace kestra {

// How many may be pending at once: every output and every index.
constexpr int kMaxTemporaryFiles = 8;

// Records a temporary file for removal; allocates nothing (the run may be out of memory).
// Signals that end the run should wait meanwhile.
void RememberTemporaryFile(const std::string& temp);
// Drops a file from the record, once it is renamed or removed.
void ForgetTemporaryFile(const std::string& temp);
// Removes every temporary file not yet renamed; safe anywhere, a signal handler included.
void DiscardAllTemporaryFiles();
// Makes the exit remove them too (once, however often it is asked).
void DiscardTemporaryFilesAtExit();

}  // namespace kestra
