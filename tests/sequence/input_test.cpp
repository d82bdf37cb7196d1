// The input in every compression, from files and pipes: the same entries as the plain text,
// damage of each kind told by its reason, what may stand between streams, and parts of a file
// that give every entry once.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "read_support.h"

using namespace kestra;

namespace {

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
  if (p.name == std::string("plain")) return {{"plain", text}};
  const std::size_t cut = text.size() / 2;
  const std::string two =
      Compressed(text.substr(0, cut), p.command) + Compressed(text.substr(cut), p.command);
  return {{"one stream", Compressed(text, p.command)},
          {"two streams", two},
          {"two streams and padding", two + std::string(3000, '\0')}};
}

// FASTA and FASTQ whose long entries have so many letters.
std::vector<std::pair<std::string, std::string>> Texts(std::size_t fasta, std::size_t fastq) {
  return {{"FASTA", SomeFasta(fasta)}, {"FASTQ", SomeFastq(fastq)}};
}

// Every compression gives the entries of the plain text, from a file and from a pipe whatever
// the pieces it delivers, FASTA and FASTQ alike; so does the first-entry reader.
TEST(CompressedInput, GivesThePlainTextsEntries) {
  for (const auto& [format, text] : Texts(1300000, 1200000)) {
    const Entries want = PlainEntries(text);
    const FirstEntry first = PlainFirstEntry(text);
    ASSERT_EQ(want.entries.size(), 9u);
    ASSERT_TRUE(want.reason.empty()) << want.reason;
    ASSERT_TRUE(std::get<1>(first));
    for (const Packing& packing : kPackings) {
      for (const auto& [shape, bytes] : Shapes(packing, text)) {
        SCOPED_TRACE(packing.name + (", " + shape) + ", " + format);
        ExpectEveryRead(bytes, {777, 65536}, want, &first);
      }
    }
  }
}

// Damaged compressed input is a read error that says what is wrong, read whole or for the
// first entry (one entry, so that both read to the end), from a file or a pipe; zero bytes
// after the last stream, over more than a read block, are padding only up to the end.
TEST(CompressedInput, DamageIsAReadErrorWithItsReason) {
  std::mt19937 rng(5);
  const std::string head = ">one\n" + Lines(Letters(rng, 150000, "ACGT"), 60);
  const std::string tail = Lines(Letters(rng, 90000, "ACGT"), 60), zeros(3 << 19, '\0');
  // Where a byte of a check value (or of a magic number) lies, from the start, or from the
  // end when negative: the CRC of the member's data, the first block's magic number, the CRC
  // of the stream header, the checksum of the frame's data.
  const std::pair<Packing, long> packings[] = {
      {kPackings[1], -8}, {kPackings[2], 4}, {kPackings[3], 8}, {kPackings[4], -1}};
  for (const auto& [packing, check] : packings) {
    const std::string one = Compressed(head, packing.command),
                      two = Compressed(tail, packing.command), name = packing.name;
    const std::string cut = "truncated " + name + " data", corrupt = "corrupt " + name + " data",
                      after = "data after the end of the " + name + " data";
    const std::tuple<const char*, std::string, std::string> cases[] = {
        // name, bytes, reason
        {"cut halfway", one.substr(0, one.size() / 2), cut},
        {"second stream cut", one + two.substr(0, two.size() / 2), cut},
        {"check value wrong", Flipped(one, check < 0 ? one.size() + check : check), corrupt},
        {"text after the end", one + two + ">x\nACGT\n", after},
        {"zeros, then not", one + zeros + "x", after},
        {"zero padding", one + zeros, ""},
    };
    for (const auto& [what, bytes, reason] : cases) {
      SCOPED_TRACE(name + ", " + what);
      ExpectTextOrFailure(bytes, {4096}, head, reason);
    }
  }
}

// An entry over several read blocks that reaches the reader's limit (1 MiB here) is too long:
// with its letters dropped it holds none, only their count; the entries around it read as
// without a limit. FASTA and FASTQ, from a file (FASTA also by ranges), a gzip file and a pipe.
TEST(ReaderLimit, DropsTheLettersOfATooLongEntry) {
  const std::size_t limit = std::size_t{1} << 20;
  for (const auto& [format, text] : Texts(3 * limit, 3 * limit)) {
    const Entries unlimited = PlainEntries(text);
    const std::string gzip = Compressed(text, "gzip -1 -c");
    ASSERT_EQ(unlimited.entries.size(), 9u);
    for (const bool drop : {false, true}) {
      // What a reader limited so must give: the long entry (the seventh) too long, its letters
      // counted all the same.
      Entries want = unlimited;
      for (auto& [status, header, letters] : want.entries) {
        if (letters.size() >= limit) status = FastaStatus::kTooLong;
        if (status == FastaStatus::kTooLong && drop) letters.clear();
      }
      ASSERT_EQ(std::get<0>(want.entries[6]), FastaStatus::kTooLong);
      const LetterLimit limited{limit, drop};
      auto counted = [](FastaReader* reader) {
        const Entries read = AllEntries(reader);
        return std::pair(read, read.counts);
      };
      auto stream = [&](int fd) { return counted(OpenFastaReader(fd, nullptr, limited)); };
      auto ranges = [&](int fd) {
        uint64_t size = 0;
        EXPECT_TRUE(IsPlainFile(fd, &size));
        return counted(OpenFastaRange(fd, 0, size, limited));
      };
      SCOPED_TRACE(format + (drop ? ", dropped" : ", kept"));
      const auto counts = std::pair(want, unlimited.counts);
      EXPECT_EQ(FromFile(text, stream), counts);
      if (format == "FASTA") {
        EXPECT_EQ(FromFile(text, ranges), counts) << "by ranges";
      }
      EXPECT_EQ(FromFile(gzip, stream), counts) << "gzip";
      EXPECT_EQ(ThroughPipe(text, 4099, stream), counts) << "pipe";
    }
  }
}

// Entries of some hundred kB, so that the parts of a file lie in both streams.
std::string EntriesText() {
  std::mt19937 rng(3);
  std::string text;
  for (int i = 0; i < 8; ++i) {
    text +=
        ">entry " + std::to_string(i) + "\n" + Lines(Letters(rng, 60 * (200 + 97 * i), "ACGT"), 60);
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

// What may stand around the streams of a compressed input: zstd's skippable frames anywhere,
// the first included; xz's stream padding, zero bytes in fours, between streams and after
// them; zero bytes between the streams of the others, which no decompressor reads on from.
// Each case from a file, through a pipe in small and large pieces, and (when it is read whole)
// in 7 parts: the plain text's entries, or the read error with its reason.
TEST(CompressedInput, StreamsAroundAreReadAsTheDecompressorsReadThem) {
  const std::string text = EntriesText();
  const Entries want = PlainEntries(text);
  ASSERT_EQ(want.entries.size(), 8u);
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
  // name, bytes, the reason they give (empty: the plain text's entries)
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"zstd, skippable frames first",
       SkippableFrame(0, "") + SkippableFrame(10, "abcd") + zstd1 + zstd2, ""},
      {"zstd, skippable frames between and after",
       zstd1 + SkippableFrame(15, std::string(5000, 'x')) + zstd2 + SkippableFrame(3, ""), ""},
      {"zstd, a skippable frame cut short", SkippableFrame(0, "abcdefgh").substr(0, 10),
       "truncated zstd data"},
      {"zstd, zero bytes between frames", zstd1 + Zeros(4) + zstd2, after + "zstd data"},
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
  for (const auto& [name, bytes, reason] : cases) {
    SCOPED_TRACE(name);
    ExpectEveryRead(bytes, {5, 65536}, reason.empty() ? want : Entries{{}, reason});
    if (reason.empty()) {
      EXPECT_EQ(FromFile(bytes, [](int fd) { return EveryPartJoined(fd, 7); }), want) << "in 7";
    }
  }
}

// A descriptor that cannot be read gives the system's reason, whichever reader meets it.
TEST(InputReadError, GivesTheSystemsReason) {
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  const int write_only = open("/dev/null", O_WRONLY);
  const std::string is_a_directory = std::strerror(EISDIR), bad_fd = std::strerror(EBADF);
  for (const auto& [fd, reason] : {std::pair(directory, is_a_directory), {write_only, bad_fd}}) {
    EXPECT_EQ(ReadFirstEntry(fd), FailedFirst(reason));
    EXPECT_EQ(ReadAll(fd), (Entries{{Entry(FastaStatus::kReadError, "", "")}, reason}));
  }
  EXPECT_EQ(AllEntries(OpenFastaRange(write_only, 0, 100)).reason, bad_fd);
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
  for (const auto& [format, text] : Texts(150000, 120000)) {
    for (const Packing& packing : kPackings) {
      for (const auto& [shape, bytes] : Shapes(packing, text)) {
        FILE* file = FileWith(bytes);
        const Entries want = ReadAll(fileno(file));
        ASSERT_EQ(want.entries.size(), 9u);
        for (const int count : {1, 2, 7, 25}) {
          SCOPED_TRACE(packing.name + (", " + shape) + ", " + format + " in " +
                       std::to_string(count));
          int holding = 0;  // parts that hold an entry
          EXPECT_EQ(EveryPartJoined(fileno(file), count, nullptr, &holding), want);
          if (count == 7) {
            EXPECT_GE(holding, 2);
          }
        }
        std::fclose(file);
      }
    }
  }
}

}  // namespace
