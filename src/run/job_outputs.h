// The outputs of a job of the all-entries run, and their writing. The job's thread hands them
// each entry's text and figures; they keep both in memory until the job's turn to write comes.
// At the points the thread names (between two entries, between two pieces of a long entry) they
// take that turn once they hold what a job may keep; once it has come, they write there what
// they hold: the text to the files, and what the entries written say on the standard streams,
// with their lines in the masked FASTA's index. The write step, in input order, writes the rest.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "output/outputs.h"
#include "parallel/pipeline.h"
#include "process/console.h"
#include "run/run_shell.h"

namespace kestra {

// What an entry's analysis and writing found, for the notes of its write step.
struct EntryNotes {
  std::string bed_name;  // the first field of its BED lines
  int64_t letters = 0;
  std::optional<Failure> failure;  // why it is skipped
  int linkage = 0;
  int64_t segments = 0, masked = 0;
  std::string header;  // for the masked FASTA's index, when it is written
};

// What the write steps share, one at a time: the files, the standard streams and what the
// entries told so far add up to.
struct RunWriting {
  Pipeline* pipeline = nullptr;
  RunOutputs* files = nullptr;
  std::size_t waiting = 0;  // bytes an output of a job keeps at most before the job's turn
  Console* console = nullptr;
  RunShell* shell = nullptr;
  std::size_t entries = 0;               // entries told so far
  std::optional<Failure> first_failure;  // why the first entry was skipped, if it was
  std::size_t analysed = 0;
  std::atomic<std::size_t> told{0};  // entries told, for the progress line
};

struct JobOutputs {
  uint64_t job = 0;
  TextSink sinks[kOutputKinds];
  std::vector<EntryNotes> notes;
  bool writing = false;  // the job's turn has come: its sinks write on to the files
};

// Makes the outputs (their memory kept from an earlier job) those of `job`, holding nothing.
void StartJobOutputs(JobOutputs* o, uint64_t job);
// The sinks an entry of the job is written into: those of the outputs wanted.
EntrySinks JobSinks(const RunWriting& w, JobOutputs* o);
// A point between two entries of the job or two pieces of one: outputs that hold what a job
// may keep wait here for the job's turn (running earlier jobs' pieces meanwhile); once the
// turn has come they write what they hold (and the entries' notes), and their text goes on
// to the files from then on.
void AtTurnPoint(RunWriting* w, JobOutputs* o);
// The write step: what the outputs hold reaches the files, and the job's entries are told.
void WriteJobOutputs(RunWriting* w, JobOutputs* o);

}  // namespace kestra
