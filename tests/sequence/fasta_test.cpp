#include "sequence/fasta.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes
using Result = std::tuple<FastaStatus, std::string, std::string>;  // status, name, seq
constexpr FastaStatus kOk = FastaStatus::kOk;
constexpr FastaStatus kNone = FastaStatus::kNoEntry;

// Feeds `input` in blocks of `block` bytes, stopping as soon as the scanner says it is done.
Result ScanInBlocks(const std::string& input, std::size_t block) {
  FastaEntry entry;
  FastaScanner* scanner = NewFastaScanner(&entry);
  for (std::size_t at = 0; at < input.size(); at += block) {
    if (!FastaScannerFeed(scanner, input.data() + at, std::min(block, input.size() - at))) break;
  }
  const FastaStatus status = FastaScannerFinish(scanner);
  return {status, entry.name, entry.seq};
}

TEST(FastaScanner, ReadsFirstEntryWhateverTheBlockSize) {
  const std::string h(25000, 'h'), max(kFastaLineMax, 'h'), c30k(30000, 'C');
  const struct {
    const char* name;
    std::string input;
    Result want;
  } cases[] = {
      {"empty file", "", {kNone, "", ""}},
      {"no header", "ACGT\nACGT\n", {kNone, "", ""}},
      {"header without newline not counted", ">a", {kNone, "", ""}},
      {"header only", ">a\n", {kOk, "a", ""}},
      {"last line without newline", ">a\nACGT", {kOk, "a", "ACGT"}},
      {"case kept, blanks skipped", ">s\nac gt\tA\n", {kOk, "s", "acgtA"}},
      {"CR LF", ">x\r\nAC\r\nGT\r\n", {kOk, "x", "ACGT"}},
      {"only one CR removed", ">x\r\r\nA\n", {kOk, "x\r", "A"}},
      {"digits, '*', '.', NUL, high bytes skipped",
       ">x\n1 A*C.\0G\x80-\xffT\n"s,
       {kOk, "x", "ACG-T"}},
      {"header cut at NUL, then CR", ">ab\r\0cd\nAC\n"s, {kOk, "ab", "AC"}},
      {"'>' inside header", "> a>b \nAC\n", {kOk, " a>b ", "AC"}},
      {"'>' mid-line ends sequence", ">a\nAC>GT\n>b\nTT\n", {kOk, "a", "AC"}},
      {"empty entry before next", ">a\n>b\nTT\n", {kOk, "a", ""}},
      {"text before header skipped", "junk\n>a\nAC\n", {kOk, "a", "AC"}},
      {"entry starts at '>' mid-line", "xx>abc\nAC\n>b\n", {kOk, "abc", "AC"}},
      {"mid-line entry, last header uncounted", "xx>abc\nAC\n>b", {kNone, "", ""}},
      {"mid-line entry, counted line later", "x>a\nA>C\nG\n>d\n", {kOk, "a", "A"}},
      {"mid-line entry, only mid-line '>' later", "x>a\nA\nC>b\n", {kNone, "", ""}},
      {"long header", ">" + h + ">AC\nGT\n", {kOk, max, "GT"}},
      {"long header without newline", ">" + h, {kOk, max, ""}},
      {"19999-byte last line counted",
       ">" + h.substr(0, kFastaLineMax - 1),
       {kOk, h.substr(0, kFastaLineMax - 1), ""}},
      {"19998-byte last line not counted", ">" + h.substr(0, kFastaLineMax - 2), {kNone, "", ""}},
      {"long line counts after mid-line entry", "x>a\nAC\n>" + h, {kOk, "a", "AC"}},
      {"long mid-line header not counted", "x>" + h, {kNone, "", ""}},
      {"long sequence line", ">a\n" + c30k + "\n", {kOk, "a", c30k}},
  };
  for (const auto& c : cases) {
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, c.input.size() + 1}) {
      EXPECT_EQ(ScanInBlocks(c.input, block), c.want) << c.name << ", blocks of " << block;
    }
  }
}

TEST(FastaScanner, StopsOnceTheResultIsKnown) {
  const struct {
    const char* name;
    std::vector<std::string> blocks;
    std::vector<bool> want;  // what each Feed returns
  } cases[] = {
      {"entry ends at next header", {">a\nAC", "\n>"}, {true, false}},
      {"uncounted header waits for a counted line", {"x>a\nAC\n", ">b", "\n"}, {true, true, false}},
      {"long line counts before its newline",
       {"x>a\n>", std::string(kFastaLineMax - 2, 'h'), "h"},
       {true, true, false}},
  };
  for (const auto& c : cases) {
    FastaEntry entry;
    FastaScanner* scanner = NewFastaScanner(&entry);
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(FastaScannerFeed(scanner, c.blocks[i].data(), c.blocks[i].size()), c.want[i])
          << c.name << ", block " << i;
    }
    EXPECT_EQ(FastaScannerFinish(scanner), kOk) << c.name;
  }
}

// An entry reaching the letter limit is rejected however its letters arrive.
TEST(FastaScanner, RejectsAnEntryAtTheLetterLimit) {
  const struct {
    std::string input;
    FastaStatus want;
  } cases[] = {{">a\nACGTACGTA\n>b\n", kOk},
               {">a\nACGTA\nCGTAC\n>b\n", FastaStatus::kTooLong},
               {">a\nAC GT\r\nAC*GT9AC", FastaStatus::kTooLong}};
  for (const auto& c : cases) {
    for (const std::size_t block : {std::size_t{1}, std::size_t{4}, c.input.size()}) {
      FastaEntry entry;
      FastaScanner* scanner = NewFastaScanner(&entry, 10);
      for (std::size_t at = 0; at < c.input.size(); at += block) {
        if (!FastaScannerFeed(scanner, c.input.data() + at, std::min(block, c.input.size() - at))) {
          break;
        }
      }
      EXPECT_EQ(FastaScannerFinish(scanner), c.want) << c.input << ", blocks of " << block;
    }
  }
}

// Writes `content` to a pipe from a thread, reads it back; the rest is drained afterwards.
Result ReadThroughPipe(const std::string& content) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    EXPECT_EQ(write(fds[1], content.data(), content.size()), ssize_t(content.size()));
    close(fds[1]);
  });
  FastaEntry entry;
  const FastaStatus status = ReadFastaFile(fds[0], &entry);
  for (char sink[4096]; read(fds[0], sink, sizeof sink) > 0;) {
  }
  writer.join();
  close(fds[0]);
  return {status, entry.name, entry.seq};
}

TEST(ReadFastaFile, FileAndPipeAgreeWithScanner) {
  // Several 1 MiB read blocks of letters, CR LF and digits, then an entry never read.
  std::string big = ">big\r\n", big_seq;
  for (unsigned i = 0, state = 1; i < (3u << 20); ++i) {
    state = state * 1103515245u + 12345u;
    big_seq += "ACGTNacgtn-"[(state >> 16) % 11];
    big += big_seq.back() + (i % 61 == 60 ? " 7\r\n"s : ""s);
  }
  big += "\n>second\n" + std::string(3u << 20, 'T');
  const std::string path = testing::TempDir() + "kestra_fasta_test.fa";
  for (const std::string& input : {"x>a\nAC"s, "x\n>a\r\nAC GT\n>b\n"s, big}) {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), out), input.size());
    ASSERT_EQ(std::fclose(out), 0);
    const Result want = ScanInBlocks(input, input.size());
    FastaEntry entry;
    const int fd = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(Result(ReadFastaFile(fd, &entry), entry.name, entry.seq), want);
    // Reading stops in the block that ends the entry: less than 1 MiB into the 3 MiB last one.
    EXPECT_LT(lseek(fd, 0, SEEK_CUR), off_t(big.size() - (2u << 20))) << "read on too far";
    close(fd);
    EXPECT_EQ(ReadThroughPipe(input), want);
  }
  EXPECT_EQ(ScanInBlocks(big, big.size()), Result(kOk, "big", big_seq));
  FastaEntry entry{"stale", "stale"};
  const int write_only = open(path.c_str(), O_WRONLY);
  EXPECT_EQ(Result(ReadFastaFile(write_only, &entry), entry.name, entry.seq),
            Result(FastaStatus::kReadError, "", ""));
  close(write_only);
  unlink(path.c_str());
}

}  // namespace
