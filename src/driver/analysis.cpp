#include "driver/analysis.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "driver/messages.h"
#include "output/pages.h"
#include "sequence/composition.h"

void PrepareBits(int64_t n, BitWords* bits) {
  const std::size_t words = static_cast<std::size_t>(n) / 64 + 2;
  if (bits->capacity() < words) {
    BitWords().swap(*bits);
    bits->reserve(words);
    AdviseHugePages(bits->data(), words * sizeof(uint64_t));
  }
  bits->resize(words);
  const std::size_t last = static_cast<std::size_t>(n) / 64;
  std::fill(bits->begin() + static_cast<std::ptrdiff_t>(last), bits->end(), 0);
}

void ClearWords(uint64_t* bits, int64_t from, int64_t to) {
  std::fill(bits + from / 64, bits + (to + 63) / 64, 0);
}

void EncodeStretch(const Settings& s, char* letters, int64_t from, int64_t to, uint64_t* bits,
                   int64_t counts[4], int64_t* specials) {
  EncodeLetters(letters, from, to, s.special_residues, bits, counts);
  *specials += CountSpecials(bits, from, to);
}

std::optional<Failure> CheckEntry(const Settings& s, const std::optional<Failure>& settings_failure,
                                  EntryAnalysis* a) {
  if (!FrequenciesOf(a->counts, a->frequencies)) {
    return Failure{Stream::kStderr, kNoValidNucleotides};
  }
  if (settings_failure) return settings_failure;
  EffectiveFrequencies(s, a->frequencies, a->frequencies);
  if (auto failure = CheckSettings(s, a->frequencies, &a->length)) return failure;
  a->special_probability = SpecialProbability(s.special_residues, a->frequencies);
  a->linkage = s.linkage;
  if (s.estimate_linkage && !EstimateLinkageDistance(a->special_probability, &a->linkage)) {
    return Failure{Stream::kStderr, kLinkageNotEstimable};
  }
  return std::nullopt;
}

void EstimateRandom(const Settings& s, int64_t seed, const uint64_t* bits,
                    const std::function<void(int)>& progress, EntryAnalysis* a) {
  if (s.mode() != DetectionMode::kRuns || !s.draws_random()) return;
  const RandomSequences random{
      s.random,
      s.random_sequences,
      a->linkage,
      s.special_residues,
      {a->frequencies[0], a->frequencies[1], a->frequencies[2], a->frequencies[3]}};
  RandomGenerator generator(seed);
  a->random_longest = CountLongestMergedLengths(&generator, bits, a->length, random, progress);
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

SegmentWalk SegmentsOf(const Settings& s, const EntryAnalysis& a, const uint64_t* bits,
                       int64_t from, int64_t to, WindowScores* scores) {
  if (s.mode() == DetectionMode::kWindow) {
    PrepareWindowScores(scores, s.window, a.length, a.special_probability, s.window_threshold);
    return WindowSegments(bits, scores, s.merge, a.linkage, from, to);
  }
  return MergedRunSegments(bits, a.length, a.linkage, from, to);
}

bool CanCut(const Settings& s, const EntryAnalysis& a, int64_t cells) {
  if (s.mode() != DetectionMode::kWindow || !s.merge) return true;
  return int64_t{s.window} + std::max(0, a.linkage) <= cells / 2;
}
