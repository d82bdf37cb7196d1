// An entry's analysis: encoding, the checks, random estimation and the count of segments.
#include <algorithm>

#include "base/pages.h"
#include "command_line/messages.h"
#include "entry/entry.h"
#include "entry/pieces.h"
#include "sequence/composition.h"

namespace kestra {
namespace {

// Sizes the bits for n letters, in huge pages: the words after the letters' are 0, the others
// are left for the pieces to write (ClearWords).
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

// Sets the words of positions [from, to) to 0; `from` is a multiple of 64, and so is `to`
// unless it ends the letters.
void ClearWords(uint64_t* bits, int64_t from, int64_t to) {
  std::fill(bits + from / 64, bits + (to + 63) / 64, 0);
}

// With -S or -B: the longest merged lengths of random sequences drawn from a generator seeded
// with the run's seed.
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
  a->random_longest = CountLongestMergedLengths(
      &generator, bits, a->length, random, progress ? progress : [](int) {});
}

}  // namespace

EntryContext MakeEntryContext(const Settings* s, int64_t seed, Pipeline* p, int64_t piece_cells,
                              EntryStorage* storage) {
  storage->buffers.resize(static_cast<std::size_t>(PieceBuffers(p)));
  storage->lanes.resize(static_cast<std::size_t>(Lanes(p)));
  return EntryContext{s, {}, false, seed, p, piece_cells, &storage->buffers, &storage->lanes};
}

std::optional<Failure> ReadFailure(FastaStatus status) {
  if (status == FastaStatus::kTooLong) return Failure{StandardStream::kStderr, kSequenceTooLong};
  if (status != FastaStatus::kOk) return Failure{StandardStream::kStdoutLine, kErrorReadingFasta};
  return std::nullopt;
}

EntryAnalysis EncodeEntry(const EntryContext& c, uint64_t job, FastaEntry* entry,
                          FastaStatus status, EntryScratch* scratch) {
  const Settings& s = *c.settings;
  EntryAnalysis a;
  scratch->original.clear();
  a.failure = ReadFailure(status);
  if (a.failure) return a;
  char* letters = &entry->letters[0];
  // The letters the masked copy starts from: the input's own case with --keep-case.
  const bool masked_copy = s.mask != MaskStyle::kNone;
  if (s.keep_case && masked_copy) scratch->original = entry->letters;
  a.length = static_cast<int>(entry->letters.size());
  PrepareBits(a.length, &scratch->bits);
  // The mask: for the masked copy, or for the count of positions masked in the summary.
  if (masked_copy || s.summary) PrepareBits(a.length, &scratch->mask);
  uint64_t* bits = scratch->bits.data();
  uint64_t* mask = masked_copy || s.summary ? scratch->mask.data() : nullptr;
  const Pieces pieces = CutIntoPieces(a.length, c.piece_cells);
  PieceBuffer in_order;
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        PieceBuffer& b = buffer == kInOrder ? in_order : (*c.buffers)[buffer];
        std::fill(b.counts, b.counts + 4, 0);
        EncodeLetters(letters, pieces.From(i), pieces.To(i), s.special_residues, bits, b.counts);
        b.specials = CountSpecials(bits, pieces.From(i), pieces.To(i));
        if (mask != nullptr) ClearWords(mask, pieces.From(i), pieces.To(i));
      },
      [&](int64_t, int buffer) {
        const PieceBuffer& b = buffer == kInOrder ? in_order : (*c.buffers)[buffer];
        for (int k = 0; k < 4; ++k) a.counts[k] += b.counts[k];
        a.specials += b.specials;
      });
  // An entry without nucleotides is skipped whatever frequencies it would be analysed with.
  if (!FrequenciesOf(a.counts, a.frequencies)) {
    a.failure = Failure{StandardStream::kStderr, kNoValidNucleotides};
  } else if (c.significance.background) {
    std::copy(c.significance.frequencies, c.significance.frequencies + 4, a.frequencies);
  }
  return a;
}

void CheckEntry(const Settings& s, EntryAnalysis* a) {
  EffectiveFrequencies(s, a->frequencies, a->frequencies);
  a->failure = CheckSettings(s, a->frequencies, &a->length);
  if (a->failure) return;
  a->special_probability = SpecialProbability(s.special_residues, a->frequencies);
  a->linkage = s.linkage;
  if (s.estimate_linkage && !EstimateLinkageDistance(a->special_probability, &a->linkage)) {
    a->failure = Failure{StandardStream::kStderr, kLinkageNotEstimable};
  }
}

void AnalyseSegments(const EntryContext& c, uint64_t job, const std::function<void(int)>& progress,
                     EntryScratch* scratch, EntryAnalysis* a) {
  const Settings& s = *c.settings;
  const uint64_t* bits = scratch->bits.data();
  EstimateRandom(s, c.seed, bits, progress, a);
  // In window mode a piece looks back at the windows that may join its first segment: when
  // they reach further than half a piece, the entry goes in one piece.
  Pieces pieces = CutIntoPieces(a->length, c.piece_cells);
  const bool cut = s.mode() != DetectionMode::kWindow || !s.merge ||
                   int64_t{s.window} + std::max(0, a->linkage) <= pieces.cells / 2;
  if (!cut) pieces = CutIntoPieces(a->length, std::max<int64_t>(a->length, 1));
  a->piece_cells = pieces.cells;
  // An entry of one piece, as most are, numbers its segments from 1 without a table.
  a->first_index.assign(pieces.count > 1 ? static_cast<std::size_t>(pieces.count) : 0, 0);
  int64_t in_order = 0;
  RunPieces(
      c.pipeline, job, pieces.count,
      [&](int64_t i, int buffer) {
        int64_t& count = buffer == kInOrder ? in_order : (*c.buffers)[buffer].segments;
        if (s.mode() == DetectionMode::kRuns) {
          count = CountMergedSegments(bits, a->length, a->linkage, pieces.From(i), pieces.To(i));
          return;
        }
        SegmentWalk walk =
            SegmentsIn(s, *a, bits, pieces.From(i), pieces.To(i), &ThisLane(c).windows);
        count = 0;
        for (Span segment; NextSegment(bits, &walk, &segment);) ++count;
      },
      [&](int64_t i, int buffer) {
        if (!a->first_index.empty()) a->first_index[static_cast<std::size_t>(i)] = a->segments + 1;
        a->segments += buffer == kInOrder ? in_order : (*c.buffers)[buffer].segments;
      });
}

EntryAnalysis AnalyseEntry(const EntryContext& c, uint64_t job, FastaEntry* entry,
                           FastaStatus status, EntryScratch* scratch) {
  EntryAnalysis a = EncodeEntry(c, job, entry, status, scratch);
  if (!a.failure) CheckEntry(*c.settings, &a);
  if (!a.failure) AnalyseSegments(c, job, {}, scratch, &a);
  return a;
}

}  // namespace kestra
