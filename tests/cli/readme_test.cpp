// The README's warnings about misread switches, each row of its table run as written: the
// switches of the first column give the first line of standard error that the second column
// shows, and with --strict that line as an error and nothing written.
#include "harness.h"

namespace {

// The text between the first pair of backticks of `cell`.
std::string Quoted(const std::string& cell) {
  const std::size_t open = cell.find('`'), close = cell.find('`', open + 1);
  return close == std::string::npos ? "" : cell.substr(open + 1, close - open - 1);
}

TEST(Readme, WarningsAsPrinted) {
  // The rows of the table after the README's "<!-- warnings -->" line, up to the blank line
  // that ends it: the switches, and what follows "Warning: ".
  std::vector<std::pair<std::string, std::string>> rows;
  std::ifstream readme(KESTRA_README);
  std::string line;
  while (std::getline(readme, line) && line != "<!-- warnings -->") {
  }
  while (std::getline(readme, line) && !line.empty()) {
    const std::size_t bar = line.find('|', 1);
    const std::string words = bar == std::string::npos ? "" : Quoted(line.substr(bar + 1));
    // Not the line of column names, nor the rule.
    if (words.rfind("Warning: ", 0) == 0)
      rows.emplace_back(Quoted(line.substr(0, bar)), words.substr(9));
  }
  ASSERT_GE(rows.size(), 9u) << "the README's table of warnings is not found whole";
  const std::string seq19 = ReadFile(CLI_DATA_DIR "/input/seq19.fa");
  for (const auto& [switches, words] : rows) {
    SCOPED_TRACE(switches);
    const Outcome run = RunOn({{"in.fa", seq19}}, Words("in.fa out " + switches));
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "Warning: " + words);
    const Outcome strict = RunOn({{"in.fa", seq19}}, Words("in.fa out " + switches + " --strict"));
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.err, "ERROR: " + words + "\n");
    EXPECT_TRUE(strict.files.empty());
  }
}

}  // namespace
