#include "output/outputs.h"

#include <htslib/tbx.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "process/process.h"

namespace kestra {

const OutputRow kOutputTable[kOutputKinds] = {
    {".seg", [](const Settings& s) { return s.report; }, nullptr, nullptr, Stream::kStdoutLine,
     kCantOpenReport, Stream::kStdoutLine, kErrorClosingReport},
    {".fas", [](const Settings& s) { return s.mask != MaskStyle::kNone; }, nullptr, nullptr,
     Stream::kStderr, kCantOpenOutput, Stream::kStderr, kErrorClosingFasta},
    {".bed", [](const Settings& s) { return s.bed; }, nullptr, nullptr, Stream::kStderr,
     kCantOpenOutput, Stream::kStderr, kErrorClosingBed},
    {".tsv", [](const Settings& s) { return s.table; }, kTableHeader, kTableHeaderWithEvalues,
     Stream::kStderr, kCantOpenOutput, Stream::kStderr, kErrorClosingTable},
    {".summary.tsv", [](const Settings& s) { return s.summary; }, kSummaryHeader,
     kSummaryHeaderWithEvalues, Stream::kStderr, kCantOpenOutput, Stream::kStderr,
     kErrorClosingTable},
};

namespace {

// Each index: its suffix, after its output's path, and the output it indexes.
const struct {
  const char* suffix;
  OutputKind of;
} kIndexTable[kIndexKinds] = {{".fai", kFastaOutput}, {".gzi", kFastaOutput}, {".tbi", kBedOutput}};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The path by which a file being written can be opened again: its temporary name, or the
// descriptor of a file without a name.
std::string ReadablePath(const OutputFile& file, const FileDestination& to) {
  return file.temp_path.empty() ? "/proc/self/fd/" + std::to_string(to.fd) : file.temp_path;
}

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

// Says that a file could not be written completely; false.
bool CannotWrite(const OutputFile& file, int error, const OutputRow& row) {
  std::fputs(Formatted(kCannotWritePath, file.path, std::strerror(error)).c_str(), stderr);
  PrintFailure(Failure{row.close_stream, row.cannot_close});
  return false;
}

// The .tbi of the BED, from the sealed BGZF file, into its own file.
bool IndexBed(RunOutputs* o) {
  const OutputFile& bed = o->files[kBedOutput];
  OutputFile& tbi = o->index_files[kBedIndex];
  FileDestination& to = o->index_destinations[kBedIndex];
  if (tbx_index_build2(ReadablePath(bed, o->destinations[kBedOutput]).c_str(),
                       ReadablePath(tbi, to).c_str(), 0, &tbx_conf_bed) == 0) {
    return SealOutputFile(&tbi, &to);
  }
  to.failed = true;
  to.error = errno != 0 ? errno : EINVAL;
  return false;
}

bool Seal(RunOutputs* o, int kind) {
  if (!o->wanted[kind]) return true;
  OutputFile& file = o->files[kind];
  FileDestination& to = o->destinations[kind];
  const bool blocks = kind == kFastaOutput && o->index_wanted[kBlockIndex];
  if (file.compressed &&
      !FinishCompressing(&to, blocks ? dup(o->index_destinations[kBlockIndex].fd) : -1)) {
    return CannotWrite(file, to.error, kOutputTable[kind]);
  }
  if (!SealOutputFile(&file, &to)) return CannotWrite(file, to.error, kOutputTable[kind]);
  for (int i = 0; i < kIndexKinds; ++i) {
    if (!o->index_wanted[i] || kIndexTable[i].of != kind) continue;
    OutputFile& index = o->index_files[i];
    FileDestination& index_to = o->index_destinations[i];
    if (i == kFastaIndex) {
      o->fasta_index.to = &index_to;
      SinkFlush(&o->fasta_index);
    }
    if (i == kBedIndex && !IndexBed(o)) {
      // A .tbi needs the lines of each sequence together: entries that share a name break them.
      std::fputs(Formatted(kCannotIndexBed, index.path).c_str(), stderr);
      PrintFailure(Failure{kOutputTable[kind].close_stream, kOutputTable[kind].cannot_close});
      return false;
    }
    if (i != kBedIndex && !SealOutputFile(&index, &index_to)) {
      return CannotWrite(index, index_to.error, kOutputTable[kind]);
    }
  }
  return true;
}

}  // namespace

OutputKind IndexedOutput(IndexKind index) { return kIndexTable[index].of; }

namespace {

// The name a FASTA index gives a record: the header's first word, blanks before it passed.
std::string IndexedName(const std::string& header) {
  const std::size_t from = std::min(header.find_first_not_of(" \t"), header.size());
  return header.substr(from, header.find_first_of(" \t", from) - from);
}

// Puts the output of a kind and its indexes in place; the failure of the first that cannot be.
std::optional<Failure> Commit(RunOutputs* o, int k) {
  if (o->wanted[k] && !CommitOutputFile(&o->files[k], &o->destinations[k])) {
    return CannotOpen(*o, k);
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    if (!o->index_wanted[i] || kIndexTable[i].of != k) continue;
    if (!CommitOutputFile(&o->index_files[i], &o->index_destinations[i])) {
      o->files[k].error = o->index_files[i].error;
      return CannotOpen(*o, k);
    }
  }
  return std::nullopt;
}

}  // namespace

namespace {

// An output's path: the one given, else the base name and the suffix (and ".gz").
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

}  // namespace

void ChooseOutputs(const Settings& s, const std::string& base, RunOutputs* o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    o->wanted[k] = kOutputTable[k].wanted(s);
    ChoosePath(s, base, k, kOutputTable[k].suffix, o);
  }
  o->level = s.compress_level;
  o->evalues = s.computes_evalues();
  // The index of blocks and a .tbi need BGZF.
  const auto indexable = [o, &s](OutputKind k) { return s.index && o->wanted[k]; };
  o->index_wanted[kFastaIndex] = indexable(kFastaOutput);
  o->index_wanted[kBlockIndex] = indexable(kFastaOutput) && o->files[kFastaOutput].compressed;
  o->index_wanted[kBedIndex] = indexable(kBedOutput) && o->files[kBedOutput].compressed;
}

void WriteMaskedCopyAsFastq(const Settings& s, const std::string& base, RunOutputs* o) {
  o->fastq = true;
  ChoosePath(s, base, kFastaOutput, ".fq", o);
}

void IndexFastaRecord(RunOutputs* o, const std::string& header, int64_t letters, int width) {
  // A FASTQ record: its letters on one line (an empty one too), "+", its qualities.
  const int64_t line = o->fastq || width <= 0 ? letters : std::min<int64_t>(width, letters);
  const int64_t lines = o->fastq ? 1 : line > 0 ? (letters + line - 1) / line : 0;
  const uint64_t start = o->fasta_bytes + 1 + header.size() + 1;
  const uint64_t qualities = start + static_cast<uint64_t>(letters) + 3;
  o->fasta_bytes = o->fastq ? qualities + static_cast<uint64_t>(letters) + 1
                            : start + static_cast<uint64_t>(letters + lines);
  if (!o->index_wanted[kFastaIndex]) return;
  // As the field's readers index a FASTA file: a record without letters has no line, and a
  // name already indexed keeps its first record; a record of one line is as long as it. A
  // FASTQ record's line ends with where its qualities start.
  const std::string name = IndexedName(header);
  if (letters == 0 || name.empty() || !o->indexed_names.insert(name).second) return;
  SinkPrintf(&o->fasta_index, "%s\t%lld\t%llu\t%lld\t%lld", name.c_str(),
             static_cast<long long>(letters), static_cast<unsigned long long>(start),
             static_cast<long long>(line), static_cast<long long>(line + 1));
  if (o->fastq) SinkPrintf(&o->fasta_index, "\t%llu", static_cast<unsigned long long>(qualities));
  SinkPut(&o->fasta_index, '\n');
}

bool AnyToStandardOutput(const RunOutputs& o) {
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o.wanted[k] && IsStandardOutput(o.files[k].path)) return true;
  }
  return false;
}

std::optional<Failure> OpenOutputs(RunOutputs* o, bool first_lines, int threads) {
  for (int k = 0; k < kOutputKinds; ++k) {
    const OutputFile chosen = o->files[k];
    if (o->wanted[k] && !PrepareOutputFile(chosen.path, &o->files[k])) return CannotOpen(*o, k);
    o->files[k].compressed = chosen.compressed;
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    const OutputKind of = kIndexTable[i].of;
    const std::string path = o->index_files[i].path;  // a copy: preparing starts anew
    if (o->index_wanted[i] && !PrepareOutputFile(path, &o->index_files[i])) {
      o->files[of].error = o->index_files[i].error;
      return CannotOpen(*o, of);
    }
  }
  bool compressed = false;
  for (int k = 0; k < kOutputKinds; ++k)
    compressed = compressed || (o->wanted[k] && o->files[k].compressed);
  if (compressed) o->compression = StartCompressionThreads(threads);
  for (int k = 0; k < kOutputKinds; ++k) {
    if (!o->wanted[k]) continue;
    if (!OpenOutputFile(&o->files[k], &o->destinations[k])) return CannotOpen(*o, k);
    if (o->files[k].compressed &&
        !StartCompressing(&o->destinations[k], o->level, o->compression,
                          k == kFastaOutput && o->index_wanted[kBlockIndex])) {
      o->files[k].error = o->destinations[k].error;
      return CannotOpen(*o, k);
    }
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    if (o->index_wanted[i] && !OpenOutputFile(&o->index_files[i], &o->index_destinations[i])) {
      o->files[kIndexTable[i].of].error = o->index_files[i].error;
      return CannotOpen(*o, kIndexTable[i].of);
    }
  }
  for (int k = 0; k < kOutputKinds; ++k) {
    const OutputRow& row = kOutputTable[k];
    const char* line = o->evalues ? row.first_line_with_evalues : row.first_line;
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

std::optional<Failure> CommitOutputs(RunOutputs* o) {
  StopCompressionThreads(o->compression);
  o->compression = nullptr;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (k == kReportOutput) continue;
    if (auto failure = Commit(o, k)) return failure;
  }
  return Commit(o, kReportOutput);
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
