// gzip members and BGZF blocks made in the tests through zlib, with blocks as small as a test
// wants, so that a small input spans many.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestra {

// Raw deflate data of `text` at `level`.
inline std::string Deflated(const std::string& text, int level) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
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

// `text` in BGZF blocks of `block_text` bytes of text each, then the end block when asked.
inline Bgzf InBlocks(const std::string& text, std::size_t block_text, bool end_block = true) {
  Bgzf file;
  for (std::size_t at = 0; at < text.size(); at += block_text) {
    file.starts.push_back(file.bytes.size());
    file.bytes += BgzfBlock(text.substr(at, block_text));
  }
  if (end_block) {
    file.starts.push_back(file.bytes.size());
    file.bytes += BgzfBlock("");
  }
  return file;
}

// Where the blocks of a BGZF file start, found by their BSIZE (the writers here and bgzip put
// BGZF's subfield first in the header's extra field).
inline std::vector<std::size_t> BlockStarts(const std::string& bytes) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at + kBsizeAt + 2 <= bytes.size();) {
    starts.push_back(at);
    at += (static_cast<unsigned char>(bytes[at + kBsizeAt]) |
           static_cast<unsigned char>(bytes[at + kBsizeAt + 1]) << 8) +
          1;
  }
  return starts;
}

}  // namespace kestra
