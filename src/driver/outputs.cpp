#include "driver/outputs.h"

#include <sys/stat.h>

#include <cstdio>

#include "driver/messages.h"

namespace {

const char* const kSuffix[kOutputKinds] = {".seg", ".fas", ".bed"};

// A report, masked FASTA or BED file that cannot be created or put in place ends the run;
// the exit removes whatever temporary output is left.
[[noreturn]] void CannotOpen(const RunOutputs& o, int which) {
  if (which == kReportFile) Fail({Stream::kStdoutLine, kCantOpenReport});
  Fail({Stream::kStderr, Formatted(kCantOpenFasta, o.files[which].path)});
}

}  // namespace

void ChooseOutputs(const Settings& s, const std::string& base, RunOutputs* o) {
  o->wanted[kReportFile] = s.report;
  o->wanted[kFastaFile] = s.mask != MaskStyle::kNone;
  o->wanted[kBedFile] = s.bed;
  for (int k = 0; k < kOutputKinds; ++k) o->files[k].path = base + kSuffix[k];
}

void RefuseOutputThatIsInput(const RunOutputs& o, int input_fd) {
  struct stat input;
  if (fstat(input_fd, &input) != 0 || !S_ISREG(input.st_mode)) return;
  for (int k = 0; k < kOutputKinds; ++k) {
    struct stat output;
    const std::string& path = o.files[k].path;
    if (o.wanted[k] && stat(path.c_str(), &output) == 0 && output.st_dev == input.st_dev &&
        output.st_ino == input.st_ino) {
      Fail({Stream::kStderr, Formatted(kOutputIsInput, path)});
    }
  }
}

void OpenOutputs(RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    const std::string path = o->files[k].path;
    if (o->wanted[k] && !PrepareOutputFile(path, &o->files[k])) CannotOpen(*o, k);
  }
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o->wanted[k] && !OpenOutputFile(&o->files[k], &o->destinations[k])) CannotOpen(*o, k);
  }
}

EntrySinks SinksFor(const RunOutputs& o, TextSink sinks[kOutputKinds]) {
  const auto at = [&](int k) { return o.wanted[k] ? &sinks[k] : nullptr; };
  return EntrySinks{at(kReportFile), at(kFastaFile), at(kBedFile)};
}

bool FinishOutputs(RunOutputs* o, const std::function<void()>& between) {
  const auto seal = [o](int k) {
    return !o->wanted[k] || SealOutputFile(&o->files[k], &o->destinations[k]);
  };
  bool ok = true;
  if (!seal(kFastaFile)) {
    std::fputs(kErrorClosingFasta, stderr);
    ok = false;
  }
  if (!seal(kBedFile)) {
    std::fputs(kErrorClosingBed, stderr);
    ok = false;
  }
  between();
  if (!seal(kReportFile)) {
    PrintFailure({Stream::kStdoutLine, kErrorClosingReport});
    ok = false;
  }
  if (!ok) {
    for (int k = 0; k < kOutputKinds; ++k) DiscardOutputFile(&o->files[k], &o->destinations[k]);
    return false;
  }
  // The report goes into place last: once it is there, the run is complete.
  for (const int k : {kFastaFile, kBedFile, kReportFile}) {
    if (o->wanted[k] && !CommitOutputFile(&o->files[k], &o->destinations[k])) CannotOpen(*o, k);
  }
  return true;
}
