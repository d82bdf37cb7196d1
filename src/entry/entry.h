// One entry, analysed and then written: its composition and the checks on its letters, its
// special positions as bits, the linkage distance, random estimation and the count of its
// segments; then its report block, masked copy and BED lines. Nothing here prints, opens a
// file or keeps process-wide state, so entries are analysed on several threads at once. An
// entry longer than a piece is cut into pieces that the pipeline's threads encode, count and
// format, each consumed in order by the thread that analyses or writes the entry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/piece_size.h"
#include "command_line/settings.h"
#include "parallel/pipeline.h"
#include "report/report.h"
#include "sequence/fasta.h"

namespace kestra {

// Words of bits that growing leaves as they are, for the threads encoding the pieces to
// write (and so touch) them first, each its own.
template <class T>
struct UntouchedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UntouchedAllocator<U>;
  };
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class V>
  void construct(U* p, V&& v) {
    ::new (static_cast<void*>(p)) U(std::forward<V>(v));
  }
};
using BitWords = std::vector<uint64_t, UntouchedAllocator<uint64_t>>;

// What a piece leaves for its consume: its formatted outputs (when it runs apart from its
// consume) and its counts. Kept by the run, one a buffer of the pipeline's loops.
struct PieceBuffer {
  TextSink out[kOutputKinds];
  int64_t counts[4] = {0, 0, 0, 0};
  int64_t specials = 0, segments = 0, masked = 0;
  double least_p = 0.0;  // of the piece's segments
};
// What a thread keeps from one piece to the next: the p-values and window scores it met.
struct LaneScratch {
  SegmentScorer scorer;
  WindowScores windows;
};

// What a look across the whole input gives every entry: the frequencies of a background in
// place of its own, and the count of entries its E-values are taken over.
struct Significance {
  bool background = false;
  double frequencies[4] = {0, 0, 0, 0};  // A, T, G, C of the background
  int64_t entries = 0;                   // m: a segment's E-value is its p-value times m; 0: none
};

// What every entry of a run shares.
struct EntryContext {
  const Settings* settings = nullptr;
  Significance significance;
  bool fastq_copy =
      false;         // the masked copy is FASTQ: a record's letters on one line, its qualities
  int64_t seed = 0;  // of the random sequences of -S and -B
  Pipeline* pipeline = nullptr;  // threads that take pieces; none: this thread does all
  int64_t piece_cells = 0;       // a multiple of kPieceQuantum; 0: kPieceCells
  std::vector<PieceBuffer>* buffers = nullptr;  // PieceBuffers(pipeline) of them
  std::vector<LaneScratch>* lanes = nullptr;    // Lanes(pipeline) of them
};
// A context of `threads` lanes and as many buffers as the pipeline's loops take.
struct EntryStorage {
  std::vector<PieceBuffer> buffers;
  std::vector<LaneScratch> lanes;
};
EntryContext MakeEntryContext(const Settings* s, int64_t seed, Pipeline* p, int64_t piece_cells,
                              EntryStorage* storage);

// What the analysis of an entry keeps for its writing, from one entry to the next.
struct EntryScratch {
  BitWords bits, mask;
  std::string original;  // the letters in the input's case, for --keep-case
};

// What an entry's analysis found: why it is skipped, or what its report shows.
struct EntryAnalysis {
  std::optional<Failure> failure;
  int length = 0;
  int64_t counts[4] = {0, 0, 0, 0};      // A, T, G, C among the letters
  int64_t specials = 0;                  // special residues among them
  double frequencies[4] = {0, 0, 0, 0};  // A, T, G, C: the user's where given, else its own
  double special_probability = 0.0;      // probability of a special residue at a position
  int linkage = 0;                       // the linkage distance in effect (estimated with -K)
  LongestLengthCounts random_longest;    // longest merged lengths of the random sequences
  int64_t piece_cells = 0;               // of the pieces its segments are counted and written in
  std::vector<int64_t> first_index;      // of each piece's first segment, when it has several
  int64_t segments = 0;
};

// The three stages of an analysis. Encoding: the letters upper-cased, their special bits and
// counts, and the first check (some A, T, G or C); a read that failed is a failure too. The
// frequencies are the entry's own, or the background's.
EntryAnalysis EncodeEntry(const EntryContext& c, uint64_t job, FastaEntry* entry,
                          FastaStatus status, EntryScratch* scratch);
// The checks the settings make on the entry, the special-residue probability and the
// linkage distance.
void CheckEntry(const Settings& s, EntryAnalysis* a);
// Random estimation (with -S or -B: progress(k) before the k-th sequence, every 1000; may be
// empty) and the segments, counted piece by piece.
void AnalyseSegments(const EntryContext& c, uint64_t job, const std::function<void(int)>& progress,
                     EntryScratch* scratch, EntryAnalysis* a);
// The three in turn, up to the first failure.
EntryAnalysis AnalyseEntry(const EntryContext& c, uint64_t job, FastaEntry* entry,
                           FastaStatus status, EntryScratch* scratch);

// What writing an entry adds to what its analysis found.
struct EntryWritten {
  int64_t masked = 0;        // positions masked
  bool normal_valid = true;  // the overall test's normal approximation holds
};
// Called on the thread that writes an entry, between two pieces of its outputs: where the
// run may hand on what the sinks hold so far. Empty: nothing is done there.
using BetweenPieces = std::function<void()>;
// Writes an analysed entry into the sinks given (any may be absent): its report block, its
// masked copy and its BED lines.
EntryWritten WriteEntry(const EntryContext& c, uint64_t job, const FastaEntry& entry,
                        const EntryAnalysis& a, EntryScratch* scratch, const EntrySinks& sinks,
                        const BetweenPieces& between = {});
// An entry that is skipped: its masked copy's record is its letters as they stand,
// upper-cased unless the case is kept (and its qualities, in a FASTQ copy).
void WriteSkippedEntry(const EntryContext& c, FastaEntry* entry, const EntryScratch& scratch,
                       const EntrySinks& sinks, const BetweenPieces& between = {});

// The failure the reading of an entry stands for, if any.
std::optional<Failure> ReadFailure(FastaStatus status);

}  // namespace kestra
