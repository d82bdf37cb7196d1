// An entry cut into pieces of cells, within the entry library.
#pragma once

#include <algorithm>
#include <cstdint>

#include "entry/entry.h"

namespace kestra {

struct Pieces {
  int64_t length;
  int64_t cells;  // of a piece
  int64_t count;
  int64_t From(int64_t i) const { return i * cells; }
  int64_t To(int64_t i) const { return std::min(length, (i + 1) * cells); }
};

// `length` cells in pieces of `cells` (kPieceCells for 0); at least one piece.
inline Pieces CutIntoPieces(int64_t length, int64_t cells) {
  Pieces p{length, cells > 0 ? cells : kPieceCells, 1};
  p.count = std::max<int64_t>(1, (length + p.cells - 1) / p.cells);
  return p;
}

// Where a piece's outputs go: straight into the entry's, when the piece runs in order on the
// thread that consumes it, else into the buffer it was given.
inline TextSink* PieceOutput(const EntryContext& c, int buffer, const EntrySinks& sinks,
                             OutputKind kind) {
  if (sinks.of[kind] == nullptr || buffer == kInOrder) return sinks.of[kind];
  return &(*c.buffers)[static_cast<std::size_t>(buffer)].out[kind];
}

// The scratch of the thread that runs a piece.
inline LaneScratch& ThisLane(const EntryContext& c) {
  return (*c.lanes)[static_cast<std::size_t>(Lane())];
}

// The segments that open in cells [from, to) of the entry; window mode scores its windows in
// `scores`, kept by the thread from one walk to the next.
inline SegmentWalk SegmentsIn(const Settings& s, const EntryAnalysis& a, const uint64_t* bits,
                              int64_t from, int64_t to, WindowScores* scores) {
  if (s.mode() == DetectionMode::kWindow) {
    PrepareWindowScores(scores, s.window, a.length, a.special_probability, s.window_threshold);
    return WindowSegments(bits, scores, s.merge, a.linkage, from, to);
  }
  return MergedRunSegments(bits, a.length, a.linkage, from, to);
}

}  // namespace kestra
