// The decompressors the input may need, each behind the same few calls: known by the first
// bytes of the input, fed a block at a time, a stream after the first started anew.
#pragma once

#include <cstddef>

namespace kestra {

enum class Compression { kNone, kGzip, kBzip2, kXz, kZstd };

// Bytes at the start of an input that tell every compression apart.
constexpr std::size_t kMagicBytes = 6;
// The compression that the first n bytes of an input show (kNone for too few).
Compression CompressionOf(const unsigned char* p, std::size_t n);
// The compression's name in messages.
const char* CompressionName(Compression compression);
// Whether a stream of the compression can begin with this byte: another byte after a
// stream's end is no stream of it.
bool CanStartStream(Compression compression, unsigned char byte);
// Zero bytes may stand between two streams in multiples of this (xz's stream padding); 0 where
// zero bytes can only end the input.
std::size_t StreamPaddingUnit(Compression compression);

enum class DecodeStatus {
  kGoing,      // more of the stream to come (nothing may have moved)
  kStreamEnd,  // the stream ended: the next one, if any, needs RestartDecoder
  kCorrupt,
  kNoMemory,
};

struct Decoder;  // defined in decoder.cpp
// A decoder at the start of a stream; nullptr when there is no memory for it.
Decoder* NewDecoder(Compression compression);
// Ready for the stream that follows the one that ended; false when there is no memory.
bool RestartDecoder(Decoder* decoder);
// Decodes from the *in_n bytes at *in into out, advancing past the bytes taken; *produced
// is the count of bytes written to out.
DecodeStatus Decode(Decoder* decoder, const char** in, std::size_t* in_n, char* out,
                    std::size_t out_n, std::size_t* produced);
void FreeDecoder(Decoder* decoder);

}  // namespace kestra
