// One entry analysed into a Result: the command's analysis, then its segments walked as the
// report walks them, piece by piece, each scored and masked as the tables show it.
#include <algorithm>

#include "entry/pieces.h"
#include "library/library.h"
#include "report/report.h"

namespace kestra {
namespace {

// Positions inside the masked segments, which follow one another by start.
int64_t MaskedPositions(const std::vector<Segment>& segments) {
  int64_t masked = 0, covered = 0;
  for (const Segment& s : segments) {
    if (!s.masked) continue;
    const int64_t from = std::max(s.start, covered);
    if (s.end > from) masked += s.end - from;
    covered = std::max(covered, s.end);
  }
  return masked;
}

// The segments that open in cells [from, to), appended to *into.
void CollectSegments(const EntryContext& c, const EntryAnalysis& a, const uint64_t* bits,
                     int64_t from, int64_t to, std::vector<Segment>* into) {
  const Settings& s = *c.settings;
  LaneScratch& lane = ThisLane(c);
  StartScoring(&lane.scorer, a.length, a.special_probability,
               s.draws_random() ? &a.random_longest : nullptr);
  SegmentWalk walk = SegmentsIn(s, a, bits, from, to, &lane.windows);
  const double m = static_cast<double>(c.significance.entries);
  const double below = s.mask_by_evalue ? s.mask_evalue : s.mask_threshold;
  for (Span span; NextSegment(bits, &walk, &span);) {
    const PValue& p = ScoreSegment(&lane.scorer, span.specials, span.length);
    Segment segment;
    segment.start = span.start - 1;
    segment.end = span.end;
    segment.length = span.length;
    segment.special = span.specials;
    segment.p_value = p.p;
    if (m > 0.0) segment.e_value = p.p * m;
    segment.masked = (m > 0.0 && s.mask_by_evalue ? segment.e_value : p.p) < below;
    into->push_back(segment);
  }
}

}  // namespace

std::optional<Failure> AnalyseInto(const EntryContext& c, uint64_t job, FastaEntry* entry,
                                   FastaStatus status, EntryScratch* scratch,
                                   SegmentBuffers* buffers, Result* result) {
  const EntryAnalysis a = AnalyseEntry(c, job, entry, status, scratch);
  if (a.failure) return a.failure;
  const uint64_t* bits = scratch->bits.data();
  result->segments.clear();
  result->segments.reserve(static_cast<std::size_t>(a.segments));
  const Pieces pieces = CutIntoPieces(a.length, a.piece_cells);
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        std::vector<Segment>* into = &result->segments;
        if (buffer != kInOrder) {
          into = &(*buffers)[static_cast<std::size_t>(buffer)];
          into->clear();
        }
        CollectSegments(c, a, bits, pieces.From(i), pieces.To(i), into);
      },
      [&](int64_t, int buffer) {
        if (buffer == kInOrder) return;
        const std::vector<Segment>& piece = (*buffers)[static_cast<std::size_t>(buffer)];
        result->segments.insert(result->segments.end(), piece.begin(), piece.end());
      });
  result->length = a.length;
  result->masked_positions = MaskedPositions(result->segments);
  const OverallTest overall = TestOverall(a.specials, a.length, a.special_probability);
  result->overall = Overall{overall.specials, overall.p, overall.below, overall.valid};
  result->linkage = a.linkage;
  result->special_probability = a.special_probability;
  std::copy(a.frequencies, a.frequencies + 4, result->frequencies);
  result->seed = c.seed;
  return std::nullopt;
}

}  // namespace kestra
