#!/usr/bin/env bash
# The installed library, as a user of it builds against it: examples/library.cpp through
# pkg-config, and a CMake project through find_package(kestra) and kestra::kestra; each run on
# the bundled genome prints the masked rows of the installed command's table.
#   installed.sh DESTDIR PREFIX   (DESTDIR empty for an installation in place)
set -euo pipefail
installed=$1$2
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pcdir=$(dirname "$(find "$installed" -name kestra.pc | head -1)")
export LD_LIBRARY_PATH=$(dirname "$(find "$installed" -name 'libkestra.so.1' | head -1)")

# The masked rows of the command's table: what the example prints.
"$installed/bin/kestra" examples/lambda.fa "$work/out" --all-entries --table --no-report --quiet
awk -F'\t' 'NR > 1 && $7 == 1 { OFS = "\t"; NF = 6; print }' "$work/out.tsv" >"$work/expected"
[ -s "$work/expected" ]

# pkg-config, as the example's comment says; and find_package(kestra).
c++ -std=c++17 examples/library.cpp -o "$work/by_pkg_config" \
  $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs kestra)
mkdir "$work/project"
cp examples/library.cpp "$work/project/"
printf '%s\n' "cmake_minimum_required(VERSION 3.16)" "project(uses_kestra CXX)" \
  "find_package(kestra 1 REQUIRED)" "add_executable(by_cmake library.cpp)" \
  "target_link_libraries(by_cmake PRIVATE kestra::kestra)" >"$work/project/CMakeLists.txt"
cmake -S "$work/project" -B "$work/project/build" -DCMAKE_PREFIX_PATH="$installed" >/dev/null
cmake --build "$work/project/build" >/dev/null
# Both print the rows, with the example's optional argument or without it.
"$work/by_pkg_config" examples/lambda.fa 2 | cmp "$work/expected" -
"$work/project/build/by_cmake" examples/lambda.fa | cmp "$work/expected" -
echo "installed library: pkg-config and find_package(kestra) builds print the command's rows"
