#!/usr/bin/env bash
# The manual page renders without a single warning, and every switch and long option that
# `kestra --help` lists appears in it.
set -euo pipefail
kestra=$1 page=$2
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { printf 'groff warns:\n%s\n' "$warnings"; exit 1; }
text=$(groff -man -Tascii "$page" 2>/dev/null | sed 's/.\x08//g')
missing=0
for option in $("$kestra" --help | grep -oE '(^|[ (])-(-[a-z][a-z-]*|[A-Z])\b' | tr -d ' ('); do
  grep -qe "$option" <<<"$text" || { echo "the manual page lacks $option"; missing=1; }
done
exit $missing
