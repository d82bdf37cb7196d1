# tools/kestra-plot: how it reads reports, the pictures it writes and how it refuses files
# and arguments.
#
# The reports in data/ were written by kestra from the repository root:
#   kestra examples/lambda.fa lambda                          -> lambda.seg
#   kestra tests/plot/data/three.fa three --all-entries -R:AT -> three.seg
import io
import os
import re
import subprocess
import types
from pathlib import Path
from xml.etree import ElementTree

import matplotlib.image
import numpy as np
import pytest
from matplotlib.figure import Figure
from matplotlib.patches import StepPatch
from matplotlib.text import Annotation

ROOT = Path(__file__).resolve().parents[2]
TOOL = ROOT / "tools" / "kestra-plot"
DATA = Path(__file__).resolve().parent / "data"
# The FASTA file and the special residues of each report in data/.
SOURCES = {"lambda.seg": (ROOT / "examples/lambda.fa", "A"), "three.seg": (DATA / "three.fa", "AT")}
# Every report kestra writes here: those above, and those of its end-to-end cases (all complete:
# the one earlier report they stage, old_report.txt, is not a .seg).
REPORTS = [DATA / name for name in SOURCES] + sorted((ROOT / "tests/cli/data/expected").glob("*.seg"))

# Compiled in memory, so that no bytecode of the tool is left beside it in tools/.
kp = types.ModuleType("kestra_plot")
exec(compile(TOOL.read_text(), str(TOOL), "exec"), kp.__dict__)


# 1/0 per letter of a FASTA file, entry after entry, for in LETTERS or not: the truth the
# report's letter counts are checked against, read without the tool's own code.
def fasta_flags(path, letters):
    seq = "".join(line for line in path.read_text().splitlines() if not line.startswith(">"))
    return np.array([c.upper() in letters for c in seq], int)


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

# Every report kestra writes must read, and draw. The truth is the report's own text, read here
# by regular expressions: the Length= values, the segment counts, kestra's own count of special
# residues on each #Overall line, and each segment's ends and p-value.
@pytest.mark.parametrize("report", REPORTS, ids=lambda path: path.name)
def test_every_report_kestra_writes_reads_and_draws(tmp_path, report):
    text = report.read_text()
    ints = lambda pattern: [int(n) for n in re.findall(pattern, text, re.M)]
    with open(report, "rb") as stream:
        entries = list(kp.parse_report(stream))
    assert [e.length for e in entries] == ints(r"^Length=(\d+) ")
    assert [len(e.pvals) for e in entries] == ints(r"^#Segments: (\d+)$")
    assert [int(e.counts.sum()) for e in entries] == [e.overall_special for e in entries] == \
        ints(r"^#Overall: (\d+) ")
    assert [(mid, p) for e in entries for mid, p in zip(e.mids, e.pvals)] == \
        [((int(start) + int(end)) / 2, float(p))
         for start, end, p in re.findall(r"^\d+ (\d+) (\d+) \d+ \d+ (\S+) ", text, re.M)]
    out = tmp_path / "plot.png"
    assert kp.main([str(report), "-o", str(out), "--size", "4.5x3", "--dpi", "40"]) == 0
    pixels = matplotlib.image.imread(out)
    assert pixels.shape[:2] == (120, 180)
    assert len(np.unique(pixels.reshape(-1, pixels.shape[-1]), axis=0)) > 20  # not blank


# ENDS: where the first and the last segment fall on the shared axis.
@pytest.mark.parametrize("name, offsets, parity, ends", [
    ("three.seg", [0, 2400, 3300], [0, 1, 0], (26.5, 3300 + 213)),
    (None, [0, 0], [0, 0], (7.5, 19)),  # SMALL: an entry of no letters takes no room nor colour
])
def test_entries_are_laid_end_to_end(tmp_path, name, offsets, parity, ends):
    path = tmp_path / "report.seg"
    path.write_bytes((DATA / name).read_bytes() if name else SMALL)
    genome = kp.read_genome(str(path))
    assert genome.offsets == offsets and list(genome.parity()) == parity
    assert (genome.x[0], genome.x[-1]) == ends


@pytest.mark.parametrize("name", SOURCES)
# Small chunks make the letters' binning cross chunk ends that fall inside bins.
@pytest.mark.parametrize("target, chunk", [(1000, 1 << 20), (40, 100), (7, 100)])
def test_density_windows_tile_entries_and_count_letters(monkeypatch, name, target, chunk):
    monkeypatch.setattr(kp, "CHUNK_LETTERS", chunk)
    genome = kp.read_genome(str(DATA / name))
    lefts, widths, counts, _ = genome.windows(target)
    # From 0 to the total, each window starting where the one before ends.
    assert np.array_equal(np.append(0, lefts + widths), np.append(lefts, genome.total))
    assert set(genome.offsets) <= set(lefts)  # no window spans two entries
    flags = fasta_flags(*SOURCES[name])
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


# A vector picture: the many segments are one embedded image; axes, bars and text are paths.
def test_svg_pictures_have_the_asked_size_and_embed_the_points(tmp_path):
    out = tmp_path / "plot.svg"
    assert kp.main([str(DATA / "three.seg"), "-o", str(out), "--size", "5x2.5", "--dpi", "72"]) == 0
    svg = ElementTree.parse(out).getroot()
    assert (svg.get("width"), svg.get("height")) == ("360pt", "180pt")
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


# Forms kestra can write that neither SMALL nor its goldens hold; each must read as SMALL does.
@pytest.mark.parametrize("old, new", [
    (b"W=10 E=5", b"W=10 E=-2"),  # window mode with a negative linkage distance
    (b"Length=0 W=0 E=5", b"Length=0 W=-3 E=-2147483648"),
    (b"Estimates using 100 shuffled", b"Estimates using 0 generated"),
    (b"Estimates using 100 shuffled", b"Estimates using -7 shuffled"),
    (b">x first", b">x\tfirst"),  # the name ends at a tab as at a space, as in BED lines
    (b"2 19 19 1 1 nan A", b"2 19 19 1 1 -nan A"),
    (b"2 19 19 1 1 nan A", b"2 19 19 1 1 inf A"),
    (b"5.918592e-01* (+)", b"-nan* (-)"),
    (b"5.918592e-01* (+)", b"inf (-)"),
])
def test_every_form_kestra_writes_reads(old, new):
    assert old in SMALL
    read = [list(kp.parse_report(io.BytesIO(report)))
            for report in (SMALL, SMALL.replace(old, new))]
    assert [[(e.name, e.length, e.counts.sum(), e.overall_special, list(e.mids)) for e in r]
            for r in read] == [[("empty", 0, 0, 0, []), ("x", 19, 8, 8, [7.5, 19.0])]] * 2


# ---------------------------------------------------------------------------------------------
# Arguments and output files: one line and status 1 for each fault, no usage dump, traceback or
# left-over file.

# ARGS follow the report, split at blanks.
@pytest.mark.parametrize("args, message", [
    ("-o out.png --colour", "unrecognized arguments: --colour"),
    ("-o out.png --dpi 0", "argument --dpi: '0' is not a positive whole number"),
    ("-o out.png --dpi ²", "argument --dpi: '²' is not a positive whole number"),  # isdigit() holds
    # 1,000,000 x 500,000 pixels; then under Agg's limit a side, but just over 2^27 in all.
    ("-o out.png --dpi 100000", "a figure of 1000000x500000 pixels (--size times --dpi) is too "
     "large: at most 65535 a side and 134,217,728 in all"),
    ("-o out.png --size 200x100 --dpi 82", "a figure of 16400x8200 pixels"),
    ("-o out.png --size 12by6", "argument --size: '12by6' is not WIDTHxHEIGHT"),
    ("-o out.png --size 2x1", "argument --size: '2x1' is smaller than the least figure, 3x2"),
    ("-o out.png --threshold 0", "argument --threshold: '0' is not a p-value"),
    ("-o out.png --threshold nan", "argument --threshold: 'nan' is not a p-value"),
    ("", "the following arguments are required: -o/--output"),
    ("-o out.xyz", "cannot tell the format of 'out.xyz' from its extension"),
])
def test_bad_arguments_get_one_line_and_status_1(tmp_path, args, message):
    run = subprocess.run([str(TOOL), str(DATA / "three.seg"), *args.split()], cwd=tmp_path,
                         capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (1, "")
    assert run.stderr.startswith(f"kestra-plot: {message}") and run.stderr.count("\n") == 1
    assert list(tmp_path.iterdir()) == []


def test_help_is_not_an_error():
    run = subprocess.run([str(TOOL), "--help"], capture_output=True, text=True)
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout.startswith("usage: kestra-plot") and "--dpi" in run.stdout


def half_written(fig, stream, **options):
    stream.write(b"\x89PNG half")
    raise RuntimeError("the disk\nwent away")


# What goes wrong while drawing or writing leaves no new or spoiled picture, nor a temporary
# file. STAGE: what out.png is before the run ("" nothing, else an earlier picture's bytes, or a
# link to /dev/full); without a TITLE, savefig fails after writing some bytes.
@pytest.mark.parametrize("stage, output, title, message", [
    ("", "out.png", r"$\frac$", "cannot draw the picture: "),  # a bad formula
    ("earlier", "out.png", r"$\frac$", "cannot draw the picture: "),
    ("", "out.png", None, "cannot draw the picture: the disk went away\n"),
    ("earlier", "out.png", None, "cannot draw the picture: the disk went away\n"),
    ("/dev/full", "out.png", "", "No space left on device"),
    ("", "missing/out.png", "", "No such file or directory"),
])
def test_drawing_and_writing_failures_leave_no_picture(tmp_path, monkeypatch, capsys, stage,
                                                       output, title, message):
    monkeypatch.chdir(tmp_path)
    if title is None:
        monkeypatch.setattr(Figure, "savefig", half_written)
    if stage == "/dev/full":
        if not os.path.exists(stage):
            pytest.skip("no /dev/full here")
        Path("out.png").symlink_to(stage)
    elif stage:
        Path("out.png").write_text(stage)
    before = sorted(tmp_path.iterdir())
    assert kp.main([str(DATA / "three.seg"), "-o", output, "--title", title or "t"]) == 1
    out, err = capsys.readouterr()
    assert out == "" and err.startswith(f"kestra-plot: {output}: {message}")
    assert err.count("\n") == 1
    assert sorted(tmp_path.iterdir()) == before
    if stage == "earlier":
        assert Path("out.png").read_text() == "earlier"


# A picture is written whole and then put in place: a new one gets the usual permissions, an
# earlier one keeps its own, and a link is followed, not replaced.
@pytest.mark.parametrize("stage, mode", [("", 0o640), ("earlier", 0o604), ("link", 0o600)])
def test_pictures_are_put_in_place(tmp_path, monkeypatch, stage, mode):
    monkeypatch.chdir(tmp_path)
    out, target = Path("out.png"), Path("real.png" if stage == "link" else "out.png")
    if stage:
        target.write_text("earlier")
        target.chmod(mode)
    if stage == "link":
        out.symlink_to(target)
    umask = os.umask(0o027)
    try:
        assert kp.main([str(DATA / "three.seg"), "-o", str(out), "--size", "4x3",
                        "--dpi", "30"]) == 0
    finally:
        os.umask(umask)
    assert out.is_symlink() == (stage == "link")
    assert target.read_bytes().startswith(b"\x89PNG")
    assert target.stat().st_mode & 0o777 == mode
    assert len(list(tmp_path.iterdir())) == (2 if stage == "link" else 1)


# ---------------------------------------------------------------------------------------------
# Many entries on one axis.

def genome_of(tmp_path, entries):
    """The genome of a report of ENTRIES, each (name, letters, segments as (start, end, p))."""
    lines = []
    for name, letters, segments in entries:
        lines += [f"Length={len(letters)} W=0 E=5", "Special residues: A; Default frequencies", "",
                  f">{name}", *(letters[i:i + 80] for i in range(0, len(letters), 80)), "",
                  f"#Segments: {len(segments)}"]
        for index, (start, end, p) in enumerate(segments, 1):
            piece = letters[start - 1:end]
            lines.append(f"{index} {start} {end} {len(piece)} {piece.count('A')} {p:e} {piece}")
        lines += ["", f"#Overall: {letters.count('A')} 0.000000e+00 5.000000e-01 (+)"]
    path = tmp_path / "report.seg"
    path.write_text("\n".join(lines) + "\n")
    return kp.read_genome(str(path))


def drawn(genome, size=(10, 5), dpi=100, threshold=0.05):
    fig = Figure(figsize=size, dpi=dpi)
    kp.draw(fig, genome, threshold)
    fig.canvas.draw()  # the layout as it is saved
    return fig


def entry_marks(fig):
    """The x extent in pixels of each entry's mark, left to right."""
    spans = []
    for patch in fig.findobj(lambda artist: artist.get_gid() == "entry-marks"):
        path = patch.get_transform().transform_path(patch.get_path())
        spans += [(poly[:, 0].min(), poly[:, 0].max()) for poly in path.to_polygons()]
    return sorted(spans)


def labels_and_table(fig):
    """The labels above the panels, the table's rows as (number, name, length, hits), and all
    the table's lines under its headings."""
    labels = [text.get_text() for text in fig.findobj(Annotation)]
    lines = [line for text in fig.findobj(lambda artist: hasattr(artist, "get_family")
                                           and "monospace" in artist.get_family())
             for line in text.get_text().splitlines()[1:]]
    rows = [re.fullmatch(r" *(\d+)  (.+?) +([\d,]+) +(\d+)", line) for line in lines]
    rows = [(int(m[1]), m[2], int(m[3].replace(",", "")), int(m[4])) for m in rows if m]
    return labels, rows, lines


def labelled(number, labels):
    """Whether a label stands for entry NUMBER by its number, alone or in a range."""
    ranges = [label.partition("–") for label in labels if label.partition("–")[0].isdigit()]
    return any(int(first) <= number <= int(last or first) for first, _, last in ranges)


CHROMOSOME = "ACGT" * 1_250_000  # 5 Mb
PLASMIDS = [2_000, 5_000, 20_000, 50_000, 100_000, 200_000]


# A chromosome and six plasmids of 2 to 200 kb: each entry named, or numbered and listed under
# the panels, its mark at least MIN_ENTRY_PX wide, and its one significant segment (at its
# middle) within its own mark.
@pytest.mark.parametrize("names", [
    ["chromosome", "pA", "pB", "pC", "pD", "pE", "pF"],
    ["NC_000913.3_chromosome"] + [f"plasmid_{kb}kb_of_a_strain_with_a_long_name" for kb in
                                  (2, 5, 20, 50, 100, 200)],
])
@pytest.mark.parametrize("size, dpi", [((10, 5), 100), ((6, 4), 72), ((14, 6), 150)])
def test_every_entry_is_named_or_listed_and_visible(tmp_path, names, size, dpi):
    entries = [(name, CHROMOSOME[:n], [(1, 10, 0.5), (n // 2 - 5, n // 2 + 5, 1e-6)])
               for name, n in zip(names, [len(CHROMOSOME)] + PLASMIDS)]
    fig = drawn(genome_of(tmp_path, entries), size, dpi)
    labels, table, _ = labels_and_table(fig)
    for number, (name, letters, _) in enumerate(entries, 1):
        if name not in labels:
            assert labelled(number, labels)
            [row] = [row for row in table if row[0] == number]
            assert row[1] == name or (row[1].endswith("…") and name.startswith(row[1][:-1]))
            assert row[2:] == (len(letters), 1)
    marks = entry_marks(fig)
    assert len(marks) == len(entries)
    assert min(right - left for left, right in marks) >= kp.MIN_ENTRY_PX
    assert all(right <= next_left + 1e-6 for (_, right), (next_left, _) in zip(marks, marks[1:]))
    [hits] = fig.findobj(lambda artist: artist.get_gid() == "hits")
    hits_x = sorted(hits.get_transform().transform(hits.get_xydata())[:, 0])
    assert all(left < x < right for x, (left, right) in zip(hits_x, marks))


# Hundreds of contigs: the labels and the table cannot hold them all, but every one is covered
# by a label, and the table lists the first ones and counts the rest.
def test_hundreds_of_entries_are_labelled_in_ranges_and_counted(tmp_path):
    rng = np.random.default_rng(7)
    lengths = rng.integers(100, 3000, 300)
    entries = [(f"contig_{i + 1}", "ACGT" * (n // 4), [(1, 4, 0.01)])
               for i, n in enumerate(lengths)]
    fig = drawn(genome_of(tmp_path, entries))
    labels, table, lines = labels_and_table(fig)
    assert all(name in labels or labelled(number, labels)
               for number, (name, _, _) in enumerate(entries, 1))
    assert [row[:3] for row in table] == [(i + 1, f"contig_{i + 1}", lengths[i] // 4 * 4)
                                          for i in range(len(table))]
    assert f"… and {300 - len(table)} more ({len(table) + 1}–300)" in lines
    assert 10 <= len(table) < 300


# plan_labels on made-up spans, with text 6 pixels a character and 4 between labels: whatever
# it does, each entry with letters is covered by exactly one label, a named one fits under its
# span, and no two labels of a row meet.
WIDE = [(0, 100), (100, 200)]
PACKED = [(0, 500)] + [(500 + 5 * i, 505 + 5 * i) for i in range(5)]
CROWD = [(0, 100)] + [(100 + i, 101 + i) for i in range(40)]
TAIL = [(0, 100)] + [(100 + 0.1 * i, 100.1 + 0.1 * i) for i in range(30)]


@pytest.mark.parametrize("spans, named, ranges", [
    (WIDE, {0, 1}, False),
    (WIDE[:1] + [None] + WIDE[1:], {0, 2}, False),  # an entry of no letters gets no label
    (PACKED, {0}, False),  # numbers, staggered over the rows
    (CROWD, {0}, True),
    (TAIL, {0}, True),  # a crowd at the end, after a name: merged leftwards
    ([(i, i + 1) for i in range(200)], set(), True),  # no name fits at all
])
def test_label_plans_cover_every_entry_once_without_overlaps(spans, named, ranges):
    names = [f"e{i}" if i % 2 else f"entry{i}" for i in range(len(spans))]
    width = lambda text: 6 * len(text)
    labels, got = kp.plan_labels(spans, names, width, 4)
    assert got == named
    covered = [i for label in labels for i in range(label.first, label.last + 1)
               if spans[i] is not None]
    assert covered == [i for i, span in enumerate(spans) if span is not None]
    for label in labels:
        if label.first in named:
            assert label.text == names[label.first] and \
                width(label.text) + 4 <= spans[label.first][1] - spans[label.first][0]
        else:
            assert label.text == (str(label.first + 1) if label.first == label.last
                                  else f"{label.first + 1}–{label.last + 1}")
    for row in range(kp.LABEL_ROWS):
        placed = sorted((label.centre - width(label.text) / 2,
                         label.centre + width(label.text) / 2)
                        for label in labels if label.row == row)
        assert all(right + 4 <= left for (_, right), (left, _) in zip(placed, placed[1:]))
    assert any(label.first != label.last for label in labels) == ranges


# The widened axis: every entry at least the floor, the others in proportion to their lengths,
# all filling the panel; positions map there and back.
@pytest.mark.parametrize("lengths, panel, floor, widened", [
    ([1000, 1000, 2000], 800, 4, False),
    ([5_000_000] + PLASMIDS, 800, 4, True),
    ([5_000_000, 2_000], 300, 4, True),
    ([10] * 300 + [1_000_000], 800, 0.5 * 800 / 301, True),  # hundreds: the floor gives way
])
def test_widened_axis_keeps_order_and_proportion(lengths, panel, floor, widened):
    genome = kp.Genome()
    for n in lengths:
        genome.add(kp.Entry("e", n, "A"))
    axis = kp.AxisMap(genome, panel)
    edges = np.append(genome.offsets, genome.total)
    pixels = np.diff(axis.pixels(edges))
    assert axis.widened == widened
    assert pixels.sum() == pytest.approx(panel) and pixels.min() >= floor * (1 - 1e-12)
    # The widened entries share the least width; the rest keep one scale.
    rest = pixels > pixels.min() * (1 + 1e-9) if widened else slice(None)
    per_letter = (pixels / lengths)[rest]
    assert per_letter.max() == pytest.approx(per_letter.min())
    x = np.linspace(-10, genome.total + 10, 1001)
    assert np.all(np.diff(axis.forward(x)) > 0)
    assert axis.inverse(axis.forward(x)) == pytest.approx(x)


# Thinning goes by the axis as drawn: on a widened plasmid, segments a few hundred letters
# apart stay apart, where on a plain axis they share one spot.
def test_points_on_a_widened_entry_stay_apart():
    genome = kp.Genome()
    chromosome, plasmid = kp.Entry("c", 1_000_000, "A"), kp.Entry("p", 2_000, "A")
    plasmid.mids.extend([100, 500, 900])
    plasmid.pvals.extend([0.5, 0.5, 0.5])
    genome.add(chromosome)
    genome.add(plasmid)
    grid = (1000, 100)  # 1002 letters a column on a plain axis
    assert len(kp.points_to_draw(genome, 0.05, grid).plain[1][0]) == 1
    # On a panel of 250 pixels the plasmid gets 4, 16 columns of 125 letters.
    axis = kp.AxisMap(genome, grid[0] / kp.THINNING)
    spots = np.sort(kp.points_to_draw(genome, 0.05, grid, axis).plain[1][0])
    assert spots - 1_000_000 == pytest.approx([100, 500, 900], abs=125)


# The density panel starts at 0 and ends a little above the densest window (which no mean
# exceeds), at 1 at most. The fractions drawn are read back from the figure.
@pytest.mark.parametrize("letters", [
    None,  # three.seg, of A+T
    "ACGT" * 50 + "AAAA" * 50,  # fractions of 1/4 and 1: no longer an axis from 1/4
    "AAAA" * 100,  # all special: the top is 1
    "CCGG" * 100,  # none: still an axis of some height
])
def test_density_axis_starts_at_zero(tmp_path, letters):
    genome = (genome_of(tmp_path, [("x", letters, [])]) if letters
              else kp.read_genome(str(DATA / "three.seg")))
    [bottom] = [ax for ax in drawn(genome).axes if "fraction" in ax.get_ylabel()]
    low, high = bottom.get_ylim()
    densest = np.nanmax(np.concatenate([patch.get_data().values
                                        for patch in bottom.findobj(StepPatch)]))
    assert low == 0 and densest <= high <= min(1.0, densest * 1.25 + 0.02)
    assert high > densest or high == 1.0
