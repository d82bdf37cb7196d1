#include "output/indexes.h"

#include <htslib/tbx.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "output/outputs.h"
#include "process/process.h"

namespace kestra {

namespace {

// The name a FASTA index gives a record: the header's first word, blanks before it passed.
std::string IndexedName(const std::string& header) {
  const std::size_t from = std::min(header.find_first_not_of(" \t"), header.size());
  return header.substr(from, header.find_first_of(" \t", from) - from);
}

// The path by which a file being written can be opened again: its temporary name, or the
// descriptor of a file without a name.
std::string ReadablePath(const OutputFile& file, const FileDestination& to) {
  return file.temp_path.empty() ? "/proc/self/fd/" + std::to_string(to.fd) : file.temp_path;
}

// The .tbi of the sealed BGZF BED, into its own file, sealed.
bool BuildBedIndex(RunOutputs* o, IndexKind index) {
  const OutputKind of = kIndexTable[index].of;
  OutputFile& tbi = o->index_files[index];
  FileDestination& to = o->index_destinations[index];
  if (tbx_index_build2(ReadablePath(o->files[of], o->destinations[of]).c_str(),
                       ReadablePath(tbi, to).c_str(), 0, &tbx_conf_bed) == 0) {
    return SealOutputFile(&tbi, &to);
  }
  to.failed = true;
  to.error = errno != 0 ? errno : EINVAL;
  return false;
}

// Seals an index written; false when it cannot be, said.
bool SealIndex(RunOutputs* o, IndexKind index) {
  OutputFile& file = o->index_files[index];
  FileDestination& to = o->index_destinations[index];
  return SealOutputFile(&file, &to) || CannotWrite(file, to.error, kIndexTable[index].of);
}

}  // namespace

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

bool WriteFastaIndex(RunOutputs* o, IndexKind index) {
  o->fasta_index.to = &o->index_destinations[index];
  SinkFlush(&o->fasta_index);
  return SealIndex(o, index);
}

bool SealBlockIndex(RunOutputs* o, IndexKind index) { return SealIndex(o, index); }

bool WriteBedIndex(RunOutputs* o, IndexKind index) {
  if (BuildBedIndex(o, index)) return true;
  // A .tbi needs the lines of each sequence together: entries that share a name break them.
  const OutputRow& row = kOutputTable[kIndexTable[index].of];
  std::fputs(Formatted(kCannotIndexBed, o->index_files[index].path).c_str(), stderr);
  PrintFailure(Failure{row.close_stream, row.cannot_close});
  return false;
}

}  // namespace kestra
