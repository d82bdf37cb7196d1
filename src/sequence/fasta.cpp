// Streaming reader for the first FASTA entry. The input is scanned once, block by block, so
// a pipe works as well as a file and a block boundary may fall anywhere.
#include "sequence/fasta.h"

#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/pages.h"
#include "sequence/letters.h"
#include "sequence/scan_stages.h"

namespace kestra {

namespace {

// Letters are gathered in chunks of this size and joined once the entry is complete, so a
// growing sequence is never copied to a buffer twice its size.
constexpr std::size_t kChunk = std::size_t{8} << 20;
constexpr std::size_t kFirstChunk = std::size_t{64} << 10;

// 1 for the bytes a sequence keeps: ASCII letters and '-'. Everything else is skipped.
constexpr std::array<unsigned char, 256> MakeKeptTable() {
  std::array<unsigned char, 256> kept{};
  for (int c = 'A'; c <= 'Z'; ++c) kept[c] = 1;
  for (int c = 'a'; c <= 'z'; ++c) kept[c] = 1;
  kept['-'] = 1;
  return kept;
}
constexpr std::array<unsigned char, 256> kKept = MakeKeptTable();

enum class Stage {
  kSeekHeader,   // before the first '>' of the input
  kHeader,       // inside the first entry's header line
  kSequence,     // inside the first entry's sequence
  kSeekCounted,  // sequence over, still looking for a counted header line
  kDone,
};

}  // namespace

struct FastaScanner {
  FastaEntry* entry;
  std::size_t max_letters;          // reaching this many letters is an error
  bool drop_too_long = false;       // an entry read alone lets its letters go at the limit
  bool dropping = false;            // it has: its letters are only counted
  std::vector<std::string> chunks;  // the sequence so far, kChunk letters a chunk
  std::size_t first_chunk;          // room of the first chunk: all the input may hold
  std::size_t letters = 0;          // letters in all chunks
  Stage stage = Stage::kSeekHeader;
  bool line_start = true;    // the next byte begins a physical line
  bool candidate = false;    // the current line begins with '>'
  std::size_t line_len = 0;  // bytes of the current candidate line so far, '>' included
  bool counted = false;      // a counted header line has been seen
  bool too_long = false;
  bool entry_only = false;  // one entry read as if it stood alone: it ends at the next '>'
  std::size_t used = 0;     // bytes of the last block that belong to the entry
  bool next_entry = false;  // a '>' after the letters begins another entry
};

namespace {

const char* FindByte(const char* p, const char* end, char byte) {
  return static_cast<const char*>(std::memchr(p, byte, static_cast<std::size_t>(end - p)));
}

// A header line is counted when it ends with '\n' or is at least kFastaLineMax bytes long;
// a shorter last line without a newline is not.
void GrowCandidateLine(FastaScanner* s, std::size_t n) {
  s->line_len += n;
  if (s->candidate && s->line_len >= kFastaLineMax) s->counted = true;
}

const char* ScanToFirstHeader(FastaScanner* s, const char* p, const char* end) {
  const char* gt = FindByte(p, end, '>');
  if (gt == nullptr) {
    s->line_start = end[-1] == '\n';
    return end;
  }
  // The entry starts at the first '>' wherever it stands; only one at a line start can
  // make its own header line a counted one. An entry read alone starts its own file.
  s->candidate = s->entry_only || (gt == p ? s->line_start : gt[-1] == '\n');
  s->line_len = 0;
  GrowCandidateLine(s, 1);
  s->stage = Stage::kHeader;
  return gt + 1;
}

const char* ScanHeader(FastaScanner* s, const char* p, const char* end) {
  const char* nl = FindByte(p, end, '\n');
  const char* stop = nl != nullptr ? nl : end;
  const std::size_t n = static_cast<std::size_t>(stop - p);
  std::string& name = s->entry->header;
  if (name.size() < kFastaLineMax) name.append(p, std::min(n, kFastaLineMax - name.size()));
  GrowCandidateLine(s, n);
  if (nl == nullptr) return end;
  if (s->candidate) s->counted = true;
  TrimHeader(&name);
  s->stage = Stage::kSequence;
  s->line_start = true;
  return nl + 1;
}

// Copies the kept bytes from *p on into out, up to `end` or until `out_end` is reached.
// Letters run in long lines: sixteen bytes that are all kept go at once.
char* CopyKept(const char** from, const char* end, char* out, char* const out_end) {
  const char* p = *from;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
  const __m128i case_bit = _mm_set1_epi8(0x20), a = _mm_set1_epi8('a'), z = _mm_set1_epi8(25);
  const __m128i dash = _mm_set1_epi8('-');
  while (end - p >= 16 && out_end - out >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i from_a = _mm_sub_epi8(_mm_or_si128(v, case_bit), a);
    const __m128i kept =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(from_a, z), from_a), _mm_cmpeq_epi8(v, dash));
    if (_mm_movemask_epi8(kept) == 0xffff) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
      p += 16;
      out += 16;
      continue;
    }
    for (const char* stop = p + 16; p < stop; ++p) {
      *out = *p;
      out += kKept[static_cast<unsigned char>(*p)];
    }
  }
#endif
  for (; p < end && out < out_end; ++p) {
    *out = *p;
    out += kKept[static_cast<unsigned char>(*p)];
  }
  *from = p;
  return out;
}

// The letters of an entry that reaches its limit and lets them go: it stops holding any.
void DropLetters(FastaScanner* s) {
  std::vector<std::string>().swap(s->chunks);
  s->dropping = true;
}

// The letters an entry may hold: the first of a file stops at its limit; one read alone
// keeps all its letters, so that it can still be written out, unless it lets them go there.
std::size_t HeldLimit(const FastaScanner* s) {
  return s->entry_only && !s->drop_too_long ? SIZE_MAX : s->max_letters;
}

// Appends the kept bytes of [*from, end) to the chunks, up to `limit` letters in all; *from
// is left where it stopped (at `end` unless the limit was reached).
void AppendLetters(FastaScanner* s, const char** from, const char* end, std::size_t limit) {
  const char* p = *from;
  while (p < end && s->letters < limit) {
    if (s->chunks.empty() || s->chunks.back().size() == s->chunks.back().capacity()) {
      // A full chunk is followed by another only for a letter to keep: the line end after
      // an entry that fills its storage to the byte costs no new storage.
      while (p < end && !kKept[static_cast<unsigned char>(*p)]) ++p;
      if (p == end) break;
      // Chunks grow with the sequence, from small ones for small inputs up to kChunk.
      const std::size_t room =
          s->chunks.empty() ? s->first_chunk : std::min(kChunk, std::max(kFirstChunk, s->letters));
      s->chunks.emplace_back();
      s->chunks.back().reserve(room);
      AdviseHugePages(s->chunks.back().data(), s->chunks.back().capacity());
    }
    std::string& chunk = s->chunks.back();
    const std::size_t old = chunk.size();
    const std::size_t room =
        std::min({chunk.capacity() - old, limit - s->letters, static_cast<std::size_t>(end - p)});
    chunk.resize(old + room);
    char* out = &chunk[old];
    char* const out_end = out + room;
    out = CopyKept(&p, end, out, out_end);
    const std::size_t added = static_cast<std::size_t>(out - &chunk[old]);
    chunk.resize(old + added);
    s->letters += added;
  }
  *from = p;
}

// Takes the kept bytes of [p, end): held, or counted once the entry has let its letters go.
// False when the first entry of a file reaches its limit: it is too long, whatever follows.
bool TakeLetters(FastaScanner* s, const char* p, const char* end) {
  if (!s->dropping) {
    const std::size_t limit = HeldLimit(s);
    AppendLetters(s, &p, end, limit);
    if (s->letters < limit) return true;
    if (!s->entry_only) return false;
    DropLetters(s);
  }
  s->letters += CountKeptLetters(p, end);
  return true;
}

// Joins the chunks into the entry's sequence, releasing each chunk once copied.
void JoinChunks(FastaScanner* s) {
  std::string& seq = s->entry->letters;
  if (s->chunks.size() == 1) {
    seq.swap(s->chunks[0]);
    return;
  }
  seq.reserve(s->letters);
  AdviseHugePages(seq.data(), seq.capacity());
  for (std::string& chunk : s->chunks) {
    seq.append(chunk);
    std::string().swap(chunk);
  }
}

const char* ScanSequence(FastaScanner* s, const char* p, const char* end) {
  const char* gt = FindByte(p, end, '>');
  const char* stop = gt != nullptr ? gt : end;
  if (stop > p) {
    if (!TakeLetters(s, p, stop)) {
      s->too_long = true;
      s->stage = Stage::kDone;
      return end;
    }
    s->line_start = stop[-1] == '\n';
  }
  if (gt == nullptr) return end;
  s->next_entry = true;
  if (s->entry_only) {
    s->stage = Stage::kDone;  // the '>' begins the next entry
    return gt;
  }
  if (s->counted) {
    s->stage = Stage::kDone;
    return end;
  }
  // The '>' that ends the sequence is handed on, so it can begin a counted line.
  s->candidate = false;
  s->stage = Stage::kSeekCounted;
  return gt;
}

const char* ScanForCountedLine(FastaScanner* s, const char* p, const char* end) {
  while (p < end) {
    if (s->line_start) {
      s->candidate = *p == '>';
      s->line_len = 0;
      s->line_start = false;
    }
    const char* nl = FindByte(p, end, '\n');
    GrowCandidateLine(s, static_cast<std::size_t>((nl != nullptr ? nl : end) - p));
    if (s->candidate && nl != nullptr) s->counted = true;
    if (s->counted) {
      s->stage = Stage::kDone;
      return end;
    }
    if (nl == nullptr) return end;
    p = nl + 1;
    s->line_start = true;
  }
  return end;
}

}  // namespace

void TrimHeader(std::string* name) {
  name->resize(std::strlen(name->c_str()));
  if (!name->empty() && name->back() == '\r') name->pop_back();
}

bool IsKeptLetter(char c) { return kKept[static_cast<unsigned char>(c)] != 0; }

std::size_t CountKeptLetters(const char* p, const char* end) {
  std::size_t n = 0;
#if defined(__SSE2__) && !defined(KESTRA_NO_SIMD)
  const __m128i case_bit = _mm_set1_epi8(0x20), a = _mm_set1_epi8('a'), z = _mm_set1_epi8(25);
  const __m128i dash = _mm_set1_epi8('-');
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i from_a = _mm_sub_epi8(_mm_or_si128(v, case_bit), a);
    const __m128i kept =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(from_a, z), from_a), _mm_cmpeq_epi8(v, dash));
    n += static_cast<std::size_t>(__builtin_popcount(_mm_movemask_epi8(kept)));
  }
#endif
  for (; p < end; ++p) n += kKept[static_cast<unsigned char>(*p)];
  return n;
}

void AppendKeptLetters(const char* p, const char* end, std::string* letters) {
  const std::size_t old = letters->size();
  letters->resize(old + static_cast<std::size_t>(end - p));
  char* const out = &(*letters)[old];
  letters->resize(old + static_cast<std::size_t>(CopyKept(&p, end, out, out + (end - p)) - out));
}

FastaScanner* NewFastaScanner(FastaEntry* entry, std::size_t max_letters, std::size_t size_hint) {
  *entry = FastaEntry();
  auto* scanner = new FastaScanner();
  scanner->entry = entry;
  scanner->max_letters = max_letters;
  scanner->first_chunk = std::max(kFirstChunk, std::min(size_hint, max_letters));
  return scanner;
}

bool FastaScannerFeed(FastaScanner* s, const char* data, std::size_t n) {
  using Scan = const char* (*)(FastaScanner*, const char*, const char*);
  static constexpr Scan kScan[] = {ScanToFirstHeader, ScanHeader, ScanSequence, ScanForCountedLine};
  return FeedStages(s, kScan, data, n);
}

FastaScanner* NewEntryScanner(FastaEntry* entry, LetterLimit limit) {
  // The storage of the entry's letters, from an earlier entry, is used again: entries of
  // like sizes then cost no allocation and no joining of chunks.
  std::string storage;
  storage.swap(entry->letters);
  FastaScanner* s = NewFastaScanner(entry, limit.max_letters);
  s->entry_only = true;
  s->drop_too_long = limit.drop_too_long;
  if (storage.capacity() >= kFirstChunk) {
    storage.clear();
    s->chunks.push_back(std::move(storage));
  }
  return s;
}

std::size_t FastaScannerUsed(const FastaScanner* s) { return s->used; }

bool FastaScannerStarted(const FastaScanner* s) { return s->stage != Stage::kSeekHeader; }

bool FastaScannerMetNextEntry(const FastaScanner* s) { return s->next_entry; }

FastaStatus FastaScannerFinish(FastaScanner* s) {
  // A header line that runs to the end of the input ends there.
  if (s->stage == Stage::kHeader) TrimHeader(&s->entry->header);
  const bool too_long = s->too_long || (s->entry_only && s->letters >= s->max_letters);
  const FastaStatus status = too_long     ? FastaStatus::kTooLong
                             : s->counted ? FastaStatus::kOk
                                          : FastaStatus::kNoEntry;
  // An entry read alone keeps what it holds whatever its outcome, to be written out as it is,
  // or the count of the letters it let go.
  if (s->dropping) {
    s->entry->dropped = s->letters;
  } else if (status == FastaStatus::kOk || s->entry_only) {
    JoinChunks(s);
  } else {
    *s->entry = FastaEntry();
  }
  delete s;
  return status;
}

}  // namespace kestra
