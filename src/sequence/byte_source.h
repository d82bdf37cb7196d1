// The input's text, a block at a time: read from a file or a pipe, and decompressed on the
// fly when it is compressed (gzip, bzip2, xz or zstd, known by its first bytes; streams one
// after another, xz's with zero bytes in fours between them, maybe followed by zero bytes up
// to the end, as tape blocking leaves them).
// A gzip input whose first member is a BGZF block is read a batch of blocks at a time, the
// blocks of a batch inflated at once through a loop that may run them on several threads,
// up to a member that is no block, from which on it is read as any gzip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "sequence/parallel_loop.h"

namespace kestra {

struct ByteSource;  // defined in source_state.h
// The loop (nullptr: none, the blocks are inflated in turn) must outlive the source.
ByteSource* OpenByteSource(int fd, const ParallelLoop* loop = nullptr);
// The blocks of a BGZF regular file from the one at `offset` on, read by position (the
// file's offset is left alone), at most `batch_blocks` inflated at once (0: as many as keep
// the loop's threads busy).
ByteSource* OpenBlocksAt(int fd, uint64_t offset, const ParallelLoop* loop,
                         std::size_t batch_blocks = 0);
// Marks the input at `offset` (no earlier than the marks before it), so that the text the
// bytes before it give is known: see TextAtMark.
void MarkOffset(ByteSource* source, uint64_t offset);
// Marks the input at the start of each of `count` equal parts of its (compressed) bytes. Every part
// of an input marks them all, so that the decompressor is fed the same pieces in each.
void MarkParts(ByteSource* source, int count);
// The next block of text, 0 at the end of the input, -1 when it cannot be read (and no block
// follows).
long NextBytes(ByteSource* source, const char** data);
// Feeds the text to feed(data, n) block after block, until the input ends (0), feed returns
// false (0: the source is then not to be read on) or the input cannot be read (-1). BGZF
// blocks are fed in order as they are inflated, while the loop inflates those after them.
long PumpBytes(ByteSource* source, const std::function<bool(const char*, std::size_t)>& feed);
// The offset in the text (from the source's first byte) at mark k (from 0): the text of the
// bytes before it, once the decompressor has taken them and handed out all they give; for
// BGZF blocks, the text of the blocks that end at or before it, known once they are
// inflated. False until then.
bool TextAtMark(const ByteSource* source, std::size_t k, uint64_t* offset);
// The most text a regular file holds, for the first entry's storage: the size of a plain
// file; 0 for a compressed file or a pipe, whose text is not known by its size.
std::size_t TextSizeHint(const ByteSource* source);
// Input bytes read so far and the size of a regular file (0 when unknown); may be asked from
// another thread while the source reads.
void ByteProgress(const ByteSource* source, std::size_t* done, std::size_t* total);
// Why NextBytes failed.
const std::string& ByteSourceProblem(const ByteSource* source);
void CloseByteSource(ByteSource* source);

}  // namespace kestra
