// The byte source's state, shared by its two halves: byte_source.cpp reads the input and
// decodes its streams; block_batches.cpp inflates BGZF blocks a batch at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/blocks.h"
#include "sequence/bgzf.h"
#include "sequence/decoder.h"
#include "sequence/parallel_loop.h"

namespace kestra {

struct ByteSource {
  int fd;
  int64_t read_at = -1;  // where the next pread reads, for a source opened at an offset; -1: read
  uint64_t origin = 0;   // the input offset of the first byte read
  std::vector<char> block = std::vector<char>(kIoBlock);
  const char* in = nullptr;  // input read and not yet decompressed (or handed out)
  std::size_t in_n = 0;
  bool at_end = false;  // the file descriptor has reached its end
  bool failed = false;
  std::string problem;
  Compression compression = Compression::kNone;
  Decoder* decoder = nullptr;  // for compressed input
  bool in_stream = true;       // false between two compressed streams
  uint64_t padding = 0;        // zero bytes since the last stream ended, where streams are padded
  std::vector<char> out;
  std::size_t regular_size = 0;  // bytes of a regular file, 0 when unknown
  // Raw bytes read so far; a progress display on another thread may read it meanwhile.
  std::atomic<std::size_t> bytes_read{0};
  uint64_t produced = 0;  // text bytes handed out so far
  // Input offsets marked (ascending), and the text offset at each mark passed: the
  // decompressor is fed the bytes up to the next mark, and once it hands out nothing more,
  // the text those bytes give is known. Input past the mark is held back until then.
  std::vector<uint64_t> marks, mark_text;
  uint64_t held = 0;
  // BGZF: whole blocks read into `block` and inflated a batch at a time through the loop,
  // until a member that is no block.
  bool blocks = false;
  const ParallelLoop* loop = nullptr;
  std::size_t batch_blocks = 1;  // at most this many a batch
  BlockBatch batch;
  DecompressorPool decompressors;
};

using FeedText = std::function<bool(const char*, std::size_t)>;

// Records why the source cannot be read; returns -1.
long Failed(ByteSource* s, const std::string& problem);
// Reads up to n bytes of input, from where the last read ended; -1 on a read error.
long ReadInput(ByteSource* s, char* buf, std::size_t n);
// The input offset up to which the decompressor has taken the bytes (or handed them out).
inline uint64_t Consumed(const ByteSource* s) {
  return s->origin + s->bytes_read - s->in_n - s->held;
}
inline bool MarksLeft(const ByteSource* s) { return s->mark_text.size() < s->marks.size(); }
// Marks past the end of the input lie at its end.
void PassMarksAtEnd(ByteSource* s);
// The next block of text from the streaming decoder.
long DecodeSome(ByteSource* s, const char** data);

// How many BGZF blocks a batch holds at most, to keep the loop's threads busy.
std::size_t BatchBlocks(const ParallelLoop* loop);
// The next batch of BGZF text in *data, or, once a member is no block, the decoder's.
long InflateSome(ByteSource* s, const char** data);
// Feeds the text of the BGZF blocks to feed, each as soon as it is inflated; true once the
// input has ended or feed has had enough, false when the decoder is to read on (or the
// source failed).
bool PumpBlocks(ByteSource* s, const FeedText& feed);

}  // namespace kestra
