// gzip members and BGZF blocks made in the tests through zlib, with blocks as small as a test
// wants, so that a small input spans many.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestra {

inline std::string LittleEndian(uint32_t v, int bytes) {
  std::string s(bytes, '\0');
  for (int i = 0; i < bytes; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

inline uint32_t Crc32(const std::string& bytes) {
  return crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

// Where a BGZF block's fields lie: BSIZE in its header, the CRC32 and ISIZE from its end.
constexpr std::size_t kBsizeAt = 16, kCrcFromEnd = 8, kIsizeFromEnd = 4;

// A gzip member of `text` at `level` whose header holds the fields that `flags` names: an
// extra field of BGZF's subfield alone ("BC", 2 bytes, BSIZE: the member's size less one), a
// name, a comment, a header CRC. Its deflate data is zlib's stream without its 2-byte header
// and its Adler-32; its trailer the text's CRC32 and ISIZE.
inline std::string Member(const std::string& text, int level, unsigned char flags) {
  using namespace std::string_literals;  // "..."s keeps embedded NUL bytes
  std::string header = "\x1f\x8b\x08"s + static_cast<char>(flags) + "\0\0\0\0\0\xff"s;
  if (flags & 4) header += "\x06\0BC\x02\0\0\0"s;
  if (flags & 8) header += "name.fa\0"s;
  if (flags & 16) header += "a comment\0"s;
  uLongf n = compressBound(text.size());
  std::string data(n, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&data[0]), &n,
                      reinterpret_cast<const Bytef*>(text.data()), text.size(), level),
            Z_OK);
  data = data.substr(2, n - 6) + LittleEndian(Crc32(text), 4) + LittleEndian(text.size(), 4);
  const std::size_t size = header.size() + (flags & 2 ? 2 : 0) + data.size();
  if (flags & 4) header.replace(kBsizeAt, 2, LittleEndian(size - 1, 2));
  if (flags & 2) header += LittleEndian(Crc32(header) & 0xffff, 2);
  return header + data;
}

// A BGZF block of `text` (64 KiB at most), as bgzip writes one; text "" gives the end block.
inline std::string BgzfBlock(const std::string& text) {
  const std::string block = Member(text, 6, 4);
  EXPECT_LE(block.size(), 65536u);
  return block;
}

// What an inflater made of a gzip member: whole, corrupt or cut short, its text, what it left.
enum class Verdict { kWhole, kCorrupt, kTruncated };

struct Inflated {
  Verdict verdict = Verdict::kTruncated;
  std::string text;
  std::size_t left = 0;  // input bytes not read when the verdict was reached
};

// One member through zlib, at once (the inflater the reader is held to); what follows it is
// left.
inline Inflated ThroughZlib(const std::string& member) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, 16 + MAX_WBITS), Z_OK);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  zs.avail_in = static_cast<uInt>(member.size());
  Inflated got;
  int status = Z_OK;
  for (char out[1 << 16]; status == Z_OK;) {
    zs.next_out = reinterpret_cast<Bytef*>(out);
    zs.avail_out = sizeof out;
    status = inflate(&zs, Z_NO_FLUSH);
    got.text.append(out, sizeof out - zs.avail_out);
  }
  got.verdict = status == Z_STREAM_END  ? Verdict::kWhole
                : status == Z_BUF_ERROR ? Verdict::kTruncated  // no input left to go on
                                        : Verdict::kCorrupt;
  got.left = zs.avail_in;
  inflateEnd(&zs);
  return got;
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
