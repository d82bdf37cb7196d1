// BGZF blocks: told by their headers, inflated by isa-l a block an iteration, and found
// in a regular file by walking from one header to the next.
#include "sequence/bgzf.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "sequence/reads.h"
#include "sequence/vector_state.h"

namespace kestra {

namespace {

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b, 8};  // ID1, ID2, CM (deflate)
constexpr unsigned char kFlagText = 1, kFlagExtra = 4;
constexpr std::size_t kFlagsAt = 3;
constexpr std::size_t kExtraAt = 12;        // after the fixed fields and XLEN
constexpr std::size_t kSubfieldHeader = 4;  // SI1, SI2, LEN
constexpr std::size_t kTrailer = 8;         // CRC32, ISIZE

uint32_t Le16(const unsigned char* p) { return p[0] | uint32_t{p[1]} << 8; }

uint32_t Le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return u[0] | uint32_t{u[1]} << 8 | uint32_t{u[2]} << 16 | uint32_t{u[3]} << 24;
}

// Whether the first bytes (as many as there are, up to the flags) can begin a block.
bool CanBeginBlock(const unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < std::min(n, sizeof kGzipMagic); ++i) {
    if (p[i] != kGzipMagic[i]) return false;
  }
  return n <= kFlagsAt || (p[kFlagsAt] & ~kFlagText) == kFlagExtra;
}

// The block's size from the subfield 'B','C' of the extra field at p (xlen bytes); 0 when
// it has none, or the subfields overrun the field.
uint32_t SizeFromExtra(const unsigned char* p, std::size_t xlen) {
  for (std::size_t at = 0; at + kSubfieldHeader <= xlen;) {
    const std::size_t len = Le16(p + at + 2);
    if (at + kSubfieldHeader + len > xlen) return 0;
    if (p[at] == 'B' && p[at + 1] == 'C' && len == 2) return Le16(p + at + kSubfieldHeader) + 1;
    at += kSubfieldHeader + len;
  }
  return 0;
}

inflate_state* TakeDecompressor(DecompressorPool* pool) {
  {
    std::lock_guard<std::mutex> lock(pool->mutex);
    if (!pool->idle.empty()) {
      inflate_state* d = pool->idle.back();
      pool->idle.pop_back();
      return d;
    }
  }
  return new (std::nothrow) inflate_state;
}

void GiveBack(DecompressorPool* pool, inflate_state* d) {
  if (d == nullptr) return;
  std::lock_guard<std::mutex> lock(pool->mutex);
  pool->idle.push_back(d);
}

// Inflates the block at p into out (text_n bytes, its ISIZE): true when its deflate data end
// where its trailer begins and give text_n bytes whose CRC32 is the trailer's.
bool InflateBlock(inflate_state* d, const char* p, const BlockShape& shape, char* out,
                  std::size_t text_n) {
  const std::size_t data_n = shape.size - kTrailer - shape.data_start;
  isal_inflate_init(d);
  d->crc_flag = ISAL_DEFLATE;
  d->next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(p + shape.data_start));
  d->avail_in = static_cast<uint32_t>(data_n);
  d->next_out = reinterpret_cast<uint8_t*>(out);
  d->avail_out = static_cast<uint32_t>(text_n);
  const int status = isal_inflate_stateless(d);
  const bool whole = status == ISAL_DECOMP_OK && d->avail_in == 0 && d->avail_out == 0 &&
                     d->block_state == ISAL_BLOCK_FINISH &&
                     crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(out), text_n) ==
                         Le32(p + shape.size - kTrailer);
  ClearWideVectorState();
  return whole;
}

// Reads up to n bytes at `offset` (fewer only at the end of the file); -1 on a read error.
long ReadAtFull(int fd, unsigned char* buf, std::size_t n, uint64_t offset) {
  std::size_t got = 0;
  while (got < n) {
    const long r = ReadSomeAt(fd, reinterpret_cast<char*>(buf) + got, n - got, offset + got);
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long>(got);
}

}  // namespace

BlockHeader ReadBlockHeader(const unsigned char* p, std::size_t n, BlockShape* shape,
                            std::size_t* need) {
  if (!CanBeginBlock(p, n)) return BlockHeader::kNotBlock;
  *need = kExtraAt;
  if (n < kExtraAt) return BlockHeader::kNeedMore;
  const std::size_t xlen = Le16(p + kExtraAt - 2);
  *need = kExtraAt + xlen;
  if (n < *need) return BlockHeader::kNeedMore;
  shape->size = SizeFromExtra(p + kExtraAt, xlen);
  shape->data_start = static_cast<uint32_t>(kExtraAt + xlen);
  return shape->size >= shape->data_start + kTrailer ? BlockHeader::kBlock : BlockHeader::kNotBlock;
}

uint32_t BlockTextSize(const char* p, const BlockShape& shape) { return Le32(p + shape.size - 4); }

void FreeDecompressors(DecompressorPool* pool) {
  for (inflate_state* d : pool->idle) delete d;
  pool->idle.clear();
}

void ClearBatch(BlockBatch* batch) {
  batch->blocks.clear();
  batch->shapes.clear();
  batch->text_at.assign(1, 0);
}

void AddBlock(BlockBatch* batch, const char* p, const BlockShape& shape) {
  batch->blocks.push_back(p);
  batch->shapes.push_back(shape);
  batch->text_at.push_back(batch->text_at.back() + BlockTextSize(p, shape));
  if (batch->text.size() < batch->text_at.back()) batch->text.resize(batch->text_at.back());
}

namespace {

// Inflates block i of the batch into its stretch of the batch's text.
void InflateBatchBlock(BlockBatch* batch, DecompressorPool* pool, std::size_t i) {
  inflate_state* d = TakeDecompressor(pool);
  const std::size_t at = batch->text_at[i];
  batch->inflated[i] =
      d != nullptr && InflateBlock(d, batch->blocks[i], batch->shapes[i], batch->text.data() + at,
                                   batch->text_at[i + 1] - at);
  GiveBack(pool, d);
}

}  // namespace

std::size_t InflateBatch(BlockBatch* batch, DecompressorPool* pool, const ParallelLoop* loop) {
  const std::size_t n = batch->blocks.size();
  batch->inflated.assign(n, 0);
  RunLoop(loop, static_cast<int64_t>(n), [batch, pool](int64_t i) {
    InflateBatchBlock(batch, pool, static_cast<std::size_t>(i));
  });
  return static_cast<std::size_t>(std::find(batch->inflated.begin(), batch->inflated.end(), 0) -
                                  batch->inflated.begin());
}

std::size_t InflateBatchInOrder(
    BlockBatch* batch, DecompressorPool* pool, const ParallelLoop* loop,
    const std::function<bool(std::size_t i, const char* text, std::size_t n)>& use) {
  const std::size_t n = batch->blocks.size();
  batch->inflated.assign(n, 0);
  std::size_t used = 0;
  bool going = true;
  RunLoopInOrder(
      loop, static_cast<int64_t>(n),
      [batch, pool](int64_t i) { InflateBatchBlock(batch, pool, static_cast<std::size_t>(i)); },
      [batch, &use, &used, &going](int64_t k) {
        const auto i = static_cast<std::size_t>(k);
        going = going && batch->inflated[i];
        if (!going) return;
        const std::size_t at = batch->text_at[i];
        ++used;
        going = use(i, batch->text.data() + at, batch->text_at[i + 1] - at);
      });
  return used;
}

namespace {

// What the member at `at` begins with: a block (its shape in *shape), or no block (what the
// header holds of its bytes in *header); *unreadable when they cannot be read.
BlockHeader HeaderAt(int fd, uint64_t at, uint64_t size, std::vector<unsigned char>* header,
                     BlockShape* shape, bool* unreadable) {
  std::size_t need = kBlockHeaderBytes;
  for (;;) {
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(need, size - at));
    header->resize(want);
    *unreadable = ReadAtFull(fd, header->data(), want, at) != static_cast<long>(want);
    if (*unreadable) return BlockHeader::kNotBlock;
    const BlockHeader told = ReadBlockHeader(header->data(), want, shape, &need);
    // Too few bytes at the end of the file: a header cut short.
    if (told != BlockHeader::kNeedMore || want == size - at) return told;
  }
}

}  // namespace

BlockWalk WalkBlocks(int fd, uint64_t size, uint64_t from, uint64_t to) {
  BlockWalk walk;
  walk.first = walk.next = kNoBlock;
  std::vector<unsigned char> header;
  for (uint64_t at = 0; at < size;) {
    BlockShape shape;
    bool unreadable = false;
    const BlockHeader told = HeaderAt(fd, at, size, &header, &shape, &unreadable);
    // A file that cannot be read, a member that is no block, or a block cut short: the file
    // is read from its start as any gzip is. Bytes that begin no member end the data.
    if (unreadable) return walk;
    if (told != BlockHeader::kBlock) {
      walk.throughout = header[0] != kGzipMagic[0];
      return walk;
    }
    if (shape.size > size - at) return walk;
    if (at >= from && walk.first == kNoBlock) walk.first = at;
    if (at >= to && walk.next == kNoBlock) walk.next = at;
    at += shape.size;
  }
  walk.throughout = true;
  return walk;
}

}  // namespace kestra
