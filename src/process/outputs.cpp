#include "process/outputs.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "process/process.h"

namespace kestra {

const OutputRow kOutputTable[kOutputKinds] = {
    {".seg", [](const Settings& s) { return s.report; }, nullptr, Stream::kStdoutLine,
     kCantOpenReport, Stream::kStdoutLine, kErrorClosingReport},
    {".fas", [](const Settings& s) { return s.mask != MaskStyle::kNone; }, nullptr, Stream::kStderr,
     kCantOpenFasta, Stream::kStderr, kErrorClosingFasta},
    {".bed", [](const Settings& s) { return s.bed; }, nullptr, Stream::kStderr, kCantOpenFasta,
     Stream::kStderr, kErrorClosingBed},
    {".tsv", [](const Settings& s) { return s.table; }, kTableHeader, Stream::kStderr,
     kCantOpenFasta, Stream::kStderr, kErrorClosingTable},
    {".summary.tsv", [](const Settings& s) { return s.summary; }, kSummaryHeader, Stream::kStderr,
     kCantOpenFasta, Stream::kStderr, kErrorClosingTable},
};

namespace {

// What is said of an output that cannot be made or put in place: the system's reason on
// standard error, then the run's own words, which stop it.
Failure CannotOpen(const RunOutputs& o, int kind) {
  const OutputFile& file = o.files[kind];
  std::fputs(Formatted(kCannotCreatePath, file.path, std::strerror(file.error)).c_str(), stderr);
  const OutputRow& row = kOutputTable[kind];
  const std::string words = row.cannot_open;
  const bool names_path = words.find("%s") != std::string::npos;
  return Failure{row.open_stream, names_path ? Formatted(row.cannot_open, file.path) : words};
}

bool Seal(RunOutputs* o, int kind) {
  if (!o->wanted[kind] || SealOutputFile(&o->files[kind], &o->destinations[kind])) return true;
  const int error = o->destinations[kind].error;
  std::fputs(Formatted(kCannotWritePath, o->files[kind].path, std::strerror(error)).c_str(),
             stderr);
  PrintFailure(Failure{kOutputTable[kind].close_stream, kOutputTable[kind].cannot_close});
  return false;
}

}  // namespace

void ChooseOutputs(const Settings& s, const std::string& base, RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    o->wanted[k] = kOutputTable[k].wanted(s);
    const std::string& given = s.output_paths[k];
    o->files[k].path = given.empty() ? base + kOutputTable[k].suffix : given;
  }
}

bool AnyToStandardOutput(const RunOutputs& o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o.wanted[k] && IsStandardOutput(o.files[k].path)) return true;
  }
  return false;
}

std::optional<Failure> RefuseOutputThatIsInput(const RunOutputs& o, int input_fd) {
  struct stat input;
  if (fstat(input_fd, &input) != 0 || !S_ISREG(input.st_mode)) return std::nullopt;
  for (int k = 0; k < kOutputKinds; ++k) {
    struct stat output;
    const std::string& path = o.files[k].path;
    if (o.wanted[k] && !IsStandardOutput(path) && stat(path.c_str(), &output) == 0 &&
        output.st_dev == input.st_dev && output.st_ino == input.st_ino) {
      return Failure{Stream::kStderr, Formatted(kOutputIsInput, path)};
    }
  }
  return std::nullopt;
}

std::optional<Failure> OpenOutputs(RunOutputs* o, bool first_lines) {
  for (int k = 0; k < kOutputKinds; ++k) {
    const std::string path = o->files[k].path;
    if (o->wanted[k] && !PrepareOutputFile(path, &o->files[k])) return CannotOpen(*o, k);
  }
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o->wanted[k] && !OpenOutputFile(&o->files[k], &o->destinations[k])) {
      return CannotOpen(*o, k);
    }
  }
  for (int k = 0; k < kOutputKinds; ++k) {
    const char* line = kOutputTable[k].first_line;
    if (!o->wanted[k] || line == nullptr || !first_lines) continue;
    TextSink sink;
    sink.to = &o->destinations[k];
    SinkWrite(&sink, line, std::strlen(line));
    SinkFlush(&sink);
  }
  return std::nullopt;
}

EntrySinks SinksFor(const RunOutputs& o, TextSink sinks[kOutputKinds]) {
  EntrySinks wanted;
  for (int k = 0; k < kOutputKinds; ++k) wanted.of[k] = o.wanted[k] ? &sinks[k] : nullptr;
  return wanted;
}

bool SealAllButReport(RunOutputs* o) {
  bool ok = true;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (k != kReportOutput) ok = Seal(o, k) && ok;
  }
  return ok;
}

bool SealReport(RunOutputs* o) { return Seal(o, kReportOutput); }

void CommitOutputs(RunOutputs* o) {
  const auto commit = [o](int k) {
    if (o->wanted[k] && !CommitOutputFile(&o->files[k], &o->destinations[k])) {
      Fail(CannotOpen(*o, k));
    }
  };
  for (int k = 0; k < kOutputKinds; ++k) {
    if (k != kReportOutput) commit(k);
  }
  commit(kReportOutput);
}

void DiscardOutputs(RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) DiscardOutputFile(&o->files[k], &o->destinations[k]);
}

}  // namespace kestra
