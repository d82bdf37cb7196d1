// The input's text, a block at a time: read from a file or a pipe, and decompressed on the
// fly when it is compressed (gzip, bzip2, xz or zstd, known by its first bytes; streams one
// after another, maybe followed by zero bytes up to the end, as tape blocking leaves them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestra {

struct ByteSource;  // defined in byte_source.cpp
ByteSource* OpenByteSource(int fd);
// Marks the input at each share of `count` equal shares of its (compressed) bytes, so that
// the text the bytes before each share's start give is known: see ShareTextStart. Every
// part of an input marks them all, so that the decompressor is fed the same pieces in each.
void MarkShares(ByteSource* source, int count);
// The next block of text, 0 at the end of the input, -1 when it cannot be read (and no block
// follows).
long NextBytes(ByteSource* source, const char** data);
// The offset in the text of share i's start (1 <= i < count), once the decompressor has taken
// the bytes before it and handed out all they give; false until then.
bool ShareTextStart(const ByteSource* source, int i, uint64_t* offset);
// The size of a regular file that is not compressed, 0 otherwise.
std::size_t PlainFileSize(const ByteSource* source);
// Input bytes read so far and the size of a regular file (0 when unknown); may be asked from
// another thread while the source reads.
void ByteProgress(const ByteSource* source, std::size_t* done, std::size_t* total);
// Why NextBytes failed.
const std::string& ByteSourceProblem(const ByteSource* source);
void CloseByteSource(ByteSource* source);

// Reads up to n bytes, retrying after a signal; -1 on a read error.
long ReadSome(int fd, char* buf, std::size_t n);

}  // namespace kestra
