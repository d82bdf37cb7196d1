// The block reader against a plain line-by-line reader of every entry, kept here as the
// reference, on thousands of generated malformed inputs; hand cases for the rules both share.
#include "sequence/fasta.h"

#include <cctype>
#include <cstring>
#include <iterator>

#include "fasta_check.h"
#include "read_support.h"

using namespace kestra;

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes
constexpr FastaStatus kOk = FastaStatus::kOk, kNone = FastaStatus::kNoEntry,
                      kTooLong = FastaStatus::kTooLong;

// Reads a line as fgets does with a 20000-byte buffer, then skips the rest of an over-long
// one. False when nothing could be read or, with `eof_ends`, when the read reached end of file.
bool ReadLine(FILE* f, std::string* line, bool eof_ends) {
  line->clear();
  for (int c = 0; line->size() < kFastaLineMax && (c = getc(f)) != EOF;) {
    line->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (line->empty() || (eof_ends && feof(f))) return false;
  if (line->back() == '\n') return line->pop_back(), true;
  for (int c = 0; (c = getc(f)) != EOF && c != '\n';) {
  }
  return true;
}

// One entry: skip to '>', read the header line, keep letters and '-' up to the next '>',
// which is pushed back for the next entry. False when no '>' is left.
bool ReadFastaEntry(FILE* f, std::string* name, std::string* seq) {
  int c = 0;
  while ((c = getc(f)) != EOF && c != '>') {
  }
  if (c == EOF) return false;
  ReadLine(f, name, false);
  name->resize(std::strlen(name->c_str()));  // the header is a C string
  if (!name->empty() && name->back() == '\r') name->pop_back();
  for (seq->clear(); (c = getc(f)) != EOF && c != '>';) {
    if (std::isalpha(c) || c == '-') seq->push_back(static_cast<char>(c));
  }
  if (c == '>') ungetc(c, f);
  return true;
}

// Reads every counted entry; the result is the first one's, or no entry on any failure.
Entry ReadEveryEntry(const std::string& input) {
  FILE* f = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  int count = 0;  // lines that begin with '>'; a last line reaching end of file is not examined
  for (std::string line; ReadLine(f, &line, true);) count += line[0] == '>';
  rewind(f);
  std::string name, seq, first_name, first_seq;
  bool ok = count > 0;
  for (int i = 0; ok && i < count; ++i) {
    ok = ReadFastaEntry(f, &name, &seq);
    if (i == 0) first_name = name, first_seq = seq;
  }
  std::fclose(f);
  return ok ? Entry(kOk, first_name, first_seq) : Entry(kNone, "", "");
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

// Text whose first byte that is not blank is '@' is FASTQ to the reader, not FASTA.
bool ReadAsFastq(const std::string& input) {
  const std::size_t text = input.find_first_not_of(" \t\r\n");
  return text != std::string::npos && input[text] == '@';
}

Entry ScanInBlocks(const std::string& input, std::size_t block, std::mt19937* rng = nullptr) {
  const FastaResult r = ScanBytes(reinterpret_cast<const uint8_t*>(input.data()), input.size(),
                                  block, kFastaMaxLetters, rng);
  return {r.status, r.entry.header, r.entry.letters};
}

// The first entry read from fd.
Entry FirstOf(int fd) { return std::get<0>(ReadFirstEntry(fd)); }

TEST(ReadFastaFile, AgreesWithLineReaderOnGeneratedInput) {
  std::mt19937 rng(20240611);
  int read_ok = 0;
  for (int i = 0; i < 5000 && !HasFailure(); ++i) {
    const std::string input = RandomInput(rng), shown = testing::PrintToString(input);
    const Entry want = ReadEveryEntry(input);
    read_ok += std::get<0>(want) == kOk;
    EXPECT_EQ(ScanInBlocks(input, 12, &rng), want) << "blocks " << shown;
    if (ReadAsFastq(input)) continue;
    EXPECT_EQ(FromFile(input, FirstOf), want) << "file " << shown;
    if (i % 10 != 0) continue;
    EXPECT_EQ(ThroughPipe(input, 1 + rng() % 512, FirstOf), want) << "pipe " << shown;
  }
  EXPECT_GT(read_ok, 1000);  // the generator must reach both outcomes often
  EXPECT_LT(read_ok, 4000);
}

// A plain file read a stretch at a time gives every entry once, in order, as the whole
// stream gives them, wherever the stretches are cut: inside headers, inside lines whose '>'
// starts an entry, between CR and LF, before the first entry.
TEST(FastaReader, StretchesGiveEveryEntryOnce) {
  std::mt19937 rng(31);
  for (int i = 0; i < 2000 && !HasFailure(); ++i) {
    std::string input = RandomInput(rng) + RandomInput(rng);
    if (i % 5 == 0) input = "junk\n" + input;
    if (ReadAsFastq(input)) continue;
    FromFile(input, [&](int fd) {
      const Entries want = ReadAll(fd);
      uint64_t size = 0;
      EXPECT_TRUE(IsPlainFile(fd, &size));
      std::vector<uint64_t> random = {0}, every;
      for (uint64_t at = 0; (at += 1 + rng() % 40) < size;) random.push_back(at);
      random.push_back(size + rng() % 3);
      for (uint64_t at = 0; at <= size && size < 120; ++at) every.push_back(at);
      for (const auto& cuts : {std::vector<uint64_t>{0, size}, random, every}) {
        if (cuts.size() < 2) continue;
        Entries stretches;  // every entry, read from the stretches between the cuts
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
          Append(&stretches, AllEntries(OpenFastaRange(fd, cuts[k], cuts[k + 1])));
        }
        EXPECT_EQ(stretches, want) << testing::PrintToString(input) << " in " << cuts.size() - 1;
      }
      return 0;  // the checks are made above
    });
  }
}

// Rules the reference shares with the first-entry scanner by construction, pinned by hand.
// An entry that reaches the letter limit (10 here) is too long however its letters arrive:
// the first of a file (FASTA or FASTQ) stops there, its header and letters cleared; one read
// alone keeps its letters, or lets them go at the limit and counts the rest (over lines, CR,
// '-' and bytes that are no letters, sixteen at a time or fewer), wherever the blocks fed cut
// it; either way it ends at the next entry's '>', or where its qualities end.
TEST(EntryScanner, HandCasesAndLetterLimitWhateverTheBlocks) {
  const std::string h(25000, 'h'), max(kFastaLineMax, 'h'), ten = ">a\nACGTA\nCGTAC\n>b\n";
  const std::string mixed = ">a x\nAC GT-\r\nACGT*acgt9ACGTACGTacgtACGT-!\nNN\n>b\nAC\n";
  const std::string nine_q = "@r\nACGTA\nCGTA\n+\nIIIIIIIII\n",
                    ten_q = "@r\nACGTA\nCGTAC\n+\nIIIIIIIIII\n@s\nA\n+\nI\n";
  const std::string past_q = "@r\nAC GT-\r\nAC*GT9ACGTACGTACGTacgt\nA\n+\n" + std::string(20, '@') +
                             "\n" + std::string(9, '+') + "\n@s\nA\n+\nI\n";
  // A FASTA entry alone, a first FASTA entry, a FASTQ record, a FASTQ record first of a file.
  const auto fa = ScanAs::kEntry, fa1 = ScanAs::kFirstEntry, fq = ScanAs::kRecord,
             fq1 = ScanAs::kFirstRecord;
  const Entry too_long(kTooLong, "", "");
  // name, input, read as, letters dropped, the entry, its letters kept or counted
  const std::tuple<const char*, std::string, ScanAs, bool, Entry, std::size_t> cases[] = {
      {"one CR removed", ">x\r\r\nA\n", fa1, false, {kOk, "x\r", "A"}, 1},
      {"header cut at NUL, then CR", ">ab\r\0cd\nAC\n"s, fa1, false, {kOk, "ab", "AC"}, 2},
      {"kept bytes", ">x\n1 A*C.\0G\x80-\xffT\n"s, fa1, false, {kOk, "x", "ACG-T"}, 5},
      {"entry starts at '>' mid-line", "xx>abc\nAC\n>b\n", fa1, false, {kOk, "abc", "AC"}, 2},
      {"long header", ">" + h + ">AC\nGT\n", fa1, false, {kOk, max, "GT"}, 2},
      {"19999-byte last line read", ">" + max.substr(1), fa1, false, {kOk, max.substr(1), ""}, 0},
      {"19998-byte last line unread", ">" + max.substr(2), fa1, false, {kNone, "", ""}, 0},
      {"first, 9 letters", ">a\nACGTACGTA\n>b\n", fa1, false, {kOk, "a", "ACGTACGTA"}, 9},
      {"first, 10 letters over lines", ten, fa1, false, too_long, 0},
      {"first, 10 among others, unended", ">a\nAC GT\r\nAC*GT9AC", fa1, false, too_long, 0},
      {"9 letters", ">a\nACGTA\nCGTA\n>b\n", fa, true, {kOk, "a", "ACGTACGTA"}, 9},
      {"10 letters kept", ten, fa, false, {kTooLong, "a", "ACGTACGTAC"}, 10},
      {"10 letters dropped", ten, fa, true, {kTooLong, "a", ""}, 10},
      {"counted past", mixed, fa, true, {kTooLong, "a x", ""}, 32},
      {"kept past", mixed, fa, false, {kTooLong, "a x", "ACGT-ACGTacgtACGTACGTacgtACGT-NN"}, 32},
      {"to the end", ">a\n" + std::string(40, 'A') + "\nAC", fa, true, {kTooLong, "a", ""}, 42},
      {"FASTQ, 9 letters", nine_q, fq1, false, {kOk, "r", "ACGTACGTA"}, 9},
      {"FASTQ, 9 letters, dropping", nine_q, fq, true, {kOk, "r", "ACGTACGTA"}, 9},
      {"FASTQ, 10 letters, first of a file", ten_q, fq1, false, too_long, 0},
      {"FASTQ, 10 letters, one of many", ten_q, fq, false, {kTooLong, "r", "ACGTACGTAC"}, 10},
      {"FASTQ, 10 letters, dropped", ten_q, fq, true, {kTooLong, "r", ""}, 10},
      {"FASTQ, counted past", past_q, fq, true, {kTooLong, "r", ""}, 26},
      {"FASTQ, kept past", past_q, fq, false, {kTooLong, "r", "ACGT-ACGTACGTACGTACGTacgtA"}, 26},
  };
  for (const auto& [name, input, as, drop, want, count] : cases) {
    const std::size_t end = std::min(input.find(as == fa ? ">b" : "@s"), input.size());
    for (std::size_t block = 1; block <= input.size() + 1; block += block < 20 ? 1 : 17) {
      const Scanned s = Scan(as, input, block, {10, drop});
      const std::string shown = name + ", blocks of "s + std::to_string(block) + s.problem;
      EXPECT_EQ(std::tuple(Entry(s.status, s.entry.header, s.entry.letters), LetterCount(s.entry)),
                std::tuple(want, count))
          << shown;
      if (as == fa || as == fq) {
        EXPECT_EQ(s.used, end) << shown;
      }
    }
  }
}

// Entries over several 1 MiB read blocks, of letters, CR LF and digits, read alike from a
// scanner, a file and a pipe; the file is read no further than the block that ends the entry.
TEST(ReadFastaFile, BigEntryReadAlikeAndNoFurther) {
  std::string big = ">big\r\n", big_seq;
  for (unsigned i = 0, state = 1; i < (3u << 20); ++i) {
    state = state * 1103515245u + 12345u;
    big_seq += "ACGTNacgtn-"[(state >> 16) % 11];
    big += big_seq.back() + (i % 61 == 60 ? " 7\r\n"s : ""s);
  }
  big += "\n>second\n" + std::string(3u << 20, 'T');
  const Entry want(kOk, "big", big_seq);
  EXPECT_EQ(ScanInBlocks(big, big.size()), want);
  EXPECT_EQ(ThroughPipe(big, 1 << 16, FirstOf), want);
  const off_t read_to = FromFile(big, [&](int fd) {
    EXPECT_EQ(FirstOf(fd), want);
    return lseek(fd, 0, SEEK_CUR);
  });
  EXPECT_LT(read_to, off_t(big.size() - (2u << 20))) << "read too far";
}

}  // namespace
