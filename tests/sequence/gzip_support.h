// gzip members and BGZF blocks made in the tests through zlib, with blocks as small as a test
// wants, so that a small input spans many.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestra {

// Raw deflate data of `text` at `level`: zlib's stream without its 2-byte header and its
// Adler-32.
inline std::string Deflated(const std::string& text, int level) {
  uLongf n = compressBound(text.size());
  std::string out(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&out[0]), &n,
                      reinterpret_cast<const Bytef*>(text.data()), text.size(), level),
            Z_OK);
  return out.substr(2, n - 6);
}

inline uint32_t Crc32(const std::string& bytes) {
  return crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

inline std::string LittleEndian(uint32_t v, int bytes) {
  std::string s(bytes, '\0');
  for (int i = 0; i < bytes; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// The trailer of a member holding `text`: its CRC32 and ISIZE.
inline std::string Trailer(const std::string& text) {
  return LittleEndian(Crc32(text), 4) + LittleEndian(static_cast<uint32_t>(text.size()), 4);
}

// Where a BGZF block's fields lie: BSIZE in its header, the CRC32 and ISIZE from its end.
constexpr std::size_t kBsizeAt = 16, kCrcFromEnd = 8, kIsizeFromEnd = 4;

// A BGZF block of `text` (64 KiB at most), as bgzip writes one; text "" gives the end block.
inline std::string BgzfBlock(const std::string& text, int level = 6) {
  const std::string data = Deflated(text, level);
  const auto size = static_cast<uint32_t>(18 + data.size() + 8);
  EXPECT_LE(size, 65536u);
  // The header, its extra field's BGZF subfield ("BC", 2 bytes) with BSIZE, one less than the size.
  const std::string header("\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00\x42\x43\x02\x00", 16);
  return header + LittleEndian(size - 1, 2) + data + Trailer(text);
}

// A BGZF file: its bytes, and where each block starts.
struct Bgzf {
  std::string bytes;
  std::vector<std::size_t> starts;
};

// Where the blocks of a BGZF file start, found by their BSIZE (the writers here and bgzip put
// BGZF's subfield first in the header's extra field).
inline std::vector<std::size_t> BlockStarts(const std::string& bytes) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at + kBsizeAt + 2 <= bytes.size();) {
    starts.push_back(at);
    const auto* bsize = reinterpret_cast<const unsigned char*>(&bytes[at + kBsizeAt]);
    at += (bsize[0] | bsize[1] << 8) + 1;
  }
  return starts;
}

// `text` in BGZF blocks of `block_text` bytes of text each, then the end block when asked.
inline Bgzf InBlocks(const std::string& text, std::size_t block_text, bool end_block = true) {
  std::string bytes;
  for (std::size_t at = 0; at < text.size(); at += block_text) {
    bytes += BgzfBlock(text.substr(at, block_text));
  }
  if (end_block) bytes += BgzfBlock("");
  return {bytes, BlockStarts(bytes)};
}

}  // namespace kestra
