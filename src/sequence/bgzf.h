// BGZF input: gzip members of at most 64 KiB, each of whose headers gives the member's size
// (the extra subfield 'B','C'), so that the members can be found without inflating any, and
// inflated each on a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "sequence/parallel_loop.h"

struct inflate_state;

namespace kestra {

// A block is at most this many bytes (its size less one is a 16-bit field), and holds at most
// this much text.
constexpr std::size_t kMaxBlockBytes = 65536;
constexpr uint32_t kMaxBlockText = 65536;
// Header bytes that tell a block whose extra field holds only BGZF's own subfield.
constexpr std::size_t kBlockHeaderBytes = 18;

// Where a block's parts lie, from its first byte.
struct BlockShape {
  uint32_t size = 0;        // of the whole member, header and trailer included
  uint32_t data_start = 0;  // of its deflate data
};

enum class BlockHeader { kBlock, kNotBlock, kNeedMore };

// Whether the n bytes at p begin a BGZF block: a gzip member (deflate) that sets no flag but
// FEXTRA (and FTEXT), and whose extra field holds the subfield 'B','C' of 2 bytes; its size
// must leave room for its header and trailer. kNeedMore, with the bytes needed in *need, when
// n bytes are too few to tell.
BlockHeader ReadBlockHeader(const unsigned char* p, std::size_t n, BlockShape* shape,
                            std::size_t* need);
// The text size (ISIZE) of a block whose bytes are all at p.
uint32_t BlockTextSize(const char* p, const BlockShape& shape);

// The inflaters' states: one for each block being inflated at once, taken and given back by
// the loop's threads.
struct DecompressorPool {
  std::mutex mutex;
  std::vector<inflate_state*> idle;
};
void FreeDecompressors(DecompressorPool* pool);

// Blocks inflated at once, each into its own stretch of one text buffer.
struct BlockBatch {
  std::vector<const char*> blocks;  // each block's bytes, all of them
  std::vector<BlockShape> shapes;
  std::vector<std::size_t> text_at;     // where each block's text starts; the last: the end
  std::vector<char> text;               // room for the batch's text
  std::vector<unsigned char> inflated;  // 1: the block's data gave its ISIZE bytes, of its CRC32
};

// Empties the batch, ready for blocks.
void ClearBatch(BlockBatch* batch);
// Adds the whole block at p.
void AddBlock(BlockBatch* batch, const char* p, const BlockShape& shape);
// Inflates the batch's blocks through the loop (each iteration one block, with a decompressor
// of its own); returns how many of them, from the first, inflated well.
std::size_t InflateBatch(BlockBatch* batch, DecompressorPool* pool, const ParallelLoop* loop);
// The same, handing each block's text to use(i, text, n) in order as soon as it and those
// before it are inflated, while later blocks inflate; none after the first that does not
// inflate well, nor after use returns false. Returns how many were handed to use.
std::size_t InflateBatchInOrder(
    BlockBatch* batch, DecompressorPool* pool, const ParallelLoop* loop,
    const std::function<bool(std::size_t i, const char* text, std::size_t n)>& use);

// What the headers of a regular file's blocks tell, read from its start (no block inflated).
struct BlockWalk {
  // Every member from the start is a BGZF block, up to the end of the file or to bytes that
  // begin no gzip member (zero padding, or data after the end).
  bool throughout = false;
  // The offsets of the first block at or after `from`, and of the first at or after `to`;
  // kNoBlock for none.
  uint64_t first = 0, next = 0;
};
constexpr uint64_t kNoBlock = UINT64_MAX;
BlockWalk WalkBlocks(int fd, uint64_t size, uint64_t from, uint64_t to);

}  // namespace kestra
