// The calls on letters held in memory: a sequence analysed as the only entry of an input, and
// its masked copy.
#include <cctype>
#include <stdexcept>

#include "library/library.h"
#include "sequence/composition.h"
#include "sequence/letters.h"

namespace kestra {
namespace {

// The letters a FASTA entry would hold.
std::string KeptLetters(const char* letters, std::size_t size) {
  std::string kept;
  AppendKeptLetters(letters, letters + size, &kept);
  return kept;
}

}  // namespace

Result Analyse(const std::string& letters, const Options& options) {
  return AnalyseLetters(letters.data(), letters.size(), options);
}

Result AnalyseLetters(const char* letters, std::size_t size, const Options& options) {
  const Settings s = SettingsOf(options);
  FastaEntry entry;
  entry.letters = KeptLetters(letters, size);
  EntryStorage storage;
  EntryContext c = MakeEntryContext(&s, SeedOf(options), nullptr, 0, &storage);
  c.significance = LookAcross(s, [&entry] {
    InputSurvey survey;
    survey.entries = 1;
    CountNucleotides(entry.letters.data(), entry.letters.data() + entry.letters.size(),
                     survey.counts);
    return survey;
  });
  const FastaStatus status =
      entry.letters.size() >= kFastaMaxLetters ? FastaStatus::kTooLong : FastaStatus::kOk;
  EntryScratch scratch;
  Result result;
  if (auto failure = AnalyseInto(c, 0, &entry, status, &scratch, nullptr, &result)) {
    ThrowInvalid(*failure);
  }
  return result;
}

std::string Mask(const std::string& letters, const Result& result, Masking masking,
                 const Options& options) {
  std::string masked = KeptLetters(letters.data(), letters.size());
  if (static_cast<int64_t>(masked.size()) != result.length) {
    throw std::invalid_argument("the result is of a sequence of another length");
  }
  if (!options.keep_case) UpperCase(&masked[0], static_cast<long>(masked.size()));
  for (const Segment& s : result.segments) {
    if (!s.masked) continue;
    for (int64_t i = s.start; i < s.end; ++i) {
      char& c = masked[static_cast<std::size_t>(i)];
      c = masking == Masking::kHard ? 'N' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return masked;
}

std::string Version() { return KESTRA_VERSION; }

}  // namespace kestra
