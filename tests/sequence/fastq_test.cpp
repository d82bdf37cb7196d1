// FASTQ records as entries: the shapes records take, read alike from a file and from a pipe
// that delivers a byte at a time, and malformed records told by their number.
#include "sequence/fastq.h"

#include "read_support.h"

using namespace kestra;

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes
constexpr FastaStatus kOk = FastaStatus::kOk, kError = FastaStatus::kReadError,
                      kTooLong = FastaStatus::kTooLong;

// Each case is read from a file, and through pipes that deliver 1 and 7 bytes at a time.
TEST(Fastq, ShapesReadAsTheirRecords) {
  const std::string h(25000, 'h'), max(kFastaLineMax, 'h');
  const struct {
    const char* name;
    std::string input;
    std::vector<std::pair<std::string, std::string>> records;  // header, letters
  } cases[] = {
      {"one record", "@r1 first\nACGT\n+\nIIII\n", {{"r1 first", "ACGT"}}},
      {"wrapped lines", "@r\nAC\nGT\nA\n+\nII\nIII\n@s\nG\n+\nI\n", {{"r", "ACGTA"}, {"s", "G"}}},
      {"CR LF",
       "@r\r\nAC\r\nGT\r\n+\r\nIII\r\nI\r\n@s\r\nG\r\n+\r\nI\r\n",
       {{"r", "ACGT"}, {"s", "G"}}},
      {"'@', '+' qualities",
       "@r\nACGTAC\n+\nII\n@s\n+I\n@t\nA\n+\n@\n",
       {{"r", "ACGTAC"}, {"t", "A"}}},
      {"qualities like a header", "@r\nACG\n+\n@rI\n@s\nA\n+\n+\n", {{"r", "ACG"}, {"s", "A"}}},
      {"'+' line repeating the header", "@r x\nACG\n+r x\nIII\n", {{"r x", "ACG"}}},
      {"blank lines between",
       "\n \n@r\nA\n+\nI\n\n  \r\n\t\n@s\nC\n+\nI\n\n\n",
       {{"r", "A"}, {"s", "C"}}},
      {"empty sequence", "@e\n+\n@r\nA\n+\nI\n@f\n\n+\n\n", {{"e", ""}, {"r", "A"}, {"f", ""}}},
      {"empty, '+' line unended", "@r\nA\n+\nI\n@e\n+", {{"r", "A"}, {"e", ""}}},
      {"last line unended", "@r\nAC\n+\nI\nI", {{"r", "AC"}}},
      {"kept bytes counted all", "@r\nA>C@G *-9n\x80\n+\nIIIIIIIIIII\n", {{"r", "ACG-n"}}},
      {"CR counted nowhere", "@r\nA\rC\n+\nI\rI\r\n", {{"r", "AC"}}},
      {"header cut at NUL, then CR", "@ab\r\0cd\nA\n+\nI\n"s, {{"ab", "A"}}},
      {"long header cut", "@" + h + "\nA\n+\nI\n", {{max, "A"}}},
  };
  for (const auto& c : cases) {
    Entries want;
    for (const auto& [header, letters] : c.records) want.entries.emplace_back(kOk, header, letters);
    const FirstEntry first{want.entries[0], c.records.size() > 1, ""};
    ExpectEveryRead(c.input, want, &first, nullptr, c.name, {1, 7});
  }
}

// A malformed record ends the reading with a read error that names it: the records before it
// are read, none after. The first-entry reader reads the first record and looks no further
// than the start of the next.
TEST(Fastq, MalformedRecordsAreNamed) {
  const char kEndsBeforePlus[] = "ends before its '+' line";
  const char kNextBeforePlus[] = "has a line starting with '@' before its '+' line";
  const char kTooFew[] = "has fewer quality characters than sequence characters";
  const char kTooMany[] = "has more quality characters than sequence characters";
  const char kNoAt[] = "does not start with '@'";
  const struct {
    const char* name;
    std::string input;
    int good;  // records read before the bad one
    const char* wrong;
    bool first_fails;  // the first-entry reader meets it
  } cases[] = {
      {"truncated in the header", "@r1\nA\n+\nI\n@r2", 1, kEndsBeforePlus, false},
      {"truncated in the sequence", "@r1\nACGT\nAC", 0, kEndsBeforePlus, true},
      {"truncated in the qualities", "@r1\nA\n+\nI\n@r2\nACGT\n+\nII", 1, kTooFew, false},
      {"qualities too short at the end", "@r1\nACGT\n+\nIII\n", 0, kTooFew, true},
      {"too short, the next header taken", "@r1\nACGT\n+\nII\n@r2\nACGT\n+\nIIII\n", 0, kTooFew,
       true},
      {"no quality line, the next header taken", "@r1\nACGT\n+\n@r2 x\nACGT\n+\nIIII\n", 0, kTooFew,
       true},
      {"second record's qualities too short", "@r1\nA\n+\nI\n@r2\nACGT\n+\nII\n@r3\nA\n+\nI\n", 1,
       kTooFew, false},
      {"too many, on a line not led by '@'", "@r1\nACGT\n+\n@I\nIII\n", 0, kTooMany, true},
      {"qualities too long", "@r1\nA\n+\nI\n@r2\nAC\n+\nIII\n@r3\nA\n+\nI\n", 1, kTooMany, false},
      {"too long on their last line", "@r1\nAC\n+\nI\nIII\n", 0, kTooMany, true},
      {"'+' line missing", "@r1\nACGT\nIIII\n@r2\nA\n+\nI\n", 0, kNextBeforePlus, true},
      {"'+' line missing at the end", "@r1\nA\n+\nI\n@r2\nACGT\nIIII\n", 1, kEndsBeforePlus, false},
      {"garbage where a record starts", "@r1\nA\n+\nI\nxyz\n@r2\nA\n+\nI\n", 1, kNoAt, true},
      {"FASTA after blank lines", "@r1\nA\n+\nI\n\n\n>r2\nA\n", 1, kNoAt, true},
      {"garbage before the third", "@r1\nA\n+\nI\n@r2\nC\n+\nI\n;\n", 2, kNoAt, false},
  };
  for (const auto& c : cases) {
    const std::string reason = "FASTQ record " + std::to_string(c.good + 1) + ": " + c.wrong;
    const Entries read = PlainEntries(c.input);
    ASSERT_FALSE(read.entries.empty()) << c.name;
    Entries want{{}, reason};
    for (int i = 0; i < c.good; ++i)
      want.entries.emplace_back(kOk, "r" + std::to_string(i + 1), "AC"s.substr(i, 1));
    // whatever the bad record held
    want.entries.emplace_back(kError, std::get<1>(read.entries.back()),
                              std::get<2>(read.entries.back()));
    const FirstEntry first =
        c.first_fails ? FailedFirst(reason) : FirstEntry{Entry(kOk, "r1", "A"), true, ""};
    ExpectEveryRead(c.input, want, &first, nullptr, c.name, {1, 7});
  }
}

// An entry reaching the letter limit (10 here) is too long: the first of a file stops there;
// one of many keeps its letters, or lets them go at the limit and counts the rest (over the
// lines, CR, '-' and bytes that are no letters), wherever the blocks fed cut it, and ends
// where its qualities end.
TEST(Fastq, LetterLimit) {
  const std::string nine = "@r\nACGTA\nCGTA\n+\nIIIIIIIII\n",
                    ten = "@r\nACGTA\nCGTAC\n+\nIIIIIIIIII\n@s\nA\n+\nI\n";
  const std::string past = "@r\nAC GT-\r\nAC*GT9ACGTACGTACGTacgt\nA\n+\n" + std::string(20, '@') +
                           "\n" + std::string(9, '+') + "\n@s\nA\n+\nI\n";
  const auto first = ScanAs::kFirstRecord, many = ScanAs::kRecord;
  const struct {
    const char* name;
    std::string input;
    ScanAs as;
    bool drop;
    FastaStatus want;
    std::string letters;
    std::size_t count;  // letters kept or counted
  } cases[] = {
      {"9 letters", nine, first, false, kOk, "ACGTACGTA", 9},
      {"9 letters, dropping", nine, many, true, kOk, "ACGTACGTA", 9},
      {"10 letters, first of a file", ten, first, false, kTooLong, "", 0},
      {"10 letters, one of many", ten, many, false, kTooLong, "ACGTACGTAC", 10},
      {"10 letters, dropped", ten, many, true, kTooLong, "", 10},
      {"counted past the limit", past, many, true, kTooLong, "", 26},
      {"kept past the limit", past, many, false, kTooLong, "ACGT-ACGTACGTACGTACGTacgtA", 26},
  };
  for (const auto& c : cases) {
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, c.input.size()}) {
      const Scanned s = Scan(c.as, c.input, block, {10, c.drop});
      const std::string shown = c.name + ", blocks of "s + std::to_string(block) + s.problem;
      EXPECT_EQ(std::tuple(s.status, s.entry.letters, LetterCount(s.entry)),
                std::tuple(c.want, c.letters, c.count))
          << shown;
      if (c.as == many) {
        EXPECT_EQ(s.used, std::min(c.input.find("@s"), c.input.size())) << shown;
      }
    }
  }
}

// Kept qualities are one for each letter kept: those of the characters a sequence leaves out
// (blanks, digits, '*') go with them, over lines of other lengths than the sequence's, CR LF,
// and quality lines that begin with '@' or '+', wherever the blocks cut the record; a first
// record of a file keeps them as one of many does.
TEST(Fastq, KeptQualities) {
  const struct {
    const char* name;
    std::string input, letters, qualities;
  } cases[] = {
      {"one line each", "@r\nACGT\n+\nABCD\n@s\n", "ACGT", "ABCD"},
      {"lines of other lengths", "@r\nAC\nGTA\n+r\n@B\n+DE\n@s\n", "ACGTA", "@B+DE"},
      {"CR LF", "@r\r\nAC\r\nGT\r\n+\r\nAB\r\nCD\r\n", "ACGT", "ABCD"},
      {"characters left out", "@r\nA C9\nG*T-\n+\n0123\n4567\n", "ACGT-", "02467"},
      {"only left out", "@r\n 9 \n+\nABC\n", "", ""},
      {"empty", "@r\n+\n@s\n", "", ""},
  };
  LetterLimit keep;
  keep.keep_qualities = true;
  for (const auto& c : cases) {
    for (const ScanAs as : {ScanAs::kRecord, ScanAs::kFirstRecord}) {
      for (const std::size_t block : {std::size_t{1}, std::size_t{3}, c.input.size()}) {
        const Scanned s = Scan(as, c.input, block, keep);
        EXPECT_EQ(std::tuple(s.status, s.entry.letters, s.entry.qualities),
                  std::tuple(kOk, c.letters, c.qualities))
            << c.name << (as == ScanAs::kFirstRecord ? ", first" : "") << ", blocks of " << block
            << s.problem;
      }
    }
  }
}

}  // namespace
