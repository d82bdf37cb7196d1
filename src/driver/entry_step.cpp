#include "driver/entry_step.h"

#include "driver/messages.h"
#include "sequence/composition.h"

std::optional<Failure> ReadFailure(FastaStatus status) {
  if (status == FastaStatus::kTooLong) return Failure{Stream::kStderr, kSequenceTooLong};
  if (status != FastaStatus::kOk) return Failure{Stream::kStdoutLine, kErrorReadingFasta};
  return std::nullopt;
}

EntryOutcome ProcessEntry(const EntryWork& work, FastaEntry* entry, FastaStatus status,
                          const std::optional<Failure>& settings_failure, const EntrySinks& sinks,
                          SegmentScorer* scorer) {
  const Settings& s = *work.settings;
  // The letters the masked copy starts from: the input's own case with --keep-case.
  const std::string original =
      s.keep_case && s.mask != MaskStyle::kNone ? entry->letters : std::string();
  const std::string& unmasked = original.empty() ? entry->letters : original;
  EntryOutcome outcome;
  EntryAnalysis a;
  a.length = static_cast<int>(entry->letters.size());
  outcome.failure = ReadFailure(status);
  if (!outcome.failure) outcome.failure = TakeComposition(&entry->letters, &a);
  if (!outcome.failure) outcome.failure = settings_failure;
  if (!outcome.failure) outcome.failure = EncodeEntry(s, entry->letters, &a);
  if (outcome.failure) {
    // Sizes as they stand: an entry too long for a count of positions is written all the same.
    const long n = static_cast<long>(entry->letters.size());
    if (sinks.fasta != nullptr) {
      if (original.empty()) UpperCase(&entry->letters[0], n);
      WriteFastaEntry(sinks.fasta, entry->header, unmasked.data(), n);
    }
    return outcome;
  }
  if (work.encoded) work.encoded(a);
  DetectSegments(
      s, work.seed, work.progress ? work.progress : [](int) {}, &a);
  if (sinks.report != nullptr) WriteReportHeader(sinks.report, HeaderOf(s, a));
  StartScoring(scorer, a.length, a.special_probability,
               s.draws_random() ? &a.random_longest : nullptr);
  outcome.linkage = a.linkage;
  outcome.counts = WriteEntryOutputs(TextOf(s, a, entry->header, entry->letters, unmasked),
                                     &a.segments, scorer, sinks);
  return outcome;
}
