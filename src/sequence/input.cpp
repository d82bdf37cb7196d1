// The reader of an input's entries, whichever way they are read: a range of a plain file
// (range_reader.cpp), a stream (stream_reader.cpp), or the part of a stream that one of
// several runs reads (part_filter.cpp).
#include <cstddef>
#include <cstdint>

#include "sequence/byte_source.h"
#include "sequence/fasta.h"
#include "sequence/readers.h"

namespace kestra {

// One way of reading is set: a range, or a stream (maybe filtered to a part).
struct FastaReader {
  LetterLimit limit;  // of every entry
  RangeReader* range = nullptr;
  StreamReader* stream = nullptr;  // nullptr for a part that holds nothing
  PartFilter* part = nullptr;
  bool failure_told = false;  // kReadError was given: no entry follows
};

FastaReader* OpenFastaReader(int fd, const ParallelLoop* loop, LetterLimit limit) {
  auto* r = new FastaReader();
  r->limit = limit;
  r->stream = OpenStreamReader(OpenByteSource(fd, loop));
  return r;
}

FastaReader* OpenFastaRange(int fd, uint64_t from, uint64_t to, LetterLimit limit) {
  auto* r = new FastaReader();
  r->limit = limit;
  r->range = OpenRangeReader(fd, from, to);
  return r;
}

FastaReader* OpenFastaPart(int fd, int index, int count, const ParallelLoop* loop,
                           LetterLimit limit) {
  auto* r = new FastaReader();
  r->limit = limit;
  r->part = OpenPartFilter(fd, index, count, loop, &r->stream);
  return r;
}

bool NextFastaEntry(FastaReader* r, FastaEntry* entry, FastaStatus* status) {
  if (r->failure_told) return false;
  const bool more = r->range != nullptr ? NextRangeEntry(r->range, r->limit, entry, status)
                    : r->part != nullptr
                        ? NextPartEntry(r->part, r->stream, r->limit, entry, status)
                        : NextStreamEntry(r->stream, r->limit, entry, status);
  r->failure_told = more && *status == FastaStatus::kReadError;
  return more;
}

ReadProblem FastaReaderProblem(const FastaReader* r) {
  if (r->range != nullptr) return r->range->text.problem;
  return r->stream != nullptr ? r->stream->text.problem : ReadProblem();
}

uint64_t FastaRangeEnd(const FastaReader* r) {
  return r->range != nullptr ? TextOffset(&r->range->text) : 0;
}

void FastaReaderProgress(const FastaReader* r, std::size_t* done, std::size_t* total) {
  *done = 0;
  *total = 0;
  if (r->range != nullptr) {
    *done = r->range->bytes_read.load(std::memory_order_relaxed);
  } else if (r->stream != nullptr) {
    ByteProgress(r->stream->source, done, total);
  }
}

void CloseFastaReader(FastaReader* r) {
  delete r->range;
  if (r->stream != nullptr) CloseStreamReader(r->stream);
  if (r->part != nullptr) ClosePartFilter(r->part);
  delete r;
}

}  // namespace kestra
