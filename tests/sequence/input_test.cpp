// The input in every compression, from files and pipes: the same entries as the plain text,
// damage of each kind told by its reason, what may stand between streams, and parts of a file
// that give every entry once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "read_support.h"
#include "sequence/fasta.h"

using namespace kestra;

namespace {

// FASTA with text before its first entry, small entries, one of `long_letters` in CR LF lines
// (more than the MiB that text is handed out in, when it is given), an empty one, and a last
// line without its newline.
std::string SomeFasta(std::size_t long_letters) {
  std::mt19937 rng(7);
  std::string text = "text before the first entry\n";
  for (int i = 0; i < 6; ++i) {
    text += ">small " + std::to_string(i) + "\n" +
            Lines(Letters(rng, 100 + 997 * i, "ACGTN"), 60, "\n");
  }
  text += ">long\r\n" + Lines(Letters(rng, long_letters, "ACGT"), 70, "\r\n");
  return text + ">empty\n>last\nACGTACGT";
}

// FASTQ of the same shapes: wrapped sequence and quality lines, qualities that start lines
// with '@' and '+', blank lines between records, an empty record, and a last line without its
// newline.
std::string SomeFastq(std::size_t long_letters) {
  std::mt19937 rng(11);
  std::string text;
  auto record = [&](const std::string& name, const std::string& letters, std::size_t width) {
    const std::string qualities = Letters(rng, letters.size(), "@+!#ABCDEFGHIJ");
    text += "@" + name + "\n" + Lines(letters, width, "\n") + "+\n" + Lines(qualities, width, "\n");
  };
  for (int i = 0; i < 6; ++i)
    record("read " + std::to_string(i), Letters(rng, 50 + 301 * i, "ACGTN"), 40);
  text += "\n\n";
  record("long", Letters(rng, long_letters, "ACGT"), 80);
  text += "@empty\n+\n";
  record("last", "ACGTACGT", 80);
  text.pop_back();
  return text;
}

struct Packing {
  const char* name;
  const char* command;  // compresses its standard input to its standard output
};
// Fast levels, since the reader reads every level alike; bzip2 in blocks of 100 kB of text,
// so that a small input is more than one block.
const Packing kPackings[] = {
    {"plain", "cat"},   {"gzip", "gzip -1 -c"},    {"bzip2", "bzip2 -1 -c"},
    {"xz", "xz -1 -c"}, {"zstd", "zstd -q -1 -c"},
};

// The text in one stream, and in two (cut inside an entry's letters), then zero padding.
std::vector<std::pair<std::string, std::string>> Shapes(const Packing& p, const std::string& text) {
  if (std::string(p.name) == "plain") return {{"plain", text}};
  const std::size_t cut = text.size() / 2;
  const std::string two =
      Compressed(text.substr(0, cut), p.command) + Compressed(text.substr(cut), p.command);
  return {{"one stream", Compressed(text, p.command)},
          {"two streams", two},
          {"two streams and padding", two + std::string(3000, '\0')}};
}

// Every compression gives the entries of the plain text, from a file and from a pipe whatever
// the pieces it delivers, FASTA and FASTQ alike; so does the first-entry reader.
TEST(CompressedInput, GivesThePlainTextsEntries) {
  for (const std::string& text : {SomeFasta(1300000), SomeFastq(1200000)}) {
    const Entries want = PlainEntries(text);
    const FirstEntry first = PlainFirstEntry(text);
    ASSERT_EQ(want.entries.size(), 9u);
    ASSERT_TRUE(want.reason.empty()) << want.reason;
    ASSERT_TRUE(first.more);
    for (const Packing& packing : kPackings) {
      for (const auto& [shape, bytes] : Shapes(packing, text)) {
        const std::string shown =
            std::string(packing.name) + ", " + shape + ", " + text.substr(0, 6);
        ExpectEveryRead(bytes, want, &first, nullptr, shown, {777, 65536});
      }
    }
  }
}

// Damaged compressed input is a read error that says what is wrong, read whole or for the
// first entry (one entry, so that both read to the end), from a file or a pipe; zero bytes
// after the last stream, over more than a read block, are padding only up to the end.
TEST(CompressedInput, DamageIsAReadErrorWithItsReason) {
  std::mt19937 rng(5);
  const std::string head = ">one\n" + Lines(Letters(rng, 150000, "ACGT"), 60, "\n");
  const std::string tail = Lines(Letters(rng, 90000, "ACGT"), 60, "\n");
  const std::string zeros(3 << 19, '\0');
  const struct {
    Packing packing;
    std::size_t check;  // where a byte of a check value (or of a magic number) lies, from the
                        // start, or from the end when negative
  } packings[] = {
      {kPackings[1], std::size_t(-8)},  // the CRC of the member's data
      {kPackings[2], 4},                // the first block's magic number
      {kPackings[3], 8},                // the CRC of the stream header
      {kPackings[4], std::size_t(-1)},  // the checksum of the frame's data
  };
  for (const auto& [packing, check] : packings) {
    const std::string one = Compressed(head, packing.command),
                      two = Compressed(tail, packing.command);
    const std::string name = packing.name;
    const struct {
      const char* name;
      std::string bytes;
      std::string reason;
    } cases[] = {
        {"cut halfway", one.substr(0, one.size() / 2), "truncated " + name + " data"},
        {"second stream cut", one + two.substr(0, two.size() / 2), "truncated " + name + " data"},
        {"check value wrong", Flipped(one, check < one.size() ? check : one.size() + check),
         "corrupt " + name + " data"},
        {"text after the end", one + two + ">x\nACGT\n",
         "data after the end of the " + name + " data"},
        {"zeros, then not", one + zeros + "x", "data after the end of the " + name + " data"},
        {"zero padding", one + zeros, ""},
    };
    for (const auto& c : cases) {
      const bool whole = c.reason.empty();
      const FirstEntry first =
          whole ? PlainFirstEntry(head)
                : FirstEntry{Entry(FastaStatus::kReadError, "", ""), false, c.reason};
      ExpectEveryRead(c.bytes, whole ? PlainEntries(head) : Entries{{}, c.reason}, &first, nullptr,
                      name + ", " + c.name, {4096});
    }
  }
}

// An entry over several read blocks that reaches the reader's limit (1 MiB here) is too long:
// with its letters dropped it holds none, only their count; the entries around it read as
// without a limit. FASTA and FASTQ, from a file (FASTA also by ranges), a gzip file and a pipe.
TEST(ReaderLimit, DropsTheLettersOfATooLongEntry) {
  const std::size_t limit = std::size_t{1} << 20;
  for (const std::string& text : {SomeFasta(3 * limit), SomeFastq(3 * limit)}) {
    FILE* plain = FileWith(text);
    const Entries unlimited = ReadAll(fileno(plain));
    ASSERT_EQ(unlimited.entries.size(), 9u);
    for (const bool drop : {false, true}) {
      // What a reader limited so must give: the long entry (the seventh) too long.
      std::vector<std::tuple<FastaStatus, std::string, std::string, std::size_t>> want;
      for (const Entry& e : unlimited.entries) {
        const bool too_long = std::get<2>(e).size() >= limit;
        want.emplace_back(too_long ? FastaStatus::kTooLong : std::get<0>(e), std::get<1>(e),
                          too_long && drop ? "" : std::get<2>(e), std::get<2>(e).size());
      }
      ASSERT_EQ(std::get<0>(want[6]), FastaStatus::kTooLong);
      auto read = [&](FastaReader* reader) {
        std::vector<std::tuple<FastaStatus, std::string, std::string, std::size_t>> got;
        FastaEntry entry;
        for (FastaStatus status; NextFastaEntry(reader, &entry, &status);) {
          got.emplace_back(status, entry.header, entry.letters, LetterCount(entry));
        }
        CloseFastaReader(reader);
        return got;
      };
      const LetterLimit limited{limit, drop};
      const std::string shown = text.substr(0, 6) + (drop ? ", dropped" : ", kept");
      std::rewind(plain);
      EXPECT_EQ(read(OpenFastaReader(fileno(plain), nullptr, limited)), want) << shown;
      uint64_t size = 0;
      if (IsPlainFile(fileno(plain), &size)) {
        EXPECT_EQ(read(OpenFastaRange(fileno(plain), 0, size, limited)), want) << shown;
      }
      const std::string gzip = Compressed(text, "gzip -1 -c");
      FILE* packed = FileWith(gzip);
      EXPECT_EQ(read(OpenFastaReader(fileno(packed), nullptr, limited)), want) << shown << ", gzip";
      std::fclose(packed);
      EXPECT_EQ(ThroughPipe(text, 4099,
                            [&](int fd) { return read(OpenFastaReader(fd, nullptr, limited)); }),
                want)
          << shown << ", pipe";
    }
    std::fclose(plain);
  }
}

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

// What may stand around the streams of a compressed input: zstd's skippable frames anywhere,
// the first included; xz's stream padding, zero bytes in fours, between streams and after
// them; zero bytes between the streams of the others, which no decompressor reads on from.
// Each case from a file, through a pipe in small and large pieces, and (when it is read whole)
// in 7 parts: the plain text's entries, or the read error with its reason.
TEST(CompressedInput, StreamsAroundAreReadAsTheDecompressorsReadThem) {
  const std::string text = EntriesText();
  const Entries want = PlainEntries(text);
  ASSERT_EQ(want.entries.size(), 8u);
  for (const Case& c : Cases(text)) {
    ExpectEveryRead(c.bytes, c.reason.empty() ? want : Entries{{}, c.reason}, nullptr, nullptr,
                    c.name, {5, 65536});
    if (!c.reason.empty()) continue;
    FILE* file = FileWith(c.bytes);
    EXPECT_EQ(EveryPartJoined(fileno(file), 7), want) << c.name << " in 7 parts";
    std::fclose(file);
  }
}

// A descriptor that cannot be read gives the system's reason, whichever reader meets it.
TEST(InputReadError, GivesTheSystemsReason) {
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  const int write_only = open("/dev/null", O_WRONLY);
  const std::string is_a_directory = std::strerror(EISDIR), bad_fd = std::strerror(EBADF);
  const FirstEntry failed{Entry(FastaStatus::kReadError, "", ""), false, ""};
  for (const auto& [fd, reason] :
       {std::pair(directory, is_a_directory), std::pair(write_only, bad_fd)}) {
    FirstEntry want = failed;
    want.reason = reason;
    EXPECT_EQ(ReadFirstEntry(fd), want);
    const Entries all = ReadAll(fd);
    ASSERT_EQ(all.entries.size(), 1u) << reason;
    EXPECT_EQ(std::get<0>(all.entries[0]), FastaStatus::kReadError);
    EXPECT_EQ(all.reason, reason);
  }
  const Entries range = AllEntries(OpenFastaRange(write_only, 0, 100));
  EXPECT_EQ(range.reason, bad_fd);
  std::vector<char> block;
  ReadProblem problem;
  EXPECT_EQ(NextEntryStart(directory, 10, 100, &block, &problem), -2);
  EXPECT_EQ(problem.reason, is_a_directory);
  close(directory);
  close(write_only);
}

// The parts of a file, in every compression and in two streams, FASTA and FASTQ, give every
// entry once in order, however many they are: each part holds the entries that start in
// the text its share of the bytes decompresses to.
TEST(InputParts, TogetherGiveEveryEntryOnce) {
  for (const std::string& text : {SomeFasta(150000), SomeFastq(120000)}) {
    for (const Packing& packing : kPackings) {
      for (const auto& [shape, bytes] : Shapes(packing, text)) {
        FILE* file = FileWith(bytes);
        const int fd = fileno(file);
        const Entries want = ReadAll(fd);
        ASSERT_EQ(want.entries.size(), 9u);
        for (const int count : {1, 2, 7, 25}) {
          const std::string shown = std::string(packing.name) + ", " + shape + ", " +
                                    text.substr(0, 6) + " in " + std::to_string(count);
          int holding = 0;  // parts that hold an entry
          EXPECT_EQ(EveryPartJoined(fd, count, nullptr, &holding), want) << shown;
          if (count == 7) {
            EXPECT_GE(holding, 2) << shown;
          }
        }
        std::fclose(file);
      }
    }
  }
}

}  // namespace
