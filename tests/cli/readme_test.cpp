// The README's warnings about misread switches, each row of its table run as written: the
// switches of the first column give the first line of standard error that the second column
// shows, and with --strict that line as an error and nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

struct Row {
  std::vector<std::string> switches;
  std::string words;  // what follows "Warning: "
};

// The text between the first pair of backticks of `cell`.
std::string Quoted(const std::string& cell) {
  const std::size_t open = cell.find('`');
  const std::size_t close = cell.find('`', open + 1);
  if (open == std::string::npos || close == std::string::npos) return "";
  return cell.substr(open + 1, close - open - 1);
}

// The rows of the table after the README's "<!-- warnings -->" line, up to the blank line
// that ends it.
std::vector<Row> WarningRows() {
  std::ifstream readme(KESTRA_README);
  std::vector<Row> rows;
  std::string line;
  while (std::getline(readme, line) && line != "<!-- warnings -->") {
  }
  while (std::getline(readme, line) && !line.empty()) {
    const std::size_t bar = line.find('|', 1);
    if (bar == std::string::npos) continue;
    const std::string words = Quoted(line.substr(bar + 1));
    if (words.rfind("Warning: ", 0) != 0) continue;  // the line of column names, the rule
    Row row;
    std::istringstream split(Quoted(line.substr(0, bar)));
    for (std::string s; split >> s;) row.switches.push_back(s);
    row.words = words.substr(9);
    rows.push_back(row);
  }
  return rows;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(Readme, WarningsAsPrinted) {
  const std::vector<Row> rows = WarningRows();
  ASSERT_GE(rows.size(), 9u) << "the README's table of warnings is not found whole";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.switches[0]);
    for (const bool strict : {false, true}) {
      const std::string dir = RunDirectory();
      const std::string work = dir + "/work/";
      fs::copy_file(std::string(CLI_DATA_DIR) + "/input/seq19.fa", work + "in.fa");
      std::vector<std::string> args = {"in.fa", "out"};
      args.insert(args.end(), row.switches.begin(), row.switches.end());
      if (strict) args.push_back("--strict");
      const RunResult run = RunKestra(dir, args);
      if (strict) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "ERROR: " + row.words + "\n");
        EXPECT_EQ(Listing(work), std::set<std::string>{"in.fa"});
      } else {
        EXPECT_EQ(FirstLine(run.err), "Warning: " + row.words);
      }
      fs::remove_all(dir);
    }
  }
}

}  // namespace
