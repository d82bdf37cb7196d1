// What may stand around the streams of a compressed input: zstd's skippable frames anywhere,
// the first included; xz's stream padding, zero bytes in fours, between streams and after
// them; zero bytes between the streams of the others, which no decompressor reads on from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "read_support.h"
#include "sequence/fasta.h"

using namespace kestra;

namespace {

// Entries of some hundred kB, so that the parts of a file lie in both streams.
std::string EntriesText() {
  std::mt19937 rng(3);
  std::string text;
  for (int i = 0; i < 8; ++i) {
    text += ">entry " + std::to_string(i) + "\n";
    for (int line = 0; line < 200 + 97 * i; ++line) {
      for (int k = 0; k < 60; ++k) text += "ACGT"[rng() % 4];
      text += '\n';
    }
  }
  return text;
}

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

// A zstd skippable frame: magic 0x184D2A50 + `low`, the payload's size, the payload.
std::string SkippableFrame(int low, const std::string& payload) {
  std::string frame = {static_cast<char>(0x50 | low), 0x2a, 0x4d, 0x18};
  for (int i = 0; i < 4; ++i) frame += static_cast<char>((payload.size() >> (8 * i)) & 0xff);
  return frame + payload;
}

struct Case {
  std::string name;
  std::string bytes;
  std::string reason;  // empty: the plain text's entries
};

std::vector<Case> Cases(const std::string& text) {
  const std::size_t cut = text.size() / 2;
  auto halves = [&](const char* command) {
    return std::pair(Compressed(text.substr(0, cut), command),
                     Compressed(text.substr(cut), command));
  };
  const auto [zstd1, zstd2] = halves("zstd -q -1 -c");
  const auto [xz1, xz2] = halves("xz -1 -c");
  const auto [gzip1, gzip2] = halves("gzip -1 -c");
  const auto [bzip1, bzip2] = halves("bzip2 -1 -c");
  const std::string after = "data after the end of the ";
  return {
      {"zstd, skippable frames first",
       SkippableFrame(0, "") + SkippableFrame(10, "abcd") + zstd1 + zstd2, ""},
      {"zstd, skippable frames between and after",
       zstd1 + SkippableFrame(15, std::string(5000, 'x')) + zstd2 + SkippableFrame(3, ""), ""},
      {"zstd, a skippable frame cut short", SkippableFrame(0, "abcdefgh").substr(0, 10),
       "truncated zstd data"},
      {"zstd, zero bytes between frames", zstd1 + Zeros(4) + zstd2, after + "zstd data"},
      {"xz, 4 zero bytes between", xz1 + Zeros(4) + xz2, ""},
      {"xz, 8 zero bytes between and 4 after", xz1 + Zeros(8) + xz2 + Zeros(4), ""},
      {"xz, padding longer than a read", xz1 + Zeros((1 << 20) + 4) + xz2, ""},
      {"xz, 3 zero bytes between", xz1 + Zeros(3) + xz2, after + "xz data"},
      {"xz, 6 zero bytes between", xz1 + Zeros(6) + xz2, after + "xz data"},
      {"xz, padding then text", xz1 + Zeros(8) + ">x\nACGT\n", after + "xz data"},
      {"xz, padding then a stream cut short", xz1 + Zeros(4) + xz2.substr(0, xz2.size() / 2),
       "truncated xz data"},
      {"gzip, zero bytes between members", gzip1 + Zeros(4) + gzip2, after + "gzip data"},
      {"bzip2, zero bytes between streams", bzip1 + Zeros(4) + bzip2, after + "bzip2 data"},
  };
}

// The entries, or the reason of the read error after the entries before it.
Entries Outcome(const Entries& read) {
  if (read.reason.empty()) return read;
  return Entries{{}, read.reason};
}

// Each case from a file, through a pipe in small and large pieces, and (when it is read
// whole) in 7 parts: the plain text's entries, or the read error with its reason.
TEST(StreamsAround, AreReadAsTheDecompressorsReadThem) {
  const std::string text = EntriesText();
  const Entries want = PlainEntries(text);
  ASSERT_EQ(want.entries.size(), 8u);
  for (const Case& c : Cases(text)) {
    const Entries expected = c.reason.empty() ? want : Entries{{}, c.reason};
    FILE* file = FileWith(c.bytes);
    const int fd = fileno(file);
    EXPECT_EQ(Outcome(ReadAll(fd)), expected) << c.name << " from a file";
    for (const std::size_t piece : {std::size_t{5}, std::size_t{65536}}) {
      EXPECT_EQ(Outcome(ThroughPipe(c.bytes, piece, ReadAll)), expected)
          << c.name << " through a pipe in pieces of " << piece;
    }
    if (c.reason.empty()) {
      EXPECT_EQ(EveryPartJoined(fd, 7), want) << c.name << " in 7 parts";
    }
    std::fclose(file);
  }
}

}  // namespace
