#include "score/scorer.h"

#include "output/number_format.h"

namespace kestra {

namespace {

constexpr int kSmall = 64;  // counts and lengths below it have a slot of their own

}  // namespace

PValue MakePValue(double p) {
  PValue v;
  v.p = p;
  v.size = static_cast<int>(FormatSci(v.text, p) - v.text);
  return v;
}

void StartScoring(SegmentScorer* s, int length, double special_probability,
                  const LongestLengthCounts* empirical) {
  // The scan statistic depends on nothing else: what was scored for the same length and
  // probability (another piece of the entry, say) stands.
  if (!s->small.empty() && empirical == nullptr && s->empirical == nullptr && length == s->length &&
      special_probability == s->special_probability) {
    return;
  }
  s->length = length;
  s->special_probability = special_probability;
  s->empirical = empirical;
  if (s->small.empty()) s->small.assign(kSmall * kSmall, PValue{0.0, 0, {}});
  for (const int slot : s->small_used) s->small[slot].size = 0;
  s->small_used.clear();
  s->known.clear();
}

const PValue& ScoreSegment(SegmentScorer* s, int specials, int length) {
  // The empirical p-value depends on the length alone.
  const int count = s->empirical != nullptr ? 0 : specials;
  const auto score = [&] {
    return MakePValue(s->empirical != nullptr ? EmpiricalPValue(*s->empirical, length)
                                              : ScanPValue(specials, length, s->length,
                                                           s->special_probability, &s->workspace));
  };
  if (length < kSmall && count < kSmall) {
    const int slot = length * kSmall + count;
    PValue& v = s->small[static_cast<std::size_t>(slot)];
    if (v.size == 0) {
      v = score();
      s->small_used.push_back(slot);
    }
    return v;
  }
  const uint64_t key =
      (static_cast<uint64_t>(static_cast<uint32_t>(count)) << 32) | static_cast<uint32_t>(length);
  auto hit = s->known.find(key);
  if (hit == s->known.end()) hit = s->known.emplace(key, score()).first;
  return hit->second;
}

}  // namespace kestra
