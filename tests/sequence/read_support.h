// What the reader tests share: inputs as files and as pipes fed in pieces, compressed by the
// command-line tools, and every entry that a reader gives with the reason of its failure.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "sequence/fasta.h"
#include "sequence/fastq.h"

namespace kestra {

using Entry = std::tuple<FastaStatus, std::string, std::string>;  // status, header, letters

// What a reader gave: its entries in order, and the reason of a read error; and the letters
// of each entry kept or counted, which == leaves out.
struct Entries {
  std::vector<Entry> entries;
  std::string reason;
  std::vector<std::size_t> counts = {};
};

inline bool operator==(const Entries& a, const Entries& b) {
  return a.entries == b.entries && a.reason == b.reason;
}

inline void PrintTo(const Entries& e, std::ostream* os) {
  *os << e.entries.size() << " entries";
  if (!e.entries.empty()) *os << ", the last " << testing::PrintToString(e.entries.back());
  if (!e.reason.empty()) *os << ", reason \"" << e.reason << "\"";
}

// The entries of `part` after those of *to (their counts left out), and its reason.
inline void Append(Entries* to, const Entries& part) {
  to->entries.insert(to->entries.end(), part.entries.begin(), part.entries.end());
  to->reason += part.reason;
}

// Every entry a reader gives, and its progress then (when asked); it is closed.
inline Entries AllEntries(FastaReader* reader, std::size_t* done = nullptr,
                          std::size_t* total = nullptr) {
  Entries read;
  FastaEntry entry;
  for (FastaStatus status; NextFastaEntry(reader, &entry, &status);) {
    read.entries.emplace_back(status, entry.header, entry.letters);
    read.counts.push_back(LetterCount(entry));
    if (status == FastaStatus::kReadError) read.reason = FastaReaderProblem(reader).reason;
  }
  if (done != nullptr) FastaReaderProgress(reader, done, total);
  CloseFastaReader(reader);
  return read;
}

// Every entry of the input at fd, read as a stream.
inline Entries ReadAll(int fd) { return AllEntries(OpenFastaReader(fd)); }

// The entries of the N parts of a file, one after another; *holding counts the parts that
// hold an entry.
inline Entries EveryPartJoined(int fd, int count, const ParallelLoop* loop = nullptr,
                               int* holding = nullptr) {
  Entries joined;
  for (int i = 1; i <= count; ++i) {
    // A part read from the start reads from the file's offset.
    EXPECT_EQ(lseek(fd, 0, SEEK_SET), 0);
    const Entries part = AllEntries(OpenFastaPart(fd, i, count, loop));
    Append(&joined, part);
    if (holding != nullptr) *holding += !part.entries.empty();
  }
  return joined;
}

// The first entry, whether more follow, and the reason of a read error.
using FirstEntry = std::tuple<Entry, bool, std::string>;

// What the first-entry reader gives on a read error for `reason`.
inline FirstEntry FailedFirst(const std::string& reason) {
  return {Entry(FastaStatus::kReadError, "", ""), false, reason};
}

// The first entry, its blocks inflated through `loop` when it is BGZF.
inline FirstEntry ReadFirstEntry(int fd, const ParallelLoop* loop = nullptr) {
  FastaEntry entry{"stale", "stale"};
  ReadProblem problem{"stale"};
  bool more = false;
  const FastaStatus status = ReadFastaFile(fd, &entry, &more, &problem, loop);
  return {Entry(status, entry.header, entry.letters), more, problem.reason};
}

// A file that holds `bytes`, open for reading from its start; it goes when closed.
inline FILE* FileWith(const std::string& bytes) {
  FILE* file = std::tmpfile();
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fflush(file);
  std::rewind(file);
  return file;
}

// What `read` makes of a file that holds `bytes`.
template <class Read>
auto FromFile(const std::string& bytes, Read read) {
  FILE* file = FileWith(bytes);
  const auto result = read(fileno(file));
  std::fclose(file);
  return result;
}

// What `read` makes of the read end of a pipe that a thread feeds with `bytes`, `piece` bytes
// at a time; what it leaves is drained. With `waited_out`, the writer keeps the pipe open
// until the read is done, 20 s at most, and tells whether it gave up waiting.
template <class Read>
auto ThroughPipe(const std::string& bytes, std::size_t piece, Read read,
                 bool* waited_out = nullptr) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::promise<void> read_done;
  std::thread writer([&, done = read_done.get_future()] {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::size_t n = std::min(piece, bytes.size() - at);
      if (write(fds[1], bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
    }
    if (waited_out != nullptr) {
      *waited_out = done.wait_for(std::chrono::seconds(20)) == std::future_status::timeout;
    }
    close(fds[1]);
  });
  const auto result = read(fds[0]);
  read_done.set_value();
  for (char sink[4096]; ::read(fds[0], sink, sizeof sink) > 0;) {
  }
  writer.join();
  close(fds[0]);
  return result;
}

// The entries of `text` read from a plain file, and its first entry.
inline Entries PlainEntries(const std::string& text) { return FromFile(text, ReadAll); }
inline FirstEntry PlainFirstEntry(const std::string& text) {
  return FromFile(text, [](int fd) { return ReadFirstEntry(fd); });
}

// What a read must give: its entries; or, when `want` holds a reason alone, a read error
// for that reason after whichever entries.
inline bool ReadsAs(const Entries& got, const Entries& want) {
  return !want.entries.empty() || want.reason.empty() ? got == want : got.reason == want.reason;
}

// Every way of reading `bytes` gives `want` (see ReadsAs), and *first for the first entry
// (when given): from a file, and through a pipe in pieces of each size, BGZF blocks inflated
// through `loop`.
inline void ExpectEveryRead(const std::string& bytes, std::vector<std::size_t> pieces,
                            const Entries& want, const FirstEntry* first = nullptr,
                            const ParallelLoop* loop = nullptr) {
  auto all = [loop](int fd) { return AllEntries(OpenFastaReader(fd, loop)); };
  auto one = [loop](int fd) { return ReadFirstEntry(fd, loop); };
  pieces.insert(pieces.begin(), 0);  // 0: from a file
  for (const std::size_t piece : pieces) {
    SCOPED_TRACE(piece == 0 ? "from a file"
                            : "through a pipe in pieces of " + std::to_string(piece));
    auto read = [&](auto how) {
      return piece == 0 ? FromFile(bytes, how) : ThroughPipe(bytes, piece, how);
    };
    EXPECT_PRED2(ReadsAs, read(all), want);
    if (first != nullptr) {
      EXPECT_EQ(read(one), *first);
    }
  }
}

// Every way of reading `bytes` (as above) gives the entries of the plain `text`; or, when
// there is a `reason`, a read error for it, the first-entry reader's included.
inline void ExpectTextOrFailure(const std::string& bytes, std::vector<std::size_t> pieces,
                                const std::string& text, const std::string& reason,
                                const ParallelLoop* loop = nullptr) {
  const FirstEntry first = reason.empty() ? PlainFirstEntry(text) : FailedFirst(reason);
  ExpectEveryRead(bytes, pieces, reason.empty() ? PlainEntries(text) : Entries{{}, reason}, &first,
                  loop);
}

// n letters drawn from `alphabet`.
inline std::string Letters(std::mt19937& rng, std::size_t n, const char* alphabet) {
  std::string s;
  const std::size_t k = std::char_traits<char>::length(alphabet);
  for (std::size_t i = 0; i < n; ++i) s += alphabet[rng() % k];
  return s;
}

// The text in lines of `width`, each ended by `end`.
inline std::string Lines(const std::string& text, std::size_t width,
                         const std::string& end = "\n") {
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += width) out += text.substr(i, width) + end;
  return out;
}

// FASTA with text before its first entry, small entries, one of `long_letters` in CR LF lines
// (more than the MiB that text is handed out in, when it is given), an empty one, and a last
// line without its newline.
inline std::string SomeFasta(std::size_t long_letters) {
  std::mt19937 rng(7);
  std::string text = "text before the first entry\n";
  for (int i = 0; i < 6; ++i) {
    text += ">small " + std::to_string(i) + "\n" + Lines(Letters(rng, 100 + 997 * i, "ACGTN"), 60);
  }
  text += ">long\r\n" + Lines(Letters(rng, long_letters, "ACGT"), 70, "\r\n");
  return text + ">empty\n>last\nACGTACGT";
}

// The bytes of the file `name` under tests/sequence/data.
inline std::string DataFile(const std::string& name) {
  std::ifstream in(KESTRA_SEQUENCE_DATA "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), {}};
}

// FASTQ of the same shapes after a blank line: wrapped sequence and quality lines, qualities
// that start lines with '@' and '+', blank lines between records, an empty record, and a last
// line without its newline.
inline std::string SomeFastq(std::size_t long_letters) {
  std::mt19937 rng(11);
  std::string text = "\n";
  auto record = [&](const std::string& name, const std::string& letters, std::size_t width) {
    const std::string qualities = Letters(rng, letters.size(), "@+!#ABCDEFGHIJ");
    text += "@" + name + "\n" + Lines(letters, width) + "+\n" + Lines(qualities, width);
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

// The bytes with the one at `at` changed.
inline std::string Flipped(std::string bytes, std::size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
  return bytes;
}

// Feeds `input` to feed(data, n) `block` bytes at a time until it returns false.
template <class Feed>
void FeedInBlocks(const std::string& input, std::size_t block, Feed feed) {
  for (std::size_t at = 0; at < input.size(); at += block) {
    if (!feed(&input[at], std::min(block, input.size() - at))) break;
  }
}

// What a scanner made of an input fed to it in blocks: its outcome, the entry, the bytes it
// used, and the problem it told (FASTQ).
struct Scanned {
  FastaStatus status;
  FastaEntry entry;
  std::size_t used = 0;
  std::string problem;
};

// A FASTA entry read alone, the first FASTA entry of a file, a FASTQ record, or a FASTQ record
// that is the first of a file.
enum class ScanAs { kEntry, kFirstEntry, kRecord, kFirstRecord };

// `input` fed `block` bytes at a time to a scanner of the kind, to an entry that was stale.
inline Scanned Scan(ScanAs as, const std::string& input, std::size_t block, LetterLimit limit) {
  Scanned s{FastaStatus::kOk, {"stale", "stale", 3, "stale"}, 0, ""};
  FastaScanner* entry = as == ScanAs::kEntry        ? NewEntryScanner(&s.entry, limit)
                        : as == ScanAs::kFirstEntry ? NewFastaScanner(&s.entry, limit.max_letters)
                                                    : nullptr;
  FastqScanner* record =
      entry ? nullptr : NewFastqScanner(&s.entry, 1, true, as == ScanAs::kFirstRecord, limit);
  FeedInBlocks(input, block, [&](const char* data, std::size_t n) {
    const bool more = entry ? FastaScannerFeed(entry, data, n) : FastqScannerFeed(record, data, n);
    s.used += entry ? FastaScannerUsed(entry) : FastqScannerUsed(record);
    return more;
  });
  s.status = entry ? FastaScannerFinish(entry) : FastqScannerFinish(record, &s.problem);
  return s;
}

// `text` through a command that compresses its standard input to its standard output.
inline std::string Compressed(const std::string& text, const std::string& command) {
  FILE* in = FileWith(text);  // read by the command as /dev/fd/N
  FILE* out = popen((command + " < /dev/fd/" + std::to_string(fileno(in))).c_str(), "r");
  std::string packed;
  for (char buf[65536]; const std::size_t n = std::fread(buf, 1, sizeof buf, out);) {
    packed.append(buf, n);
  }
  EXPECT_EQ(pclose(out), 0) << command;
  std::fclose(in);
  return packed;
}

}  // namespace kestra
