#!/usr/bin/env bash
# The README's "From C++" program, as written, built against the build tree's library and run
# from the top of the checkout: it must end well and print the masked copy it shows.
#   readme.sh INCLUDE_DIR LIBRARY_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '/^<!-- cpp-example -->$/ { on = 1; next } on && /^```/ { if (inside) exit; inside = 1; next }
     inside' "$root/README.md" >"$work/example.cpp"
c++ -std=c++17 "$work/example.cpp" -I"$1" -L"$2" -lkestra -Wl,-rpath,"$2" -o "$work/example"
cd "$root"
"$work/example" >"$work/out"
grep -qx 'GaaatcgcaataaGCTCGA' "$work/out"
grep -q '^gi|9626243|ref|NC_001416.1|: [0-9]* segments$' "$work/out"
