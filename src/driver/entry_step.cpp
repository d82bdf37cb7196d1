#include "driver/entry_step.h"

#include <algorithm>

#include "driver/messages.h"
#include "sequence/composition.h"

namespace {

// Cells of a stretch, unless a run asks for others: a multiple of 64 (a word of bits) and of
// 80 (a line of letters). What a stretch writes, about a MiB, then still sits in the cache of
// the thread that wrote it when it goes to the file.
constexpr int64_t kStretch = 320 * 800;

// Where each stretch's output goes: into the buffers of its slot, when stretches are formatted
// on other threads, or straight into the entry's sinks, when this thread does them in order.
struct Stretches {
  WorkPool* pool;  // runs stretches apart when it has threads and there are several
  int64_t length;
  int64_t cells;  // of a stretch
  int64_t count;
  bool apart;  // formatted on the pool's threads, into slots
  EntryScratch* scratch;
  std::vector<StretchSlot>* slots;  // one a lane when apart, else one

  int64_t From(int64_t i) const { return i * cells; }
  int64_t To(int64_t i) const { return std::min(length, (i + 1) * cells); }
  // A thread makes one stretch at a time and hands it on before it takes another, so each
  // thread has a slot of its own: what it writes there stays in its own caches.
  StretchSlot& Slot(int64_t) const {
    return (*slots)[static_cast<std::size_t>(apart ? PoolLane() : 0)];
  }
  int64_t Ahead() const { return apart ? static_cast<int64_t>(pool->helpers) + 2 : 1; }
  // The sink a stretch writes `final` output into.
  TextSink* Into(int64_t i, TextSink* final, TextSink StretchSlot::*buffer) const {
    if (final == nullptr) return nullptr;
    if (!apart) return final;
    // Room for what a stretch writes, taken once: a report holds about four bytes a letter,
    // a masked copy one. Growing buffers would copy them and touch fresh memory each time.
    TextSink* sink = &(Slot(i).*buffer);
    const std::size_t room = static_cast<std::size_t>(buffer == &StretchSlot::report ? 6 : 2) *
                             static_cast<std::size_t>(cells);
    if (sink->buffer.capacity() < room) SinkReserveCapacity(sink, room);
    return sink;
  }
  // Hands what a stretch wrote in its slot to the entry's sink, and empties the slot.
  void Pass(int64_t i, TextSink* final, TextSink StretchSlot::*buffer) const {
    if (!apart || final == nullptr) return;
    TextSink& slot = Slot(i).*buffer;
    SinkWriteBlock(final, slot.buffer.data(), slot.used);
    slot.used = 0;
  }
  void Run(const std::function<void(int64_t)>& stretch,
           const std::function<void(int64_t)>& consume) const {
    RunPiecesInOrder(apart ? pool : nullptr, count, Ahead(), stretch, consume);
  }
};

// The entry cut into stretches of `cells`, or of kStretch for 0.
Stretches Cut(WorkPool* pool, int64_t cells, int64_t length, EntryScratch* scratch,
              std::vector<StretchSlot>* lanes) {
  Stretches s;
  s.pool = pool;
  s.length = length;
  s.cells = cells > 0 ? cells : kStretch;
  s.count = std::max<int64_t>(1, (length + s.cells - 1) / s.cells);
  s.apart = pool != nullptr && pool->helpers > 0 && s.count > 1;
  s.scratch = scratch;
  s.slots = s.apart && lanes != nullptr ? lanes : &scratch->stretches;
  if (s.slots == &scratch->stretches) {
    scratch->stretches.resize(static_cast<std::size_t>(s.apart ? pool->helpers + 1 : 1));
  }
  return s;
}

// Upper-cases and encodes the letters, stretch by stretch, into the analysis; clears the
// stretch's words of the mask, when there is one.
void Encode(const EntryWork& work, const Stretches& cut, char* letters, uint64_t* bits,
            uint64_t* mask, EntryAnalysis* a) {
  cut.Run(
      [&](int64_t i) {
        StretchSlot& slot = cut.Slot(i);
        std::fill(slot.counts, slot.counts + 4, 0);
        slot.specials = 0;
        EncodeStretch(*work.settings, letters, cut.From(i), cut.To(i), bits, slot.counts,
                      &slot.specials);
        if (mask != nullptr) ClearWords(mask, cut.From(i), cut.To(i));
      },
      [&](int64_t i) {
        const StretchSlot& slot = cut.Slot(i);
        for (int k = 0; k < 4; ++k) a->counts[k] += slot.counts[k];
        a->specials += slot.specials;
      });
}

// The report's letters, with the count of segments of each stretch; returns their sum.
int64_t WriteLettersAndCount(const Settings& s, const Stretches& cut, const EntryAnalysis& a,
                             const char* letters, const uint64_t* bits, TextSink* report,
                             std::vector<int64_t>* first_index) {
  int64_t total = 0;
  cut.Run(
      [&](int64_t i) {
        StretchSlot& slot = cut.Slot(i);
        TextSink* out = cut.Into(i, report, &StretchSlot::report);
        if (out != nullptr) WriteLetterLines(out, letters, cut.From(i), cut.To(i));
        if (s.mode() == DetectionMode::kRuns) {
          slot.segments = CountMergedSegments(bits, a.length, a.linkage, cut.From(i), cut.To(i));
          return;
        }
        SegmentWalk walk = SegmentsOf(s, a, bits, cut.From(i), cut.To(i), &slot.windows);
        slot.segments = 0;
        for (Segment segment; NextSegment(bits, &walk, &segment);) ++slot.segments;
      },
      [&](int64_t i) {
        cut.Pass(i, report, &StretchSlot::report);
        (*first_index)[static_cast<std::size_t>(i)] = total + 1;
        total += cut.Slot(i).segments;
      });
  return total;
}

// A line for each segment in the report, a BED line for each masked one, and the mask.
void WriteSegmentLines(const Settings& s, const Stretches& cut, const EntryAnalysis& a,
                       const EntryText& text, const uint64_t* bits,
                       const std::vector<int64_t>& first_index, const EntrySinks& sinks,
                       uint64_t* mask) {
  cut.Run(
      [&](int64_t i) {
        StretchSlot& slot = cut.Slot(i);
        StartScoring(&slot.scorer, a.length, a.special_probability,
                     s.draws_random() ? &a.random_longest : nullptr);
        SegmentWalk walk = SegmentsOf(s, a, bits, cut.From(i), cut.To(i), &slot.windows);
        WriteSegments(text, bits, &walk, first_index[static_cast<std::size_t>(i)], &slot.scorer,
                      cut.Into(i, sinks.report, &StretchSlot::report),
                      cut.Into(i, sinks.bed, &StretchSlot::bed), mask);
      },
      [&](int64_t i) {
        cut.Pass(i, sinks.report, &StretchSlot::report);
        cut.Pass(i, sinks.bed, &StretchSlot::bed);
      });
}

// The masked copy; returns how many positions it masks.
int64_t WriteMaskedCopy(const Stretches& cut, const EntryText& text, const uint64_t* mask,
                        TextSink* fasta) {
  int64_t masked = 0;
  WriteFastaHeader(fasta, *text.header);
  cut.Run(
      [&](int64_t i) {
        WriteMaskedLines(cut.Into(i, fasta, &StretchSlot::fasta), text, mask, cut.From(i),
                         cut.To(i));
        cut.Slot(i).masked = CountSpecials(mask, cut.From(i), cut.To(i));
      },
      [&](int64_t i) {
        cut.Pass(i, fasta, &StretchSlot::fasta);
        masked += cut.Slot(i).masked;
      });
  return masked;
}

}  // namespace

std::optional<Failure> ReadFailure(FastaStatus status) {
  if (status == FastaStatus::kTooLong) return Failure{Stream::kStderr, kSequenceTooLong};
  if (status != FastaStatus::kOk) return Failure{Stream::kStdoutLine, kErrorReadingFasta};
  return std::nullopt;
}

EntryOutcome ProcessEntry(const EntryWork& work, FastaEntry* entry, FastaStatus status,
                          const std::optional<Failure>& settings_failure, const EntrySinks& sinks,
                          EntryScratch* scratch) {
  const Settings& s = *work.settings;
  std::string& letters = entry->letters;
  // The letters the masked copy starts from: the input's own case with --keep-case.
  const std::string original = s.keep_case && s.mask != MaskStyle::kNone ? letters : std::string();
  EntryOutcome outcome;
  outcome.failure = ReadFailure(status);
  EntryAnalysis a;
  a.length = static_cast<int>(outcome.failure ? 0 : letters.size());
  const Stretches cut = Cut(work.pool, work.stretch, a.length, scratch, work.lanes);
  uint64_t* mask = nullptr;
  if (!outcome.failure) {
    PrepareBits(a.length, &scratch->bits);
    if (sinks.fasta != nullptr) {
      PrepareBits(a.length, &scratch->mask);
      mask = scratch->mask.data();
    }
    Encode(work, cut, &letters[0], scratch->bits.data(), mask, &a);
    outcome.failure = CheckEntry(s, settings_failure, &a);
  }
  if (outcome.failure) {
    // Sizes as they stand: an entry too long for a count of positions is written all the same.
    const long n = static_cast<long>(letters.size());
    if (sinks.fasta != nullptr) {
      if (original.empty()) UpperCase(&letters[0], n);
      WriteFastaEntry(sinks.fasta, entry->header,
                      original.empty() ? letters.data() : original.data(), n);
    }
    return outcome;
  }
  if (work.encoded) work.encoded(a);
  const uint64_t* bits = scratch->bits.data();
  EstimateRandom(
      s, work.seed, bits, work.progress ? work.progress : [](int) {}, &a);
  outcome.linkage = a.linkage;
  // Windows that look back further than half a stretch go in one piece, on this thread.
  const Stretches parts = CanCut(s, a, cut.cells) ? cut
                                                  : Cut(nullptr, std::max<int64_t>(a.length, 1),
                                                        a.length, scratch, nullptr);
  if (parts.apart && work.before_writing_apart) work.before_writing_apart();
  if (sinks.report != nullptr) WriteReportStart(sinks.report, HeaderOf(s, a), entry->header);
  std::vector<int64_t> first_index(static_cast<std::size_t>(parts.count));
  outcome.segments =
      WriteLettersAndCount(s, parts, a, letters.data(), bits, sinks.report, &first_index);
  if (sinks.report != nullptr) WriteSegmentCount(sinks.report, outcome.segments);
  const EntryText text{
      &entry->header, letters.data(), original.empty() ? letters.data() : original.data(),
      a.length,       s.mask,         s.mask_threshold};
  WriteSegmentLines(s, parts, a, text, bits, first_index, sinks, mask);
  if (sinks.report != nullptr) {
    outcome.normal_valid =
        WriteOverallLine(sinks.report, a.specials, a.length, a.special_probability);
  }
  if (sinks.fasta != nullptr) outcome.masked = WriteMaskedCopy(parts, text, mask, sinks.fasta);
  return outcome;
}
