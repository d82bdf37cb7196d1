// The frame of every run: its outputs opened, its pipeline run, its outputs sealed and then
// put in place or removed, and the elapsed time said. And the one place where an entry's
// notes are made: the warnings about its BED name and its line in the masked FASTA's index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "run/run.h"

namespace kestra {

// What the shell keeps while its run's pipeline runs.
struct RunShell {
  const RunRequest* request = nullptr;
  bool first_lines = true;  // the tables' lines of columns are written as the outputs open
  std::unordered_map<std::string, std::size_t> bed_names;  // name -> first entry with it
};

// What a run hands its shell.
struct RunBody {
  // The shell opens the outputs before the pipeline; else the pipeline opens them
  // (OpenRunOutputs) once it knows that the run writes them.
  bool opens_first = true;
  bool first_lines = true;
  // Runs the pipeline; the failure that ends the run with nothing kept.
  std::function<std::optional<Failure>(RunShell*)> pipeline;
  // What the run says once every output but the report is sealed (before the report is), and
  // once every output is in place (before the elapsed time).
  std::function<void()> sealed_but_report;
  std::function<void()> committed;
};

// Runs the body in the shell and returns the exit status: 0, or 1 when an output could not be
// written completely (it is said, and nothing is kept). A failure of the body, or an output
// that cannot be put in place, ends the process with its message.
int RunInShell(const RunRequest& r, const RunBody& body);
// Opens the run's outputs; the failure of one that cannot be made, whose reason is said.
std::optional<Failure> OpenRunOutputs(const RunShell& shell);
// The warnings about the BED name of the entry numbered `number` (from 1, in input order):
// lines that name no sequence, or the same sequence as an earlier entry's, are of no use to a
// BED reader. Empty without a BED output, or with nothing to warn of.
std::string BedNameWarnings(RunShell* shell, const std::string& name, std::size_t number);
// The entry's line in the masked FASTA's index, when one is written, the entries coming in
// input order.
void IndexEntry(RunShell* shell, const std::string& header, int64_t letters);

}  // namespace kestra
