#include "driver/analysis.h"

#include <cstdlib>
#include <ctime>

#include "driver/messages.h"
#include "sequence/composition.h"

std::optional<Failure> TakeComposition(std::string* seq, EntryAnalysis* a) {
  a->length = static_cast<int>(seq->size());
  if (!seq->empty()) Conv2Upper(&(*seq)[0], a->length);
  if (!ComputeNTfreq(seq->data(), a->length, a->freq)) {
    return Failure{FatalStream::kStderr, kNoValidNucleotides};
  }
  return std::nullopt;
}

std::optional<Failure> EncodeEntry(const Settings& s, const std::string& seq, EntryAnalysis* a) {
  EffectiveFrequencies(s, a->freq, a->freq);
  if (auto failure = CheckSettings(s, a->freq, &a->length)) return failure;
  a->binary.resize(static_cast<std::size_t>(a->length) + 1);
  Seq2binary(seq.data(), a->length, s.special_aa, a->binary.data());
  a->P_special = ComputeResiduePNT(s.special_aa, a->freq);
  a->max_separation = s.max_separation;
  if (s.estimate_linkage && !EstimateLinkageDistance(a->P_special, &a->max_separation)) {
    return Failure{FatalStream::kStderr, kLinkageNotEstimable};
  }
  return std::nullopt;
}

void DetectSegments(const Settings& s, int64_t seed, const std::function<void(int)>& progress,
                    EntryAnalysis* a) {
  const char* binary = a->binary.data();
  if (s.mode() == Mode::kWindow) {
    // Windows are scored, merged and written as they slide: two walks, one to count them.
    a->window_scores = MakeWindowScores(s.window, a->length, a->P_special, s.min_p_val);
    a->segments =
        SourceOfWindows(StartWindowWalk(binary, &a->window_scores, s.merge, a->max_separation));
    return;
  }
  // Runs are merged as the report walks them; here they are only counted.
  a->segments = SourceOfRuns(binary, a->length, a->max_separation);
  if (!s.draws_random()) return;
  // The working copy exists only while random sequences are drawn.
  std::vector<char> working(a->binary);
  const RandomSettings settings{s.random == RandomSource::kShuffle ? 2 : 1,
                                s.random_seqs,
                                a->max_separation,
                                s.special_aa,
                                {a->freq[0], a->freq[1], a->freq[2], a->freq[3]}};
  Ran1 generator;
  init_ran1(&generator, seed);
  a->random_max = EstimateRandomPM(&generator, working.data(), a->length, settings, progress);
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
  const char* estimates = s.random == RandomSource::kShuffle    ? "shuffled"
                          : s.random == RandomSource::kGenerate ? "generated"
                                                                : nullptr;
  return ReportHeader{
      a.length,         s.window,
      a.max_separation, s.min_p_val,
      s.special_aa,     s.user_frequencies() ? "User-supplied frequencies" : "Default frequencies",
      estimates,        s.random_seqs};
}

ReportInput ReportInputOf(const Settings& s, const EntryAnalysis& a, const std::string& header,
                          const std::string& seq, const std::string& unmasked) {
  return ReportInput{&header,        seq.data(),    unmasked.data(),
                     a.length,       s.special_aa,  a.P_special,
                     s.random_seqs,  &a.random_max, static_cast<int>(s.mask),
                     s.masking_p_val};
}
