#include "run/job_outputs.h"

#include "command_line/messages.h"

namespace kestra {
namespace {

// The words of a message, without the line ends around them.
std::string MessageWords(const std::string& text) {
  const std::size_t from = text.find_first_not_of('\n');
  const std::size_t to = text.find_last_not_of('\n');
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

// The line an entry gives on standard output.
std::string EntryLine(const Settings& s, const EntryNotes& e) {
  const std::string line = e.bed_name + "\t" + std::to_string(e.letters);
  if (e.failure) return line + "\t-\t-\t-\tskipped\n";
  const std::string masked = s.mask != MaskStyle::kNone ? std::to_string(e.masked) : "-";
  return line + "\t" + std::to_string(e.linkage) + "\t" + std::to_string(e.segments) + "\t" +
         masked + "\tanalysed\n";
}

// What an entry says, the next in input order: the warnings about its BED name and why it is
// skipped, its line, and its line in the masked FASTA's index.
void Tell(RunWriting* w, const EntryNotes& e) {
  const std::size_t number = ++w->entries;
  w->told = number;
  std::string err = BedNameWarnings(w->shell, e.bed_name, number);
  if (e.failure) {
    err += Formatted(kSkippedEntry, e.bed_name, MessageWords(e.failure->text));
    if (number == 1) w->first_failure = e.failure;
  } else {
    ++w->analysed;
  }
  if (!err.empty()) ConsoleErr(w->console, err);
  ConsoleOut(w->console, EntryLine(*w->shell->request->settings, e));
  if (w->files->index_wanted[kFastaIndex]) IndexEntry(w->shell, e.header, e.letters);
}

// Writes what the outputs hold and lets them write on to the files.
void WriteThrough(RunWriting* w, JobOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    o->sinks[k].to = &w->files->destinations[k];
    SinkFlush(&o->sinks[k]);
  }
  o->writing = true;
}

// Tells what the entries written so far say.
void TellNotes(RunWriting* w, JobOutputs* o) {
  for (const EntryNotes& notes : o->notes) Tell(w, notes);
  o->notes.clear();
}

bool HoldsWhatAJobMayKeep(const RunWriting& w, const JobOutputs& o) {
  for (const TextSink& sink : o.sinks) {
    if (sink.used >= w.waiting) return true;
  }
  return false;
}

}  // namespace

void StartJobOutputs(JobOutputs* o, uint64_t job) {
  o->job = job;
  for (TextSink& sink : o->sinks) sink.to = nullptr;
  o->notes.clear();
  o->writing = false;
}

EntrySinks JobSinks(const RunWriting& w, JobOutputs* o) { return SinksFor(*w.files, o->sinks); }

void AtTurnPoint(RunWriting* w, JobOutputs* o) {
  if (!o->writing) {
    if (HoldsWhatAJobMayKeep(*w, *o)) {
      TakeTurn(w->pipeline, o->job);
    } else if (!HasTurn(w->pipeline, o->job)) {
      return;
    }
    WriteThrough(w, o);
  }
  TellNotes(w, o);
}

void WriteJobOutputs(RunWriting* w, JobOutputs* o) {
  if (!o->writing) WriteThrough(w, o);
  for (TextSink& sink : o->sinks) {
    SinkFlush(&sink);
    sink.to = nullptr;
  }
  o->writing = false;
  TellNotes(w, o);
}

}  // namespace kestra
