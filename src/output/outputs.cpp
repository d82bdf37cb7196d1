#include "output/outputs.h"

#include <unistd.h>

#include <cstring>

#include "process/temporary_files.h"

namespace kestra {

static_assert(kOutputKinds + kIndexKinds <= kMaxTemporaryFiles,
              "every file a run writes may be pending at once");

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether index i is wanted beside the output of `kind`.
bool Indexes(const RunOutputs& o, int i, int kind) {
  return o.index_wanted[i] && kIndexTable[i].of == kind;
}

// The index of blocks the compressor of `kind` gathers: -1 for none.
int BlockIndexOf(const RunOutputs& o, int kind) {
  for (int i = 0; i < kIndexKinds; ++i) {
    if (Indexes(o, i, kind) && kIndexTable[i].of_blocks) return i;
  }
  return -1;
}

// An output's path: the one given, else the base name and the suffix (and ".gz"); and those
// of its indexes, beside it.
void ChoosePath(const Settings& s, const std::string& base, int kind, const char* suffix,
                RunOutputs* o) {
  const std::string& given = s.output_paths[kind];
  const std::string path = given.empty() ? base + suffix + (s.compress ? ".gz" : "") : given;
  o->files[kind].path = path;
  o->files[kind].compressed = s.compress || EndsWith(path, ".gz");
  for (int i = 0; i < kIndexKinds; ++i) {
    if (kIndexTable[i].of == kind) o->index_files[i].path = path + kIndexTable[i].suffix;
  }
}

// Checks every file before any is made; the failure of the first that cannot be, in the words
// of its output.
std::optional<Failure> PrepareAll(RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    const OutputFile chosen = o->files[k];  // a copy: preparing starts anew
    if (o->wanted[k] && !PrepareOutputFile(chosen.path, &o->files[k])) {
      return CannotMake(o->files[k], static_cast<OutputKind>(k));
    }
    o->files[k].compressed = chosen.compressed;
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    const OutputKind of = kIndexTable[i].of;
    const std::string path = o->index_files[i].path;
    if (o->index_wanted[i] && !PrepareOutputFile(path, &o->index_files[i])) {
      o->files[of].error = o->index_files[i].error;
      return CannotMake(o->files[of], of);
    }
  }
  return std::nullopt;
}

bool AnyCompressed(const RunOutputs& o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o.wanted[k] && o.files[k].compressed) return true;
  }
  return false;
}

// Opens the output of `kind`, compressed when it is written as BGZF; false when it cannot be.
bool OpenOutput(RunOutputs* o, int kind) {
  OutputFile& file = o->files[kind];
  FileDestination& to = o->destinations[kind];
  if (!OpenOutputFile(&file, &to)) return false;
  if (!file.compressed) return true;
  if (StartCompressing(&to, o->level, o->compression, BlockIndexOf(*o, kind) >= 0)) return true;
  file.error = to.error;
  return false;
}

// Opens every output, then every index; the failure of the first that cannot be.
std::optional<Failure> OpenAll(RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o->wanted[k] && !OpenOutput(o, k))
      return CannotMake(o->files[k], static_cast<OutputKind>(k));
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    const OutputKind of = kIndexTable[i].of;
    if (o->index_wanted[i] && !OpenOutputFile(&o->index_files[i], &o->index_destinations[i])) {
      o->files[of].error = o->index_files[i].error;
      return CannotMake(o->files[of], of);
    }
  }
  return std::nullopt;
}

// The line each output wanted begins with, if it has one.
void WriteFirstLines(RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    const OutputRow& row = kOutputTable[k];
    const char* line = o->evalues ? row.first_line_with_evalues : row.first_line;
    if (!o->wanted[k] || line == nullptr) continue;
    TextSink sink;
    sink.to = &o->destinations[k];
    SinkWrite(&sink, line, std::strlen(line));
    SinkFlush(&sink);
  }
}

// Seals the output of a kind, if wanted, then writes and seals its indexes; false at the
// first that fails, said.
bool Seal(RunOutputs* o, int kind) {
  if (!o->wanted[kind]) return true;
  OutputFile& file = o->files[kind];
  FileDestination& to = o->destinations[kind];
  const int blocks = BlockIndexOf(*o, kind);
  const OutputKind of = static_cast<OutputKind>(kind);
  if (file.compressed &&
      !FinishCompressing(&to, blocks >= 0 ? dup(o->index_destinations[blocks].fd) : -1)) {
    return CannotWrite(file, to.error, of);
  }
  if (!SealOutputFile(&file, &to)) return CannotWrite(file, to.error, of);
  for (int i = 0; i < kIndexKinds; ++i) {
    if (Indexes(*o, i, kind) && !kIndexTable[i].write(o, static_cast<IndexKind>(i))) return false;
  }
  return true;
}

// Seals every output whose row is (or is not) the last; false when any fails.
bool SealRows(RunOutputs* o, bool last) {
  bool ok = true;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (kOutputTable[k].last == last) ok = Seal(o, k) && ok;
  }
  return ok;
}

// Puts the output of a kind and its indexes in place; the failure of the first that cannot be.
std::optional<Failure> Commit(RunOutputs* o, int k) {
  const OutputKind of = static_cast<OutputKind>(k);
  if (o->wanted[k] && !CommitOutputFile(&o->files[k], &o->destinations[k])) {
    return CannotMake(o->files[k], of);
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    if (!Indexes(*o, i, k)) continue;
    if (!CommitOutputFile(&o->index_files[i], &o->index_destinations[i])) {
      o->files[k].error = o->index_files[i].error;
      return CannotMake(o->files[k], of);
    }
  }
  return std::nullopt;
}

// Puts in place every output whose row is (or is not) the last.
std::optional<Failure> CommitRows(RunOutputs* o, bool last) {
  for (int k = 0; k < kOutputKinds; ++k) {
    if (kOutputTable[k].last != last) continue;
    if (auto failure = Commit(o, k)) return failure;
  }
  return std::nullopt;
}

}  // namespace

void ChooseOutputs(const Settings& s, const std::string& base, RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    o->wanted[k] = kOutputTable[k].wanted(s);
    ChoosePath(s, base, k, kOutputTable[k].suffix, o);
  }
  o->level = s.compress_level;
  o->evalues = s.computes_evalues();
  for (int i = 0; i < kIndexKinds; ++i) {
    const OutputKind of = kIndexTable[i].of;
    o->index_wanted[i] =
        s.index && o->wanted[of] && (!kIndexTable[i].needs_bgzf || o->files[of].compressed);
  }
}

void WriteMaskedCopyAsFastq(const Settings& s, const std::string& base, RunOutputs* o) {
  o->fastq = true;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (kOutputTable[k].reads_suffix != nullptr) {
      ChoosePath(s, base, k, kOutputTable[k].reads_suffix, o);
    }
  }
}

bool AnyToStandardOutput(const RunOutputs& o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o.wanted[k] && IsStandardOutput(o.files[k].path)) return true;
  }
  return false;
}

std::optional<Failure> OpenOutputs(RunOutputs* o, bool first_lines, int threads) {
  if (auto failure = PrepareAll(o)) return failure;
  if (AnyCompressed(*o)) o->compression = StartCompressionThreads(threads);
  if (auto failure = OpenAll(o)) return failure;
  if (first_lines) WriteFirstLines(o);
  return std::nullopt;
}

EntrySinks SinksFor(const RunOutputs& o, TextSink sinks[kOutputKinds]) {
  EntrySinks wanted;
  for (int k = 0; k < kOutputKinds; ++k) wanted.of[k] = o.wanted[k] ? &sinks[k] : nullptr;
  return wanted;
}

bool SealAllButReport(RunOutputs* o) { return SealRows(o, false); }

bool SealReport(RunOutputs* o) { return SealRows(o, true); }

std::optional<Failure> CommitOutputs(RunOutputs* o) {
  StopCompressionThreads(o->compression);
  o->compression = nullptr;
  if (auto failure = CommitRows(o, false)) return failure;
  return CommitRows(o, true);
}

void DiscardOutputs(RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    AbandonCompressing(&o->destinations[k]);
    DiscardOutputFile(&o->files[k], &o->destinations[k]);
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    DiscardOutputFile(&o->index_files[i], &o->index_destinations[i]);
  }
  StopCompressionThreads(o->compression);
  o->compression = nullptr;
}

}  // namespace kestra
