#!/usr/bin/env bash
# Installs, when missing and only when run as root, the Debian packages that a purpose needs:
#   build   the compiler, cmake, pkg-config and the headers of isa-l, libbz2, liblzma,
#           libzstd (the decompressors of the input), zlib and htslib (enough for `make run`)
#   test    build, plus GoogleTest, faketime, util-linux's setpriv, bedtools, tabix (bgzip and
#           tabix, for the README's pipelines, the indexed outputs and the workflow), samtools
#           (faidx of the indexed outputs), groff (for the manual page), Python's matplotlib,
#           numpy and pytest (for kestra-plot), snakemake (for the workflow), the bzip2, xz
#           and zstd tools (pzstd among them, for compressed test inputs); and the real genomes
#           the tests read, Debian's ragout-examples unpacked under bench/data/x
#   plot    Python's matplotlib and numpy, for kestra-plot
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
                  zstd) ;;
  plot) packages=(python3-matplotlib python3-numpy) ;;
  deb) packages=(dpkg-dev file help2man lintian man-db python3-matplotlib python3-numpy) ;;
  fuzz) packages=(clang libclang-rt-14-dev) ;;
  bench) packages=(libbenchmark-dev gawk) ;;
  cluster) packages=(munge slurmctld slurmd slurm-client slurmdbd mariadb-server
                     snakemake samtools tabix) ;;
  *) echo "install-deps.sh: unknown purpose '$purpose'" \
       "(build, test, plot, deb, fuzz, bench, cluster)" >&2
     exit 2 ;;
esac

# The build tools count as present when they work, however they were installed.
build_tools_work() {
  command -v make >/dev/null && command -v cmake >/dev/null && command -v c++ >/dev/null &&
    command -v pkg-config >/dev/null && pkg-config --exists htslib &&
    printf '#include <zlib.h>\n#include <isa-l/igzip_lib.h>\n#include <bzlib.h>\n#include <lzma.h>\n#include <zstd.h>\n#include <htslib/bgzf.h>\n' |
    c++ -E -x c++ - >/dev/null 2>&1
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
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The genomes the tests read (and the benchmarks too), unpacked once into the tree.
if [ "$purpose" = test ]; then
  root=$(cd "$(dirname "$0")/.." && pwd)
  if [ ! -d "$root/bench/data/x/usr/share/doc/ragout" ]; then
    echo "Fetching ragout-examples into bench/data"
    mkdir -p "$root/bench/data/deb"
    (cd "$root/bench/data/deb" &&
      { apt-get download ragout-examples 2>/dev/null ||
        { apt-get update -qq && apt-get download ragout-examples; }; })
    dpkg -x "$root"/bench/data/deb/ragout-examples_*.deb "$root/bench/data/x"
  fi
fi
