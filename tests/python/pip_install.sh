#!/usr/bin/env bash
# `pip install --no-build-isolation .` from a copy of the checkout, offline, into a virtual
# environment of Debian's Python that sees its packages (numpy, setuptools, pybind11): the
# installed package imports from outside the tree and scans, masks and reads as the command.
#   pip_install.sh [KESTRA_BIN]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
mkdir "$work/checkout" "$work/empty"
(cd "$src" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$work/checkout/")
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
PIP_NO_INDEX=1 "$work/venv/bin/python" -m pip install -q --no-build-isolation "$work/checkout"
cd "$work/empty"
"$work/venv/bin/python" - <<'PY'
import kestra, kestra.plot.cli, pathlib
assert pathlib.Path(kestra.__file__).is_relative_to(pathlib.Path(__import__("sys").prefix)), kestra.__file__
r = kestra.scan("GAAATCGCAATAAGCTCGA", mask_p=0.6)
assert r.segments["start"].tolist() == [1, 18] and r.segments["masked"].tolist() == [True, False]
assert kestra.mask("GAAATCGCAATAAGCTCGA", mask_p=0.6) == "GaaatcgcaataaGCTCGA"
print("pip install: kestra", kestra._kestra.version(), "from", pathlib.Path(kestra.__file__).parent)
PY
