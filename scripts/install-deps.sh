#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when some are missing.
set -euo pipefail

packages=(g++ cmake make libgtest-dev libbenchmark-dev zlib1g-dev faketime clang libclang-rt-14-dev)

missing=()
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
