// The FASTQ record scanner. Qualities may hold '@' and '+' anywhere, even at the start of a
// line, so the end of a record is known only by counting: its quality characters match its
// sequence characters (line ends not counted on either side).
#include "sequence/fastq.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sequence/letters.h"
#include "sequence/scan_stages.h"

namespace kestra {

namespace {

// What is wrong with a record, after "FASTQ record N: ".
constexpr char kFastqRecordProblem[] = "FASTQ record %llu: %s";
constexpr char kNoRecordStart[] = "does not start with '@'";
constexpr char kEndsBeforePlusLine[] = "ends before its '+' line";
constexpr char kNextBeforePlusLine[] = "has a line starting with '@' before its '+' line";
constexpr char kTooFewQualities[] = "has fewer quality characters than sequence characters";
constexpr char kTooManyQualities[] = "has more quality characters than sequence characters";

enum class Stage {
  kSeek,       // before the record's '@', over blank bytes
  kHeader,     // inside the '@' line
  kLineStart,  // at the start of a sequence line, or of the '+' line
  kSequence,   // inside a sequence line
  kPlusLine,   // inside the '+' line
  kQualities,  // inside a quality line
  kAfter,      // after the first record of a file, looking for the next one
  kDone,
};

}  // namespace

struct FastqScanner {
  FastaEntry* entry = nullptr;
  uint64_t record = 0;
  bool keep = false;
  bool first_of_file = false;
  LetterLimit limit;
  Stage stage = Stage::kSeek;
  uint64_t sequence_chars = 0;     // characters of the sequence lines, CR and LF not counted
  uint64_t quality_chars = 0;      // likewise of the quality lines so far
  bool quality_line_start = true;  // the next quality byte begins a line
  bool quality_line_at = false;    // the quality line in hand begins with '@'
  bool dropping = false;           // the letters are too many: they are only counted
  // Where the qualities go when they are kept, and the sequence characters (by their index
  // among the record's, CR not counted) that are no letters, whose qualities are left out.
  std::string* qualities = nullptr;
  std::vector<uint64_t> left_out;
  std::size_t next_left_out = 0;  // the first of them the qualities have not reached
  const char* wrong = nullptr;    // what is wrong, with the record it is about
  uint64_t wrong_record = 0;
  bool started = false;
  bool too_long = false;
  bool next_record = false;
  std::size_t used = 0;
};

namespace {

const char* FindByte(const char* p, const char* end, char byte) {
  return static_cast<const char*>(std::memchr(p, byte, static_cast<std::size_t>(end - p)));
}

// Characters of a piece of a line, a CR anywhere in it not counted.
uint64_t LineChars(const char* p, const char* end) {
  return static_cast<uint64_t>(end - p) - static_cast<uint64_t>(std::count(p, end, '\r'));
}

const char* Wrong(FastqScanner* s, const char* what, uint64_t record, const char* p) {
  s->wrong = what;
  s->wrong_record = record;
  s->stage = Stage::kDone;
  return p;
}

const char* RecordDone(FastqScanner* s, const char* p) {
  s->stage = s->first_of_file ? Stage::kAfter : Stage::kDone;
  return p;
}

const char* SkipBlanks(const char* p, const char* end) { return std::find_if_not(p, end, IsBlank); }

// Where a record must start, after blank bytes, something else than '@' stands.
const char* NotARecordStart(FastqScanner* s, uint64_t record, const char* p) {
  return Wrong(s, kNoRecordStart, record, p);
}

const char* ScanToRecord(FastqScanner* s, const char* p, const char* end) {
  p = SkipBlanks(p, end);
  if (p == end) return end;
  s->started = true;
  if (*p != '@') return NotARecordStart(s, s->record, p);
  s->stage = Stage::kHeader;
  return p + 1;
}

// The header is cut as a FASTA header is.
const char* ScanHeader(FastqScanner* s, const char* p, const char* end) {
  const char* nl = FindByte(p, end, '\n');
  const char* stop = nl != nullptr ? nl : end;
  std::string& name = s->entry->header;
  if (s->keep && name.size() < kFastaLineMax) {
    name.append(p, std::min(static_cast<std::size_t>(stop - p), kFastaLineMax - name.size()));
  }
  if (nl == nullptr) return end;
  if (s->keep) TrimHeader(&name);
  s->stage = Stage::kLineStart;
  return nl + 1;
}

// A line that starts with '@' before the '+' line: the '+' line is missing, and this is most
// likely the next record.
const char* ScanLineStart(FastqScanner* s, const char* p, const char*) {
  if (*p == '+') {
    s->stage = Stage::kPlusLine;
    return p + 1;
  }
  if (*p == '@') return Wrong(s, kNextBeforePlusLine, s->record, p);
  s->stage = Stage::kSequence;
  return p;
}

// Keeps the letters of a piece of a sequence line, or counts them once they are too many and
// the record lets them go; false when the first record of a file reaches its limit: it is
// too long, whatever follows.
bool TakeLetters(FastqScanner* s, const char* p, const char* stop) {
  FastaEntry& entry = *s->entry;
  if (s->dropping) {
    entry.dropped += CountKeptLetters(p, stop);
    return true;
  }
  AppendKeptLetters(p, stop, &entry.letters);
  if (entry.letters.size() < s->limit.max_letters) return true;
  if (s->first_of_file) return false;
  if (s->limit.drop_too_long) {
    entry.dropped = entry.letters.size();
    std::string().swap(entry.letters);
    s->dropping = true;
  }
  return true;
}

// The characters of a piece of a sequence line that no letter is kept for, by index.
void NoteLeftOut(FastqScanner* s, const char* p, const char* stop, uint64_t index) {
  for (; p < stop; ++p) {
    if (*p == '\r') continue;
    if (!IsKeptLetter(*p)) s->left_out.push_back(index);
    ++index;
  }
}

const char* ScanSequence(FastqScanner* s, const char* p, const char* end) {
  const char* nl = FindByte(p, end, '\n');
  const char* stop = nl != nullptr ? nl : end;
  const uint64_t first = s->sequence_chars, chars = LineChars(p, stop);
  const std::size_t letters = s->qualities != nullptr ? LetterCount(*s->entry) : 0;
  s->sequence_chars += chars;
  const bool taken = !s->keep || TakeLetters(s, p, stop);
  if (s->qualities != nullptr && LetterCount(*s->entry) - letters != chars) {
    NoteLeftOut(s, p, stop, first);
  }
  if (!taken) {
    s->too_long = true;
    s->stage = Stage::kDone;
    return end;
  }
  if (nl == nullptr) return end;
  s->stage = Stage::kLineStart;
  return nl + 1;
}

// The rest of the '+' line is whatever it is (empty, or the header again).
const char* ScanPlusLine(FastqScanner* s, const char* p, const char* end) {
  const char* nl = FindByte(p, end, '\n');
  if (nl == nullptr) return end;
  if (s->sequence_chars == 0) return RecordDone(s, nl + 1);
  s->stage = Stage::kQualities;
  return nl + 1;
}

// A quality line may begin with '@', so a short one is known only by the line after it: the
// next record's '@' line, taken for qualities, makes them too many. A line that begins with
// '@' and holds more characters than the record lacks is taken for that: the qualities
// before it fall short. A file whose qualities match never meets either.
// Keeps the qualities of a piece of a quality line but those of the characters left out.
void TakeQualities(FastqScanner* s, const char* p, const char* stop, uint64_t index) {
  std::string& kept = *s->qualities;
  const std::vector<uint64_t>& out = s->left_out;
  const std::size_t n = static_cast<std::size_t>(stop - p);
  if (s->next_left_out == out.size() && std::memchr(p, '\r', n) == nullptr) {
    kept.append(p, n);
    return;
  }
  for (; p < stop; ++p) {
    if (*p == '\r') continue;
    if (s->next_left_out < out.size() && out[s->next_left_out] == index) {
      ++s->next_left_out;
    } else {
      kept.push_back(*p);
    }
    ++index;
  }
}

const char* ScanQualities(FastqScanner* s, const char* p, const char* end) {
  if (s->quality_line_start) s->quality_line_at = *p == '@';
  s->quality_line_start = false;
  const char* nl = FindByte(p, end, '\n');
  const uint64_t first = s->quality_chars;
  s->quality_chars += LineChars(p, nl != nullptr ? nl : end);
  if (s->qualities != nullptr && s->quality_chars <= s->sequence_chars) {
    TakeQualities(s, p, nl != nullptr ? nl : end, first);
  }
  if (s->quality_chars > s->sequence_chars) {
    return Wrong(s, s->quality_line_at ? kTooFewQualities : kTooManyQualities, s->record, end);
  }
  if (nl == nullptr) return end;
  if (s->quality_chars == s->sequence_chars) return RecordDone(s, nl + 1);
  s->quality_line_start = true;
  return nl + 1;
}

const char* ScanToNextRecord(FastqScanner* s, const char* p, const char* end) {
  p = SkipBlanks(p, end);
  if (p == end) return end;
  if (*p != '@') return NotARecordStart(s, s->record + 1, p);
  s->next_record = true;
  s->stage = Stage::kDone;
  return p;
}

// What is wrong with a record that the input ends in, if anything: it is whole after its
// qualities (a last line without its newline included), or after the '+' line of an empty
// sequence.
const char* WrongAtTheEnd(const FastqScanner* s) {
  switch (s->stage) {
    case Stage::kHeader:
    case Stage::kLineStart:
    case Stage::kSequence:
      return kEndsBeforePlusLine;
    case Stage::kPlusLine:
    case Stage::kQualities:
      return s->quality_chars < s->sequence_chars ? kTooFewQualities : nullptr;
    case Stage::kSeek:
    case Stage::kAfter:
    case Stage::kDone:
      break;
  }
  return nullptr;
}

}  // namespace

FastqScanner* NewFastqScanner(FastaEntry* entry, uint64_t record, bool keep, bool first_of_file,
                              LetterLimit limit) {
  auto* s = new FastqScanner();
  s->entry = entry;
  s->record = record;
  s->keep = keep;
  s->first_of_file = first_of_file;
  s->limit = limit;
  if (keep) {
    entry->header.clear();
    entry->letters.clear();
    entry->dropped = 0;
    if (limit.keep_qualities) {
      entry->qualities.clear();
      s->qualities = &entry->qualities;
    }
  }
  return s;
}

bool FastqScannerFeed(FastqScanner* s, const char* data, std::size_t n) {
  using Scan = const char* (*)(FastqScanner*, const char*, const char*);
  static constexpr Scan kScan[] = {ScanToRecord, ScanHeader,    ScanLineStart,   ScanSequence,
                                   ScanPlusLine, ScanQualities, ScanToNextRecord};
  return FeedStages(s, kScan, data, n);
}

std::size_t FastqScannerUsed(const FastqScanner* s) { return s->used; }

bool FastqScannerMetNextRecord(const FastqScanner* s) { return s->next_record; }

FastaStatus FastqScannerFinish(FastqScanner* s, std::string* problem) {
  if (s->wrong == nullptr && !s->too_long && (s->wrong = WrongAtTheEnd(s)) != nullptr) {
    s->wrong_record = s->record;
  }
  // A header line that runs to the end of the input ends there.
  if (s->keep && s->stage == Stage::kHeader) TrimHeader(&s->entry->header);
  FastaStatus status = FastaStatus::kOk;
  if (!s->started) {
    status = FastaStatus::kNoEntry;
  } else if (s->wrong != nullptr) {
    char text[160];
    std::snprintf(text, sizeof text, kFastqRecordProblem,
                  static_cast<unsigned long long>(s->wrong_record), s->wrong);
    *problem = text;
    status = FastaStatus::kReadError;
  } else if (s->too_long || (s->keep && LetterCount(*s->entry) >= s->limit.max_letters)) {
    status = FastaStatus::kTooLong;
  }
  // The first record of a file is kept only when it can be analysed, as a FASTA entry is.
  if (s->first_of_file && s->keep && status != FastaStatus::kOk) *s->entry = FastaEntry();
  delete s;
  return status;
}

}  // namespace kestra
