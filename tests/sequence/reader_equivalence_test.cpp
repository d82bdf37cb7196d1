// The block scanner against a plain line-by-line reader of every entry, kept here as the
// reference, on thousands of generated malformed inputs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <tuple>

#include "sequence/fasta.h"

namespace {

using namespace std::string_literals;
using Result = std::tuple<FastaStatus, std::string, std::string>;  // status, name, seq

// Reads a line as fgets does with a 20000-byte buffer; false when nothing could be read.
bool GetLine(FILE* f, std::string* line) {
  line->clear();
  for (int c = 0; line->size() < kFastaLineMax && (c = getc(f)) != EOF;) {
    line->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line->empty();
}

// Drops the newline of a line read, or skips the rest of an over-long one.
void EndLine(FILE* f, std::string* line) {
  if (!line->empty() && line->back() == '\n') return line->pop_back();
  for (int c = 0; (c = getc(f)) != EOF && c != '\n';) {
  }
}

// Lines that begin with '>'; a last line that reached end of file is not examined.
int NumberOfSequences(FILE* f) {
  int count = 0;
  for (std::string line; GetLine(f, &line) && !feof(f);) {
    EndLine(f, &line);
    count += line[0] == '>';
  }
  rewind(f);
  return count;
}

// One entry: skip to '>', read the header line, keep letters and '-' up to the next '>',
// which is pushed back for the next entry. False when no '>' is left.
bool ReadFastaEntry(FILE* f, std::string* name, std::string* seq) {
  int c = 0;
  while ((c = getc(f)) != EOF && c != '>') {
  }
  if (c == EOF) return false;
  std::string line;
  GetLine(f, &line);
  EndLine(f, &line);
  name->assign(line.c_str());  // the header is a C string
  if (!name->empty() && name->back() == '\r') name->pop_back();
  seq->clear();
  while ((c = getc(f)) != EOF && c != '>') {
    if (std::isalpha(c) || c == '-') seq->push_back(static_cast<char>(c));
  }
  if (c == '>') ungetc(c, f);
  return true;
}

// Reads every counted entry; the result is the first one's, or no entry on any failure.
Result ReadEveryEntry(FILE* f) {
  const int count = NumberOfSequences(f);
  std::string name, seq, first_name, first_seq;
  for (int i = 0; i < count; ++i) {
    if (!ReadFastaEntry(f, &name, &seq)) return {FastaStatus::kNoEntry, "", ""};
    if (i == 0) first_name = name, first_seq = seq;
  }
  if (count == 0) return {FastaStatus::kNoEntry, "", ""};
  return {FastaStatus::kOk, first_name, first_seq};
}

// A line of 19997 to 20001 bytes, maybe a header, maybe ended, with a varied tail so that
// where it is cut shows.
std::string LongLine(std::mt19937& rng) {
  std::string line(19997 + rng() % 5, 'h');
  if (rng() % 2 == 0) line[0] = '>';
  for (std::size_t i = line.size() - 4; i < line.size(); ++i) line[i] = "ab\r>\0"[rng() % 5];
  return (rng() % 2 == 0 ? "\n" : "") + line + (rng() % 2 == 0 ? "\n" : "");
}

std::string RandomInput(std::mt19937& rng) {
  static const std::string kPieces[] = {
      ">"s, "\n>"s, "\n>h\n"s, "x>a"s, "\n"s, "\r\n"s, "\r"s,   "ACGT"s, "acgtN"s,   "-"s,
      "7"s, " "s,   "\t"s,     "*"s,   "."s,  "\0"s,   "\x80"s, "\xff"s, "AC>GT\n"s,
  };
  std::string input;
  for (int n = static_cast<int>(rng() % 16); n > 0; --n) {
    const unsigned kind = rng() % 40;  // a long line, one printable or high byte, or a piece
    input += kind == 0  ? LongLine(rng)
             : kind < 8 ? std::string(1, static_cast<char>(' ' + rng() % 224))
                        : kPieces[rng() % std::size(kPieces)];
  }
  return input;
}

Result ScanInRandomBlocks(const std::string& input, std::mt19937& rng) {
  FastaEntry entry;
  FastaScanner* scanner = NewFastaScanner(&entry);
  for (std::size_t at = 0, n = 0; at < input.size(); at += n) {
    n = std::min<std::size_t>(1 + rng() % 12, input.size() - at);
    if (!FastaScannerFeed(scanner, input.data() + at, n)) break;
  }
  const FastaStatus status = FastaScannerFinish(scanner);
  return {status, entry.name, entry.seq};
}

// Writes `input` to a pipe in small pieces from a thread; what is not read is drained.
Result ReadThroughPipe(const std::string& input, std::size_t piece) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    for (std::size_t at = 0; at < input.size(); at += piece) {
      const std::size_t n = std::min(piece, input.size() - at);
      EXPECT_EQ(write(fds[1], input.data() + at, n), static_cast<ssize_t>(n));
    }
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

TEST(ReadFastaFile, AgreesWithLineReaderOnGeneratedInput) {
  std::mt19937 rng(20240611);
  FILE* file = std::tmpfile();  // what the reader under test reads
  ASSERT_NE(file, nullptr);
  const int fd = fileno(file);
  int read_ok = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string input = RandomInput(rng);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    ASSERT_EQ(pwrite(fd, input.data(), input.size(), 0), static_cast<ssize_t>(input.size()));
    FILE* stream = fmemopen(input.data(), input.size(), "r");
    ASSERT_NE(stream, nullptr);
    const Result want = ReadEveryEntry(stream);
    std::fclose(stream);
    read_ok += std::get<0>(want) == FastaStatus::kOk;
    FastaEntry entry;
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    const FastaStatus status = ReadFastaFile(fd, &entry);
    EXPECT_EQ(Result(status, entry.name, entry.seq), want)
        << "file " << testing::PrintToString(input);
    EXPECT_EQ(ScanInRandomBlocks(input, rng), want) << "blocks " << testing::PrintToString(input);
    if (i % 10 == 0) {
      EXPECT_EQ(ReadThroughPipe(input, 1 + rng() % 512), want)
          << "pipe " << testing::PrintToString(input);
    }
    if (HasFailure()) break;
  }
  std::fclose(file);
  // The generator must reach both outcomes often.
  EXPECT_GT(read_ok, 1000);
  EXPECT_LT(read_ok, 4000);
}

}  // namespace
