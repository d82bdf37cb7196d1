#include "driver/analysis.h"

#include <cstdlib>
#include <ctime>

#include "driver/messages.h"
#include "sequence/composition.h"

std::optional<Failure> TakeComposition(std::string* letters, EntryAnalysis* a) {
  a->length = static_cast<int>(letters->size());
  if (!letters->empty()) UpperCase(&(*letters)[0], a->length);
  if (!NucleotideFrequencies(letters->data(), a->length, a->frequencies)) {
    return Failure{Stream::kStderr, kNoValidNucleotides};
  }
  return std::nullopt;
}

std::optional<Failure> EncodeEntry(const Settings& s, const std::string& letters,
                                   EntryAnalysis* a) {
  EffectiveFrequencies(s, a->frequencies, a->frequencies);
  if (auto failure = CheckSettings(s, a->frequencies, &a->length)) return failure;
  a->binary.resize(static_cast<std::size_t>(a->length) + 1);
  EncodeBinary(letters.data(), a->length, s.special_residues, a->binary.data());
  a->special_probability = SpecialProbability(s.special_residues, a->frequencies);
  a->linkage = s.linkage;
  if (s.estimate_linkage && !EstimateLinkageDistance(a->special_probability, &a->linkage)) {
    return Failure{Stream::kStderr, kLinkageNotEstimable};
  }
  return std::nullopt;
}

void DetectSegments(const Settings& s, int64_t seed, const std::function<void(int)>& progress,
                    EntryAnalysis* a) {
  if (s.mode() == DetectionMode::kWindow) {
    // Windows are scored, merged and written as they slide: two walks, one to count them.
    a->segments = WindowSource(
        std::move(a->binary),
        MakeWindowScores(s.window, a->length, a->special_probability, s.window_threshold), s.merge,
        a->linkage);
    return;
  }
  if (s.draws_random()) {
    // The working copy exists only while random sequences are drawn.
    std::vector<char> working(a->binary);
    const RandomSequences random{
        s.random,
        s.random_sequences,
        a->linkage,
        s.special_residues,
        {a->frequencies[0], a->frequencies[1], a->frequencies[2], a->frequencies[3]}};
    RandomGenerator generator(seed);
    a->random_longest =
        CountLongestMergedLengths(&generator, working.data(), a->length, random, progress);
  }
  // Runs are merged as the report walks them; here they are only counted.
  a->segments = MergedRunSource(std::move(a->binary), a->length, a->linkage);
}

int64_t ClockSeed() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  int64_t last = 0;
  for (int i = 0; i < 100; ++i) last = std::rand();
  // A 0 seeds with 123456789, as seeding from the clock does; the one value past the
  // largest seed would fold onto the zero state, so it takes that seed too.
  return last >= 1 && last <= kLargestSeed ? last : 123456789;
}

ReportHeader HeaderOf(const Settings& s, const EntryAnalysis& a) {
  return ReportHeader{a.length,           s.window,           a.linkage,
                      s.window_threshold, s.special_residues, s.frequencies_given(),
                      s.random,           s.random_sequences};
}

EntryText TextOf(const Settings& s, const EntryAnalysis& a, const std::string& header,
                 const std::string& letters, const std::string& unmasked) {
  return EntryText{&header,  letters.data(),     unmasked.data(),
                   a.length, s.special_residues, a.special_probability,
                   s.mask,   s.mask_threshold};
}
