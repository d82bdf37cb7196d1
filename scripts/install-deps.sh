#!/usr/bin/env bash
# Installs, when missing and only when run as root, the Debian packages that a purpose needs:
#   build   the compiler, cmake, pkg-config and the headers of isa-l, libbz2, liblzma,
#           libzstd (the decompressors of the input), zlib and htslib (enough for `make run`)
#   test    build, plus GoogleTest, faketime, util-linux's setpriv, bedtools, tabix (bgzip and
#           tabix, for the README's pipelines, the indexed outputs and the workflow), samtools
#           (faidx of the indexed outputs), groff (for the manual page), Python's matplotlib,
#           numpy and pytest (for kestra-plot), snakemake (for the workflow), the bzip2, xz
#           and zstd tools (pzstd among them, for compressed test inputs), pybind11 and
#           Python's headers (the package's compiled core), venv, setuptools, wheel and pip
#           (its pip install in a virtual environment); and the real genomes
#           the tests read, Debian's ragout-examples unpacked under bench/data/x
#   plot    Python's matplotlib and numpy, for kestra-plot
#   install build, plus help2man and Python's numpy (kestra-plot's page, made from its --help),
#           pybind11 and Python's headers (the package's compiled core)
#   deb     build, plus dpkg-dev and file (CPack's dpkg-shlibdeps step), help2man and
#           Python's matplotlib and numpy (kestra-plot's page, made from its --help),
#           lintian (to check the package) and man-db (its test looks the pages up with man)
#   fuzz    build, plus clang and its sanitizer runtime
#   bench   build, plus Google Benchmark and gawk (the bench script sorts with asort)
#   cluster build, plus a single-node SLURM cluster with accounting (munge, slurmctld,
#           slurmd, slurm-client, slurmdbd, mariadb-server), snakemake, samtools and tabix
#           (for the workflow run on it, compressed and indexed by one route)
# A user who is not root and lacks something is told what to install.
set -euo pipefail

purpose=${1:-build}
case $purpose in
  build) packages=() ;;
  test) packages=(libgtest-dev faketime util-linux bedtools tabix samtools groff-base
                  python3-matplotlib python3-numpy python3-pytest snakemake gzip bzip2 xz-utils
                  zstd pybind11-dev python3-pybind11 python3-dev python3-venv python3-setuptools
                  python3-wheel python3-pip) ;;
  plot) packages=(python3-matplotlib python3-numpy) ;;
  install) packages=(help2man python3-numpy pybind11-dev python3-pybind11 python3-dev) ;;
  deb) packages=(dpkg-dev file help2man lintian man-db python3-matplotlib python3-numpy) ;;
  fuzz) packages=(clang libclang-rt-14-dev) ;;
  bench) packages=(libbenchmark-dev gawk) ;;
  cluster) packages=(munge slurmctld slurmd slurm-client slurmdbd mariadb-server
                     snakemake samtools tabix) ;;
  *) echo "install-deps.sh: unknown purpose '$purpose'" \
       "(build, test, plot, install, deb, fuzz, bench, cluster)" >&2
     exit 2 ;;
esac

# The build tools count as present when they work, however they were installed.
build_tools_work() {
  command -v make >/dev/null && command -v cmake >/dev/null && command -v c++ >/dev/null &&
    command -v pkg-config >/dev/null && pkg-config --exists htslib &&
    printf '#include <zlib.h>\n#include <isa-l/igzip_lib.h>\n#include <bzlib.h>\n#include <lzma.h>\n#include <zstd.h>\n#include <htslib/bgzf.h>\n' |
    c++ -E -x c++ - >/dev/null 2>&1
}

# apt-get as another process's apt-get or dpkg allows: it waits for dpkg's lock itself
# (DPkg::Lock::Timeout), but fails at once on the other locks it takes, as that of the package
# lists `apt-get update` takes; a run stopped by a lock is tried again every 10 seconds,
# 10 minutes at most in all.
lock_wait=600
apt_get() {
  local err waited=0 status
  err=$(mktemp)
  while :; do
    status=0
    LC_ALL=C apt-get -o DPkg::Lock::Timeout=$lock_wait "$@" 2>"$err" || status=$?
    if [ $status -eq 0 ] || ! grep -q '^E: Could not get lock' "$err" ||
       [ $waited -ge $lock_wait ]; then
      cat "$err" >&2
      rm -f "$err"
      return $status
    fi
    [ $waited -gt 0 ] || echo "install-deps.sh: waiting for the package manager's lock" >&2
    sleep 10
    waited=$((waited + 10))
  done
}

missing=()
build_tools_work ||
  missing+=(g++ cmake make pkg-config zlib1g-dev libisal-dev libbz2-dev liblzma-dev
            libzstd-dev libhts-dev)
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} (install them with apt-get as root)" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The genomes the tests read (and the benchmarks too), unpacked once into the tree.
if [ "$purpose" = test ]; then
  root=$(cd "$(dirname "$0")/.." && pwd)
  if [ ! -d "$root/bench/data/x/usr/share/doc/ragout" ]; then
    echo "Fetching ragout-examples into bench/data"
    mkdir -p "$root/bench/data/deb"
    (cd "$root/bench/data/deb" &&
      { apt_get download ragout-examples 2>/dev/null ||
        { apt_get update -qq && apt_get download ragout-examples; }; })
    dpkg -x "$root"/bench/data/deb/ragout-examples_*.deb "$root/bench/data/x"
  fi
fi
