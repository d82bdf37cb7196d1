// A whole input surveyed: plain FASTA text by a byte scan that finds the entries' starts and
// counts the nucleotides between them through a table; any other input through the reader,
// entry by entry.
#include "sequence/survey.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/blocks.h"
#include "sequence/reads.h"

namespace kestra {

namespace {

// For each byte, a count of one in the 16-bit field of its nucleotide (A, T, G, C from the
// lowest field up), either case; 0 for any other byte. Summing them counts four letters at
// once.
constexpr std::array<uint64_t, 256> MakeNucleotideFields() {
  std::array<uint64_t, 256> fields{};
  constexpr char kOrder[] = "ATGC";
  for (int i = 0; i < 4; ++i) {
    fields[static_cast<unsigned char>(kOrder[i])] = uint64_t{1} << (16 * i);
    fields[static_cast<unsigned char>(kOrder[i] - 'A' + 'a')] = uint64_t{1} << (16 * i);
  }
  return fields;
}
constexpr std::array<uint64_t, 256> kNucleotideFields = MakeNucleotideFields();

// Bytes summed before the fields are added into the counts: four sums, each of a quarter of
// them and the few left over, stay below 2^16 a field.
constexpr std::size_t kSummedBytes = std::size_t{1} << 16;

inline uint64_t FieldsOf(const char* p) {
  return kNucleotideFields[static_cast<unsigned char>(*p)];
}

bool SurveyPlainFile(int fd, InputSurvey* survey, ReadProblem* problem) {
  std::unique_ptr<char[]> block(new char[kIoBlock]);
  FastaTextSurvey text{survey};
  for (uint64_t at = 0;;) {
    const long got = ReadSomeAt(fd, block.get(), kIoBlock, at);
    if (got < 0) {
      problem->reason = std::strerror(errno);
      return false;
    }
    if (got == 0) return true;
    SurveyFastaText(&text, block.get(), static_cast<std::size_t>(got));
    at += static_cast<uint64_t>(got);
  }
}

bool SurveyEntries(int fd, const ParallelLoop* loop, InputSurvey* survey, ReadProblem* problem) {
  FastaReader* reader = OpenFastaReader(fd, loop);
  FastaEntry entry;
  FastaStatus status;
  bool ok = true;
  while (ok && NextFastaEntry(reader, &entry, &status)) {
    ok = status != FastaStatus::kReadError;
    if (!ok) *problem = FastaReaderProblem(reader);
    ++survey->entries;
    const char* letters = entry.letters.data();
    CountNucleotides(letters, letters + entry.letters.size(), survey->counts);
  }
  CloseFastaReader(reader);
  return ok;
}

}  // namespace

void CountNucleotides(const char* p, const char* end, int64_t counts[4]) {
  while (p < end) {
    const char* const stop = p + std::min<std::size_t>(kSummedBytes, end - p);
    uint64_t sums[4] = {0, 0, 0, 0};
    for (; stop - p >= 4; p += 4) {
      sums[0] += FieldsOf(p);
      sums[1] += FieldsOf(p + 1);
      sums[2] += FieldsOf(p + 2);
      sums[3] += FieldsOf(p + 3);
    }
    for (; p < stop; ++p) sums[0] += FieldsOf(p);
    for (const uint64_t sum : sums) {
      for (int k = 0; k < 4; ++k) counts[k] += static_cast<int64_t>((sum >> (16 * k)) & 0xffff);
    }
  }
}

void SurveyFastaText(FastaTextSurvey* s, const char* p, std::size_t n) {
  const char* const end = p + n;
  while (p < end) {
    if (s->in_header) {
      const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      if (nl == nullptr) return;
      s->in_header = false;
      p = static_cast<const char*>(nl) + 1;
      continue;
    }
    const char* gt =
        static_cast<const char*>(std::memchr(p, '>', static_cast<std::size_t>(end - p)));
    if (s->started) CountNucleotides(p, gt != nullptr ? gt : end, s->survey->counts);
    if (gt == nullptr) return;
    s->started = true;
    s->in_header = true;
    ++s->survey->entries;
    p = gt + 1;
  }
}

bool SurveyInput(int fd, const ParallelLoop* loop, InputSurvey* survey, ReadProblem* problem) {
  *survey = InputSurvey();
  problem->reason.clear();
  uint64_t size = 0;
  if (IsPlainFile(fd, &size)) return SurveyPlainFile(fd, survey, problem);
  return SurveyEntries(fd, loop, survey, problem);
}

}  // namespace kestra
