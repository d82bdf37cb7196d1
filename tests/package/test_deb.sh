#!/usr/bin/env bash
# The Debian package as a user gets it: `make deb` builds it (reusing the release build),
# lintian finds no error in it, apt-get installs it with its dependencies; kestra, its
# manual pages and kestra-plot then work from where the package put them, and the workflow
# is there whole. `dpkg -r` must take away every file the package listed, and `dpkg --purge`
# the package itself. Root only, as it installs packages (exit status 77 for anyone else);
# it refuses to run where dpkg knows a kestra package already, and purges the one it
# installed whatever happens, so the machine is left as it was found.
set -euo pipefail
cd "$(dirname "$0")/../.."

[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: the package test runs as root only"; exit 77; }
fail() { echo "test_deb: $*" >&2; exit "${2:-1}"; }
! dpkg -s kestra >/dev/null 2>&1 || fail "dpkg knows a kestra package already; purge it first" 2
work=$(mktemp -d) && trap 'dpkg --purge kestra >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# The name is kestra_<CMake project version>_<dpkg architecture>.deb, as make deb prints it.
version=$(sed -n 's/^project(kestra VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=build/deb/kestra_${version}_$(dpkg --print-architecture).deb
make deb | tee "$work/make.log"
grep -qxF "Package: $deb" "$work/make.log" || fail "make deb did not print $deb"

lintian --fail-on error "$deb"
dpkg-deb -I "$deb" md5sums >/dev/null || fail "no md5sums in the package"
# Owned by root; directories and programs 0755, everything else 0644; all of usr/bin runs.
dpkg-deb -c "$deb" | awk '
  $2 != "root/root" || $1 !~ /^(drwxr-xr-x|-rwxr-xr-x|-rw-r--r--)$/ ||
    ($6 ~ /^\.\/usr\/bin\/./ && $1 != "-rwxr-xr-x") { print "bad owner or mode: " $0; bad = 1 }
  END { exit bad }'
# Read from the package, as dpkg may be told to drop /usr/share/doc but its copyright.
latest=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kestra/changelog.gz |
  zcat | sed -n '1s/^kestra (\([^)]*\)).*/\1/p')
[ "$latest" = "$version" ] || fail "the changelog's latest entry is for '$latest', not $version"

# Container images of Debian often tell dpkg to drop every manual page (path-exclude in
# /etc/dpkg/dpkg.cfg.d). That is the machine's choice, not the package's fault; so that
# `man` is tested all the same, this one install takes the package's own pages back in
# (a later --path-include wins), and the machine's dpkg settings are left untouched.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  -o 'DPkg::Options::=--path-include=/usr/share/man/man1/kestra*' "./$deb"

[ "$(command -v kestra)" = /usr/bin/kestra ] || fail "kestra on PATH is $(command -v kestra)"
[ "$(kestra --version)" = "kestra $version" ] || fail "kestra --version: $(kestra --version)"
for page in kestra kestra-plot; do
  [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page"
done
zcat /usr/share/man/man1/kestra.1.gz | cmp - man/kestra.1

# The installed binary writes the report the release build writes; kestra-plot draws it.
kestra examples/lambda.fa "$work/installed" >/dev/null
build/release/kestra examples/lambda.fa "$work/built" >/dev/null
cmp "$work/installed.seg" "$work/built.seg"
kestra-plot "$work/installed.seg" -o "$work/lambda.png"
[ "$(head -c 8 "$work/lambda.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "kestra-plot wrote no PNG"
# The plot's package is where Debian's Python finds it; run as a module by root, it leaves
# bytecode beside it, which removal must take away too.
[ -f /usr/lib/python3/dist-packages/kestra/plot/cli.py ] || fail "no kestra.plot in dist-packages"
help=$(cd "$work" && /usr/bin/python3 -m kestra.plot --help)
[[ $help == "usage: kestra-plot "* ]] || fail "python3 -m kestra.plot --help: $help"

# The workflow is there whole, every file as git tracks it.
git ls-files workflow | while read -r file; do cmp "$file" "/usr/share/kestra/$file"; done

# Removal leaves none of the package's files; of its directories, only those that other
# packages hold too.
dpkg -L kestra | grep -vx '/\.' >"$work/listed"
dpkg -r kestra
while read -r path; do
  [ ! -e "$path" ] || { [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; } ||
    fail "$path is left after dpkg -r"
done <"$work/listed"
dpkg --purge kestra
! dpkg -s kestra >/dev/null 2>&1 || fail "dpkg still knows kestra after --purge"
echo "test_deb: $deb passed"
