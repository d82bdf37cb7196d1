#!/usr/bin/env bash
# Installs, when missing and only when run as root, the Debian packages that a purpose needs:
#   build   the compiler, cmake and zlib's headers (enough for `make run`)
#   test    build, plus GoogleTest, faketime, util-linux's setpriv, bedtools, groff (for the
#           manual page), Python's matplotlib, numpy and pytest (for kestra-plot), snakemake
#           and seqkit (for the workflow)
#   plot    Python's matplotlib and numpy, for kestra-plot
#   fuzz    build, plus clang and its sanitizer runtime
#   bench   build, plus Google Benchmark
# A user who is not root and lacks something is told what to install.
set -euo pipefail

purpose=${1:-build}
case $purpose in
  build) packages=() ;;
  test) packages=(libgtest-dev faketime util-linux bedtools groff-base python3-matplotlib
                  python3-numpy python3-pytest snakemake seqkit) ;;
  plot) packages=(python3-matplotlib python3-numpy) ;;
  fuzz) packages=(clang libclang-rt-14-dev) ;;
  bench) packages=(libbenchmark-dev) ;;
  *) echo "install-deps.sh: unknown purpose '$purpose' (build, test, plot, fuzz, bench)" >&2; exit 2 ;;
esac

# The build tools count as present when they work, however they were installed.
build_tools_work() {
  command -v make >/dev/null && command -v cmake >/dev/null && command -v c++ >/dev/null &&
    printf '#include <zlib.h>\n' | c++ -E -x c++ - >/dev/null 2>&1
}

missing=()
build_tools_work || missing+=(g++ cmake make zlib1g-dev)
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]} (install them with apt-get as root)" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
