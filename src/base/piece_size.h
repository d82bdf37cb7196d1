// The sizes the report's letters and the pieces of a long entry are cut in.
#pragma once

#include <cstdint>

namespace kestra {

// Letters a line of the report and, by default, of the masked FASTA.
constexpr int kLineWidth = 80;

// Cells of a piece are a multiple of this: of 64 (a word of bits) and of the line width of
// the report's letters, so that a piece holds whole words and whole lines.
constexpr int64_t kPieceQuantum = 320;
static_assert(kPieceQuantum % 64 == 0 && kPieceQuantum % kLineWidth == 0,
              "a piece holds whole words of bits and whole lines of letters");
// Cells of a piece unless a run asks for others: what a piece writes, about a MiB, then still
// sits in the cache of the thread that wrote it when it is consumed.
constexpr int64_t kPieceCells = kPieceQuantum * 800;

}  // namespace kestra
