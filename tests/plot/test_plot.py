# tools/kestra-plot: how it reads reports, the pictures it writes and how it refuses files.
#
# The reports in data/ were written by kestra from the repository root:
#   kestra examples/lambda.fa lambda                          -> lambda.seg
#   kestra tests/plot/data/three.fa three --all-entries -R:AT -> three.seg
import subprocess
import types
from pathlib import Path
from xml.etree import ElementTree

import matplotlib.image
import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools" / "kestra-plot"
DATA = Path(__file__).resolve().parent / "data"

# Compiled in memory, so that no bytecode of the tool is left beside it in tools/.
kp = types.ModuleType("kestra_plot")
exec(compile(TOOL.read_text(), str(TOOL), "exec"), kp.__dict__)


# Per FASTA entry: its name, and 1/0 per letter for in LETTERS or not; the truth the
# report's letter counts are checked against, read without the tool's own code.
def fasta_flags(path, letters):
    for block in path.read_text().split("\n>"):
        header, _, seq = block.lstrip(">").partition("\n")
        yield header.split()[0], np.array([c.upper() in letters for c in seq if c != "\n"], int)


# A hand-made report with what kestra's own runs here lack: a window-mode header, an
# estimates line, an entry of no letters, and p-values of 0 and nan.
SMALL = b"""Length=0 W=0 E=5
Special residues: A; Default frequencies

>empty

#Segments: 0

#Overall: 0 0.000000e+00 1.000000e+00 (-)
Length=19 W=10 E=5 P=0.050000
Special residues: A; Default frequencies
Estimates using 100 shuffled sequences

>x first
GAAATCGCAATAAGCTCGA

#Segments: 2
1 2 13 12 7 0.000000e+00 AAATCGCAATAA
2 19 19 1 1 nan A

#Overall: 8 0.000000e+00 5.918592e-01* (+)
"""

# Per entry: segments, first and last midpoint, smallest p and the midpoint where it is.
GOLDEN = {"lambda.seg": (ROOT / "examples/lambda.fa", "A", [(2921, 9, 48494, 2.234114e-05, 42587)]),
          "three.seg": (DATA / "three.fa", "AT", [(37, 26.5, 2397.5, 5.861978e-14, 1098),
                        (38, 2.5, 884, 3.354243e-01, 553), (6, 19, 213, 1.670099e-03, 213)])}


@pytest.mark.parametrize("name", GOLDEN)
def test_entries_match_the_fasta_and_the_segments_the_report_lists(name):
    fasta, letters, segments = GOLDEN[name]
    with open(DATA / name, "rb") as stream:
        entries = list(kp.parse_report(stream))
    # The letters counted must match both the FASTA and the count on the #Overall line.
    assert [(e.name, e.length, e.counts.sum(), e.overall_special) for e in entries] == \
        [(name, len(f), f.sum(), f.sum()) for name, f in fasta_flags(fasta, letters)]
    for entry, (count, first, last, low, low_mid) in zip(entries, segments):
        assert (len(entry.pvals), entry.mids[0], entry.mids[-1]) == (count, first, last)
        assert (min(entry.pvals), entry.mids[np.argmin(entry.pvals)]) == (low, low_mid)


# ENDS: where the first and the last segment fall on the shared axis.
@pytest.mark.parametrize("name, offsets, parity, ends", [
    ("lambda.seg", [0], [0], (9, 48494)),
    ("three.seg", [0, 2400, 3300], [0, 1, 0], (26.5, 3300 + 213)),
    (None, [0, 0], [0, 0], (7.5, 19)),  # SMALL: an entry of no letters takes no room nor colour
])
def test_entries_are_laid_end_to_end(tmp_path, name, offsets, parity, ends):
    path = tmp_path / "report.seg"
    path.write_bytes((DATA / name).read_bytes() if name else SMALL)
    genome = kp.read_genome(str(path))
    assert genome.offsets == offsets and list(genome.parity()) == parity
    assert (genome.x[0], genome.x[-1]) == ends


@pytest.mark.parametrize("name", GOLDEN)
# Small chunks make the letters' binning cross chunk ends that fall inside bins.
@pytest.mark.parametrize("target, chunk", [(1000, 1 << 20), (40, 100), (7, 100)])
def test_density_windows_tile_entries_and_count_letters(monkeypatch, name, target, chunk):
    monkeypatch.setattr(kp, "CHUNK_LETTERS", chunk)
    genome = kp.read_genome(str(DATA / name))
    lefts, widths, counts, _ = genome.windows(target)
    # From 0 to the total, each window starting where the one before ends.
    assert np.array_equal(np.append(0, lefts + widths), np.append(lefts, genome.total))
    assert set(genome.offsets) <= set(lefts)  # no window spans two entries
    flags = np.concatenate([f for _, f in fasta_flags(*GOLDEN[name][:2])])
    assert np.array_equal(counts, np.add.reduceat(flags, lefts.astype(int)))
    # None much narrower than asked: no sliver at an entry's end, whose fraction is noise.
    assert widths.min() >= min(genome.total / target, min(genome.lengths)) / 2


@pytest.mark.parametrize("threshold, hits, plain", [
    (0.05, [1e-300, 0.049], 2),  # p = 0.05 is not under it; p = 1 and 2 share a spot at 0
    (0.01, [1e-300], 2),  # 0.049 and 0.05 share a spot too
    (1.0, [1e-300, 0.049, 0.05], 1),
])
@pytest.mark.parametrize("chunk", [1 << 20, 4])
def test_points_split_at_threshold_and_thin(monkeypatch, threshold, hits, plain, chunk):
    monkeypatch.setattr(kp, "CHUNK_POINTS", chunk)
    entry, genome = kp.Entry("e", 1000, "A"), kp.Genome()
    entry.mids.extend([10, 20, 150, 150, 150, 160, 400, 500, 700])
    entry.pvals.extend([0.0, 1e-300, 0.049, 0.05, 1.0, 2.0, np.nan, np.inf, -1.0])
    genome.add(entry)
    points = kp.points_to_draw(genome, threshold, (10, 4))  # spots 100 positions wide
    assert list(points.zero_x) == [10]  # p = 0 has no height: drawn apart, not as a hit
    assert list(10.0 ** -points.hits[1]) == pytest.approx(hits, rel=1e-12)
    assert sum(len(x) for x, _ in points.plain) == plain
    assert points.count == 6 and points.top == pytest.approx(300)  # nan, inf, -1 not drawn


@pytest.mark.parametrize("report, name, size, dpi, width, height", [
    ("three.seg", "plot.png", "4x3", 50, 200, 150),
    ("lambda.seg", "plot.png", "6.5x2", 80, 520, 160),
    ("three.seg", "plot.svg", "5x2.5", 72, "360pt", "180pt"),
])
def test_pictures_have_the_asked_size_and_content(tmp_path, report, name, size, dpi, width, height):
    out = tmp_path / name
    assert kp.main([str(DATA / report), "-o", str(out), "--size", size, "--dpi", str(dpi)]) == 0
    if out.suffix == ".png":
        pixels = matplotlib.image.imread(out)
        assert pixels.shape[:2] == (height, width)
        assert len(np.unique(pixels.reshape(-1, pixels.shape[-1]), axis=0)) > 20  # not blank
    else:
        svg = ElementTree.parse(out).getroot()
        assert (svg.get("width"), svg.get("height")) == (width, height)
        # The many segments are one embedded image; axes, bars and text are paths.
        tags = [element.tag.rsplit("}", 1)[-1] for element in svg.iter()]
        assert "image" in tags and tags.count("path") > 50


# Run as a command, so that a traceback or a partial picture would show.
@pytest.mark.parametrize("content, message", [
    (b"hello\nworld\n", "not a kestra report (line 1)"),
    (SMALL[:SMALL.index(b"00e+00 AAATC")], "truncated report (line 17 is cut short)"),
    (SMALL[:SMALL.index(b"2 19 19")], "truncated report (no #Overall line after line 17)"),
    (SMALL + b"trailing\n", "malformed report (line 21: expected a Length= line)"),
    (None, "No such file or directory"),
])
def test_bad_input_gets_one_line_and_status_1(tmp_path, content, message):
    path, out = tmp_path / "report.seg", tmp_path / "out.png"
    if content is not None:
        path.write_bytes(content)
    run = subprocess.run([str(TOOL), str(path), "-o", str(out)], capture_output=True, text=True)
    assert (run.returncode, run.stdout, run.stderr) == (1, "", f"kestra-plot: {path}: {message}\n")
    assert not out.exists()
