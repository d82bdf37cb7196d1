// BGZF input a batch of blocks at a time: whole blocks gathered from the input buffer and
// inflated at once through the loop, up to a member that is no block (or a block that cannot
// be inflated so), from which on the streaming decoder reads.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sequence/bgzf.h"
#include "sequence/source_state.h"

namespace kestra {

namespace {

// Blocks a batch, enough for the loop's threads to share (8 each); the input buffer holds as
// many of the largest blocks, and is filled again once less than half of it is left.
constexpr std::size_t kBlocksAThread = 8, kMaxBatchBlocks = 64;

// Whether the bytes in hand begin with what can be read without more: a whole block, or a
// member that is no block (which the streaming decoder reads).
bool FirstMemberInHand(const ByteSource* s) {
  BlockShape shape;
  std::size_t need = 0;
  const BlockHeader told =
      ReadBlockHeader(reinterpret_cast<const unsigned char*>(s->in), s->in_n, &shape, &need);
  return told == BlockHeader::kNotBlock || (told == BlockHeader::kBlock && shape.size <= s->in_n);
}

// Whether a read would find input at once: always for a file, for a pipe when its writer has
// written more (or closed it).
bool InputWaiting(const ByteSource* s) {
  if (s->read_at >= 0 || s->regular_size > 0) return true;
  pollfd p{s->fd, POLLIN, 0};
  return poll(&p, 1, 0) != 0;
}

// Moves the bytes in hand to the buffer's start and reads after them until it is full or the
// input ends, so that the blocks they begin lie whole in it; from a pipe, only while its
// writer keeps up, once a block can be read.
long FillBuffer(ByteSource* s) {
  if (s->in_n > 0 && s->in != s->block.data()) std::memmove(s->block.data(), s->in, s->in_n);
  s->in = s->block.data();
  while (!s->at_end && s->in_n < s->block.size()) {
    if (!InputWaiting(s) && FirstMemberInHand(s)) break;
    const long got = ReadInput(s, s->block.data() + s->in_n, s->block.size() - s->in_n);
    if (got < 0) return Failed(s, std::strerror(errno));
    s->bytes_read.fetch_add(static_cast<std::size_t>(got), std::memory_order_relaxed);
    s->in_n += static_cast<std::size_t>(got);
    s->at_end = got == 0;
  }
  return 0;
}

// Gathers the whole blocks in hand, up to a batch: it ends at a member that is no block (or
// whose text would be larger than a block's), at a block the bytes in hand cut short, or at
// the end of the bytes.
std::size_t GatherBatch(ByteSource* s) {
  ClearBatch(&s->batch);
  const auto* p = reinterpret_cast<const unsigned char*>(s->in);
  std::size_t at = 0;
  while (s->batch.blocks.size() < s->batch_blocks && at < s->in_n) {
    BlockShape shape;
    std::size_t need = 0;
    if (ReadBlockHeader(p + at, s->in_n - at, &shape, &need) != BlockHeader::kBlock ||
        shape.size > s->in_n - at || BlockTextSize(s->in + at, shape) > kMaxBlockText) {
      break;
    }
    AddBlock(&s->batch, s->in + at, shape);
    at += shape.size;
  }
  return s->batch.blocks.size();
}

// Passes the marks that the first `good` blocks of the batch reach: a mark's text is that of
// the blocks that end at or before it.
void PassMarksInBatch(ByteSource* s, std::size_t good) {
  uint64_t end = Consumed(s);  // of the blocks counted so far
  std::size_t j = 0;
  while (MarksLeft(s)) {
    const uint64_t mark = s->marks[s->mark_text.size()];
    while (j < good && end + s->batch.shapes[j].size <= mark) end += s->batch.shapes[j++].size;
    if (j == good && mark > end) return;
    s->mark_text.push_back(s->produced + s->batch.text_at[j]);
  }
}

// Takes the first `good` blocks of the batch as read: their bytes, their text and the marks
// they reach. Returns their text's size.
std::size_t TakeBlocks(ByteSource* s, std::size_t good) {
  PassMarksInBatch(s, good);
  std::size_t bytes = 0;
  for (std::size_t j = 0; j < good; ++j) bytes += s->batch.shapes[j].size;
  s->in += bytes;
  s->in_n -= bytes;
  const std::size_t text = s->batch.text_at[good];
  s->produced += text;
  return text;
}

// From here on the streaming decoder reads the input, a member at a time, from the member in
// hand.
void StreamFromHere(ByteSource* s) {
  s->blocks = false;
  s->in_stream = false;
}

enum class Batch {
  kMore,      // a batch was inflated, and blocks follow
  kInputEnd,  // the input has ended
  kStopped,   // feed has had enough
  kNoBlocks,  // the streaming decoder reads on from here (after the batch's text, if any)
  kFailed,
};

// One batch step: the blocks in hand inflated, those before the first that cannot be, their
// text's size in *text. With feed, each block's text is fed as soon as it and those before it
// are inflated, while later ones inflate; without, the text is left in the batch's buffer.
Batch InflateNextBatch(ByteSource* s, const FeedText* feed, std::size_t* text) {
  *text = 0;
  if (s->in_n < s->block.size() / 2 && !s->at_end && FillBuffer(s) < 0) return Batch::kFailed;
  const std::size_t n = GatherBatch(s);
  if (n == 0) {
    if (s->in_n == 0 && s->at_end) return PassMarksAtEnd(s), Batch::kInputEnd;
    StreamFromHere(s);
    return Batch::kNoBlocks;
  }
  std::size_t good = 0;
  if (feed == nullptr) {
    good = InflateBatch(&s->batch, &s->decompressors, s->loop);
  } else {
    bool enough = false;
    good = InflateBatchInOrder(&s->batch, &s->decompressors, s->loop,
                               [&](std::size_t, const char* data, std::size_t k) {
                                 enough = k > 0 && !(*feed)(data, k);
                                 return !enough;
                               });
    if (enough) return Batch::kStopped;
  }
  *text = TakeBlocks(s, good);
  if (good == n) return Batch::kMore;
  StreamFromHere(s);
  return Batch::kNoBlocks;
}

}  // namespace

std::size_t BatchBlocks(const ParallelLoop* loop) {
  const std::size_t threads =
      loop != nullptr ? static_cast<std::size_t>(std::max(1, loop->threads)) : 1;
  return std::min(kMaxBatchBlocks, kBlocksAThread * threads);
}

long InflateSome(ByteSource* s, const char** data) {
  while (s->blocks) {
    std::size_t text = 0;
    const Batch step = InflateNextBatch(s, nullptr, &text);
    if (step == Batch::kFailed) return -1;
    if (step == Batch::kInputEnd) return 0;
    if (text > 0) {
      *data = s->batch.text.data();
      return static_cast<long>(text);
    }
  }
  return DecodeSome(s, data);
}

bool PumpBlocks(ByteSource* s, const FeedText& feed) {
  while (s->blocks && !s->failed) {
    std::size_t text = 0;
    const Batch step = InflateNextBatch(s, &feed, &text);
    if (step == Batch::kFailed) s->failed = true;
    if (step == Batch::kInputEnd || step == Batch::kStopped) return true;
  }
  return false;
}

}  // namespace kestra
