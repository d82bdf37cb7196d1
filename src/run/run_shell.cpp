#include "run/run_shell.h"

#include "command_line/messages.h"
#include "process/process.h"

namespace kestra {

int RunInShell(const RunRequest& r, const RunBody& body) {
  RunShell shell;
  shell.request = &r;
  shell.first_lines = body.first_lines;
  std::optional<Failure> failure;
  if (body.opens_first) failure = OpenRunOutputs(shell);
  if (!failure) failure = body.pipeline(&shell);
  // A failure ends the run with nothing kept, its compression threads stopped first.
  if (failure) {
    DiscardOutputs(r.outputs);
    Fail(*failure);
  }
  bool ok = SealAllButReport(r.outputs);
  if (body.sealed_but_report) body.sealed_but_report();
  ok = SealReport(r.outputs) && ok;
  if (!ok) {
    DiscardOutputs(r.outputs);
    return 1;
  }
  // The outputs put in place before the one that could not be stay; the rest go at the exit.
  if (auto cannot = CommitOutputs(r.outputs)) Fail(*cannot);
  if (body.committed) body.committed();
  PrintElapsedTime(r.start);
  return 0;
}

std::optional<Failure> OpenRunOutputs(const RunShell& shell) {
  const RunRequest& r = *shell.request;
  return OpenOutputs(r.outputs, shell.first_lines, r.settings->threads);
}

std::string BedNameWarnings(RunShell* shell, const std::string& name, std::size_t number) {
  if (!shell->request->settings->bed) return "";
  if (name.empty()) return Formatted(kNoBedName, std::to_string(number));
  const auto seen = shell->bed_names.emplace(name, number);
  if (seen.second) return "";
  return Formatted(kSameBedName, std::to_string(number), std::to_string(seen.first->second));
}

void IndexEntry(RunShell* shell, const std::string& header, int64_t letters) {
  const RunRequest& r = *shell->request;
  IndexFastaRecord(r.outputs, header, letters, r.settings->line_width);
}

}  // namespace kestra
