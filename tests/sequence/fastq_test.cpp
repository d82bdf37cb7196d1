// FASTQ records as entries: the shapes records take, read alike from a file and from a pipe
// that delivers a byte at a time, and malformed records told by their number.
#include "sequence/fastq.h"

#include "read_support.h"

using namespace kestra;

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes
constexpr FastaStatus kOk = FastaStatus::kOk, kError = FastaStatus::kReadError;

// Each case is read from a file, and through pipes that deliver 1 and 7 bytes at a time.
TEST(Fastq, ShapesReadAsTheirRecords) {
  const std::string h(25000, 'h'), max(kFastaLineMax, 'h');
  // name, input, its records' headers and letters
  using Records = std::vector<std::pair<std::string, std::string>>;
  const std::tuple<const char*, std::string, Records> cases[] = {
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
  for (const auto& [name, input, records] : cases) {
    Entries want;
    for (const auto& [header, letters] : records) want.entries.emplace_back(kOk, header, letters);
    const FirstEntry first{want.entries[0], records.size() > 1, ""};
    SCOPED_TRACE(name);
    ExpectEveryRead(input, {1, 7}, want, &first);
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
  // name, input, the records read before the bad one, what is wrong with it, and whether the
  // first-entry reader meets it
  const std::tuple<const char*, std::string, int, const char*, bool> cases[] = {
      {"truncated in the header", "@r1\nA\n+\nI\n@r2", 1, kEndsBeforePlus, false},
      {"truncated in the sequence", "@r1\nACGT\nAC", 0, kEndsBeforePlus, true},
      {"truncated in the qualities", "@r1\nA\n+\nI\n@r2\nACGT\n+\nII", 1, kTooFew, false},
      {"qualities too short at the end", "@r1\nACGT\n+\nIII\n", 0, kTooFew, true},
      {"too short, next header read", "@r1\nACGT\n+\nII\n@r2\nACGT\n+\nIIII\n", 0, kTooFew, true},
      {"no qualities, next header read", "@r1\nACGT\n+\n@r2 x\nACGT\n+\nIIII\n", 0, kTooFew, true},
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
  for (const auto& [name, input, good, wrong, first_fails] : cases) {
    const std::string reason = "FASTQ record " + std::to_string(good + 1) + ": " + wrong;
    const Entries read = PlainEntries(input);
    ASSERT_FALSE(read.entries.empty()) << name;
    Entries want{{}, reason};
    for (int i = 0; i < good; ++i)
      want.entries.emplace_back(kOk, "r" + std::to_string(i + 1), "AC"s.substr(i, 1));
    // whatever the bad record held
    want.entries.emplace_back(kError, std::get<1>(read.entries.back()),
                              std::get<2>(read.entries.back()));
    const FirstEntry first =
        first_fails ? FailedFirst(reason) : FirstEntry{Entry(kOk, "r1", "A"), true, ""};
    SCOPED_TRACE(name);
    ExpectEveryRead(input, {1, 7}, want, &first);
  }
}

// Kept qualities are one for each letter kept: those of the characters a sequence leaves out
// (blanks, digits, '*') go with them, over lines of other lengths than the sequence's, CR LF,
// and quality lines that begin with '@' or '+', wherever the blocks cut the record; a first
// record of a file keeps them as one of many does.
TEST(Fastq, KeptQualities) {
  const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
      // name, input, letters, qualities
      {"one line each", "@r\nACGT\n+\nABCD\n@s\n", "ACGT", "ABCD"},
      {"lines of other lengths", "@r\nAC\nGTA\n+r\n@B\n+DE\n@s\n", "ACGTA", "@B+DE"},
      {"CR LF", "@r\r\nAC\r\nGT\r\n+\r\nAB\r\nCD\r\n", "ACGT", "ABCD"},
      {"characters left out", "@r\nA C9\nG*T-\n+\n0123\n4567\n", "ACGT-", "02467"},
      {"only left out", "@r\n 9 \n+\nABC\n", "", ""},
      {"empty", "@r\n+\n@s\n", "", ""},
  };
  LetterLimit keep;
  keep.keep_qualities = true;
  for (const auto& [name, input, letters, qualities] : cases) {
    for (const ScanAs as : {ScanAs::kRecord, ScanAs::kFirstRecord}) {
      for (const std::size_t block : {std::size_t{1}, std::size_t{3}, input.size()}) {
        const Scanned s = Scan(as, input, block, keep);
        EXPECT_EQ(std::tuple(s.status, s.entry.letters, s.entry.qualities),
                  std::tuple(kOk, letters, qualities))
            << name << (as == ScanAs::kFirstRecord ? ", first" : "") << ", blocks of " << block
            << s.problem;
      }
    }
  }
}

}  // namespace
