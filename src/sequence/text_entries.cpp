// Entries read from text in blocks, by the scanners of one entry: each is fed the blocks from
// the byte in hand until it has its entry, and says how much of the last block was its.
#include "sequence/text_entries.h"

#include <algorithm>
#include <cstring>

#include "sequence/fastq.h"

namespace kestra {

bool FillText(TextBlocks* t) {
  if (t->pos < t->size) return true;
  if (t->failed) return false;
  t->block_start += t->size;
  const long n = t->next(t->input, &t->data, &t->problem.reason);
  t->failed = n < 0;
  t->size = n > 0 ? static_cast<std::size_t>(n) : 0;
  t->pos = 0;
  return n > 0;
}

bool SkipBlanks(TextBlocks* t) {
  while (FillText(t)) {
    const char* text = std::find_if_not(t->data + t->pos, t->data + t->size, IsBlank);
    t->pos = static_cast<std::size_t>(text - t->data);
    if (t->pos < t->size) return true;
  }
  return false;
}

const char* FindEntryStart(const char* p, const char* end, uint64_t base, uint64_t from,
                           bool* in_header) {
  const char* const first = p;
  for (;;) {
    const char* gt = static_cast<const char*>(std::memchr(p, '>', end - p));
    const char* stop = gt != nullptr ? gt : end;
    if (*in_header && std::memchr(p, '\n', stop - p) != nullptr) *in_header = false;
    if (gt == nullptr) return nullptr;
    if (!*in_header) {
      if (base + static_cast<uint64_t>(gt - first) >= from) return gt;
      *in_header = true;
    }
    p = gt + 1;
  }
}

bool ReadFastaEntry(TextBlocks* t, LetterLimit limit, FastaEntry* entry, FastaStatus* status) {
  FastaScanner* scanner = NewEntryScanner(entry, limit);
  bool open = true;
  while (open && FillText(t)) {
    open = FastaScannerFeed(scanner, t->data + t->pos, t->size - t->pos);
    t->pos += FastaScannerUsed(scanner);
  }
  const bool started = FastaScannerStarted(scanner);
  const FastaStatus scanned = FastaScannerFinish(scanner);
  *status = t->failed ? FastaStatus::kReadError : scanned;
  return started || t->failed;
}

void ReadFastqRecord(TextBlocks* t, LetterLimit limit, uint64_t number, bool keep,
                     FastaEntry* entry, FastaStatus* status) {
  FastqScanner* scanner = NewFastqScanner(entry, number, keep, false, limit);
  bool open = true;
  while (open && FillText(t)) {
    open = FastqScannerFeed(scanner, t->data + t->pos, t->size - t->pos);
    t->pos += FastqScannerUsed(scanner);
  }
  std::string wrong;
  const FastaStatus scanned = FastqScannerFinish(scanner, &wrong);
  if (scanned == FastaStatus::kReadError && !t->failed) {
    t->failed = true;
    t->problem.reason = wrong;
  }
  *status = t->failed ? FastaStatus::kReadError : scanned;
}

}  // namespace kestra
