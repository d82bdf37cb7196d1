// The gzip inflater against zlib's, the one the reader was first built on: over members of
// every header shape, whole and damaged in every way, fed in pieces of any size, both give
// the same verdict (the member whole, corrupt, or cut short) and the same text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gzip_support.h"
#include "sequence/decoder.h"

using namespace kestra;
using namespace std::string_literals;

namespace {

// One member through the reader's decoder, fed `piece` bytes at a time into an output of
// `room` bytes; what follows the member is left.
Inflated ThroughDecoder(const std::string& member, std::size_t piece, std::size_t room) {
  Decoder* d = NewDecoder(Compression::kGzip);
  Inflated got;
  std::vector<char> out(room);
  const char* in = member.data();
  std::size_t fed = 0, in_n = 0;
  DecodeStatus status = DecodeStatus::kGoing;
  while (status == DecodeStatus::kGoing) {
    if (in_n == 0 && fed < member.size()) fed += in_n = std::min(piece, member.size() - fed);
    const bool starved = in_n == 0;
    std::size_t produced = 0;
    status = Decode(d, &in, &in_n, out.data(), room, &produced);
    got.text.append(out.data(), produced);
    if (status == DecodeStatus::kGoing && produced == 0 && starved) break;  // cut short
  }
  got.verdict = status == DecodeStatus::kGoing       ? Verdict::kTruncated
                : status == DecodeStatus::kStreamEnd ? Verdict::kWhole
                                                     : Verdict::kCorrupt;
  got.left = in_n + (member.size() - fed);
  FreeDecoder(d);
  return got;
}

// Whether the reader's inflater agrees with zlib on a member: the same verdict, but for
// damage that zlib meets among the input's last bytes, which the inflater may take for the
// input cut short (it wants the bits of a whole length and distance in hand before it decodes
// them).
constexpr std::size_t kInflaterLookahead = 8;

bool SameVerdict(const Inflated& got, const Inflated& zlib) {
  const bool near_the_end = zlib.verdict == Verdict::kCorrupt && zlib.left < kInflaterLookahead;
  return got.verdict == zlib.verdict || (near_the_end && got.verdict == Verdict::kTruncated);
}

std::string SomeText(std::mt19937& rng, std::size_t n) {
  std::string text = ">entry\n";
  while (text.size() < n) text += "ACGTTGCA"[rng() % 8] + std::string(rng() % 3 == 0, '\n');
  return text;
}

std::string Damaged(std::string bytes, std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:  // bits flipped anywhere, header and trailer included
      for (int i = 1 + rng() % 3; i > 0; --i) bytes[rng() % bytes.size()] ^= 1 << (rng() % 8);
      return bytes;
    case 1:  // cut short
      return bytes.substr(0, rng() % bytes.size());
    case 2:  // a reserved flag bit set
      bytes[3] = static_cast<char>(bytes[3] | (0x20 << (rng() % 3)));
      return bytes;
    default:  // a byte of the data or of the trailer replaced
      bytes[10 + rng() % (bytes.size() - 10)] = static_cast<char>(rng());
      return bytes;
  }
}

TEST(GzipInflater, AgreesWithZlibOnEveryMember) {
  std::mt19937 rng(41);
  // name, size of the text, level, header flags
  const std::tuple<const char*, std::size_t, int, unsigned char> members[] = {
      {"empty", 0, 6, 0},
      {"small, stored", 300, 0, 0},
      {"small", 300, 6, 0},
      {"large, fast", 200000, 1, 0},
      {"large, best", 90000, 9, 0},
      {"extra field", 5000, 6, 4},
      {"name and comment", 5000, 6, 8 | 16},
      {"header CRC", 5000, 6, 2 | 4 | 8}};
  for (const auto& [name, size, level, flags] : members) {
    const std::string text = SomeText(rng, size), member = Member(text, level, flags);
    const Inflated whole = ThroughZlib(member);
    ASSERT_EQ(whole.verdict, Verdict::kWhole) << name;
    ASSERT_EQ(whole.text, text) << name;
    // The first trials whole and followed by other bytes, which both leave, in pieces of 1, 7,
    // 4096 bytes and at once; then damaged in pieces of any size.
    const std::size_t whole_pieces[] = {1, 7, 4096, member.size() * 2};
    for (int trial = 0; trial < 400; ++trial) {
      const bool intact = trial < 4;
      const std::string bytes = intact ? member + "after the member" : Damaged(member, rng);
      const std::size_t piece = intact           ? whole_pieces[trial]
                                : trial % 3 == 0 ? bytes.size() + 1
                                                 : 1 + rng() % 5000;
      const std::size_t room = trial % 2 ? 1 << 20 : 1 + rng() % 70000;
      const Inflated want = ThroughZlib(bytes), got = ThroughDecoder(bytes, piece, room);
      const std::string shown = name + ", trial "s + std::to_string(trial);
      EXPECT_TRUE(SameVerdict(got, want)) << shown << ": " << static_cast<int>(got.verdict)
                                          << " for zlib's " << static_cast<int>(want.verdict);
      if (want.verdict == Verdict::kWhole) {
        EXPECT_EQ(std::pair(got.text, got.left), std::pair(want.text, want.left)) << shown;
      } else {  // each stops where it finds the damage: the text before it is the same
        const std::size_t n = std::min(got.text.size(), want.text.size());
        EXPECT_EQ(got.text.compare(0, n, want.text, 0, n), 0) << shown;
      }
    }
  }
}

}  // namespace
