// The entries of a stream, read in order through the byte source (a file or a pipe, plain or
// compressed): the first alone, or every one in turn. A stream's text is FASTQ when its first
// byte that is not blank is '@', FASTA otherwise.
#include <algorithm>
#include <string>

#include "sequence/byte_source.h"
#include "sequence/fasta.h"
#include "sequence/fastq.h"
#include "sequence/readers.h"

namespace kestra {

namespace {

// The scanner of the first entry of a stream, whichever its text needs: FASTA until a byte
// that is not blank shows '@'. Blank bytes before it go to the FASTA scanner, for which they
// may matter (a '>' counts only at the start of a line).
struct FirstEntryScanner {
  FastaEntry* entry;
  LetterLimit limit;
  FastaScanner* fasta;
  FastqScanner* fastq = nullptr;
  bool known = false;  // a byte that is not blank has been seen
};

bool FeedFirstEntry(FirstEntryScanner* f, const char* data, std::size_t n) {
  const char* from = data;
  if (!f->known) {
    from = std::find_if_not(data, data + n, IsBlank);
    f->known = from < data + n;
    if (f->known && *from == '@') {
      FastaScannerFinish(f->fasta);
      f->fasta = nullptr;
      f->fastq = NewFastqScanner(f->entry, 1, true, true, f->limit);
    }
  }
  if (f->fastq != nullptr) {
    return FastqScannerFeed(f->fastq, from, n - static_cast<std::size_t>(from - data));
  }
  return FastaScannerFeed(f->fasta, data, n);
}

FastaStatus FinishFirstEntry(FirstEntryScanner* f, bool* more_entries, std::string* problem) {
  if (f->fastq != nullptr) {
    if (more_entries != nullptr) *more_entries = FastqScannerMetNextRecord(f->fastq);
    return FastqScannerFinish(f->fastq, problem);
  }
  if (more_entries != nullptr) *more_entries = FastaScannerMetNextEntry(f->fasta);
  return FastaScannerFinish(f->fasta);
}

long NextStreamBlock(void* input, const char** data, std::string* problem) {
  auto* source = static_cast<ByteSource*>(input);
  const long n = NextBytes(source, data);
  if (n < 0) *problem = ByteSourceProblem(source);
  return n;
}

}  // namespace

FastaStatus ReadFastaFile(int fd, FastaEntry* entry, bool* more_entries, ReadProblem* problem,
                          const ParallelLoop* loop, LetterLimit limit) {
  *entry = FastaEntry();
  ByteSource* source = OpenByteSource(fd, loop);
  // A plain regular file holds at most as many letters as bytes: they then fit in one buffer.
  FirstEntryScanner first{entry, limit,
                          NewFastaScanner(entry, limit.max_letters, TextSizeHint(source))};
  const long n = PumpBytes(source, [&first](const char* data, std::size_t size) {
    return FeedFirstEntry(&first, data, size);
  });
  std::string reason;
  FastaStatus status = FinishFirstEntry(&first, more_entries, &reason);
  if (n < 0) {
    reason = ByteSourceProblem(source);
    status = FastaStatus::kReadError;
  }
  CloseByteSource(source);
  if (status == FastaStatus::kReadError) *entry = FastaEntry();
  if (problem != nullptr) problem->reason = status == FastaStatus::kReadError ? reason : "";
  return status;
}

StreamReader* OpenStreamReader(ByteSource* source) {
  auto* s = new StreamReader();
  s->source = source;
  s->text.next = NextStreamBlock;
  s->text.input = source;
  return s;
}

bool KnowFormat(StreamReader* s) {
  if (!SkipBlanks(&s->text)) return false;
  s->format = s->text.data[s->text.pos] == '@' ? TextFormat::kFastq : TextFormat::kFasta;
  return true;
}

bool NextStreamEntry(StreamReader* s, LetterLimit limit, FastaEntry* entry, FastaStatus* status) {
  TextBlocks* t = &s->text;
  if (s->format == TextFormat::kUnknown && !KnowFormat(s)) {
    if (t->failed) *status = FastaStatus::kReadError;
    return t->failed;
  }
  if (s->format == TextFormat::kFasta) return ReadFastaEntry(t, limit, entry, status);
  // FASTQ records are read one after another, blank lines between them allowed.
  if (t->failed || !SkipBlanks(t)) {
    if (t->failed) *status = FastaStatus::kReadError;
    return t->failed;
  }
  ReadFastqRecord(t, limit, ++s->records, true, entry, status);
  return true;
}

void CloseStreamReader(StreamReader* s) {
  CloseByteSource(s->source);
  delete s;
}

}  // namespace kestra
