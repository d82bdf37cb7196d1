#!/usr/bin/env bash
# Prints the lines of code of the tests, of all the code, and the share the tests make of it.
#
# All the code: the files under src, include, python, tools, workflow and tests that git
# tracks or would track (what .gitignore leaves out is not counted). The tests: those under
# tests, their CMake files, scripts and the end-to-end manifest tests/cli/data/cases.txt
# included.
#
# What counts is a line that holds something besides blanks and comments:
#   - C and C++ (.c .cc .cpp .h .hpp .def): comments are // to the end of the line and
#     /* ... */, on one line or several. A line of code with a comment after it counts; a
#     "//" or "/*" inside a string literal is taken for a comment (rare enough to ignore).
#   - shell, Python, CMake, Snakefile, YAML, the manifest cases.txt, and files that start
#     with "#!": a comment is a line whose first non-blank is '#'. A line of code with a '#'
#     comment after it counts, and so do Python docstrings.
# Other files are not code and are left out: data (inputs and golden files under tests/*/data
# but cases.txt, the fuzz corpus), documents, pictures.
# Usage: scripts/code-lines.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# Prints each file's kind, "c" or "hash", then a tab and its path; nothing for what is not code.
kinds() {
  git ls-files --cached --others --exclude-standard -- src include python tools workflow tests |
    sort -u | while IFS= read -r path; do
      [ -f "$path" ] || continue
      case $path in
        tests/cli/data/cases.txt) echo "hash	$path"; continue ;;
        tests/*/data/* | tests/fuzz/corpus/*) continue ;;
      esac
      case $path in
        *.c | *.cc | *.cpp | *.h | *.hpp | *.def) echo "c	$path" ;;
        *.sh | *.py | *.cmake | */CMakeLists.txt | *Snakefile | *.smk | *.yaml | *.yml | *.supp)
          echo "hash	$path" ;;
        *) if [ "$(head -c 2 "$path")" = "#!" ]; then echo "hash	$path"; fi ;;
      esac
    done
}

# The lines of code of the files listed on standard input ("kind<TAB>path").
count() {
  local total=0 kind path n
  while IFS=$'\t' read -r kind path; do
    if [ "$kind" = c ]; then
      n=$(awk '
        { line = $0; code = ""
          while (line != "") {
            if (block) {
              end = index(line, "*/"); if (end == 0) { line = ""; break }
              line = substr(line, end + 2); block = 0
            } else {
              open = index(line, "/*"); slash = index(line, "//")
              if (slash > 0 && (open == 0 || slash < open)) { code = code substr(line, 1, slash - 1); line = "" }
              else if (open > 0) { code = code substr(line, 1, open - 1); line = substr(line, open + 2); block = 1 }
              else { code = code line; line = "" }
            }
          }
          if (code ~ /[^ \t\r]/) n++ }
        END { print n + 0 }' "$path")
    else
      n=$(awk '/^[ \t]*#/ || !/[^ \t\r]/ { next } { n++ } END { print n + 0 }' "$path")
    fi
    total=$((total + n))
  done
  echo "$total"
}

listing=$(kinds)
tests=$(grep -P '\ttests/' <<<"$listing" | count)
all=$(count <<<"$listing")
echo "tests:    $tests lines"
echo "all code: $all lines"
awk -v t="$tests" -v a="$all" 'BEGIN { printf "ratio:    %.1f%% of all code is tests\n", a ? 100 * t / a : 0 }'
