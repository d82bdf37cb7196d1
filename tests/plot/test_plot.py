# kestra.plot (python/kestra/plot, run as tools/kestra-plot): how it reads reports, BEDs and
# segment tables, what it draws from them, and how it refuses files and arguments.
#
# The files in data/ (but three.fa, small.seg, its forms and the faults) are written by kestra
# from the repository root, the .fai files by its --index (the masked FASTA then removed);
# goldens.sh holds them to the build's:
#   kestra examples/lambda.fa lambda --bed --table --all-segments --summary -L --index
#   kestra tests/plot/data/three.fa three --all-entries -R:AT --bed --table --summary -L --index
import gzip, os, re, shutil, subprocess, sys, xml.etree.ElementTree as ElementTree
from pathlib import Path

import matplotlib.image, matplotlib.patches, matplotlib.text, numpy as np, pytest
from matplotlib.figure import Figure

ROOT, DATA = Path(__file__).resolve().parents[2], Path(__file__).resolve().parent / "data"
TOOL, EXPECTED = ROOT / "tools" / "kestra-plot", ROOT / "tests/cli/data/expected"
# The package from the checkout, as the launcher in tools/ finds it (no bytecode is left in it:
# ctest sets PYTHONDONTWRITEBYTECODE).
sys.path.insert(0, str(ROOT / "python"))
from kestra.plot import cli, drawing, layout, source, genome as genomes, reading as readers, \
    report as reports  # noqa: E402

# Every report kestra writes here: those above, and those of its end-to-end cases; then a
# hand-made one, small.seg, with what kestra's own runs here lack: a window-mode header, an
# estimates line, an entry of no letters, and p-values of 0 and nan (its lines, numbered:
# 9 Length=19, 14 the letters, 16 #Segments: 2, 17 and 18 the segments, 20 #Overall); and in
# forms/, the forms kestra can write that neither it nor the goldens hold, each small.seg with
# a line changed: a negative linkage distance (in window mode too), 0 generated or -7 shuffled
# estimates, a name that ends at a tab as in BED lines, p-values of -nan and inf.
REPORTS = [DATA / "lambda.seg", DATA / "three.seg"] + sorted(EXPECTED.glob("*.seg")) + \
    [DATA / "small.seg"] + sorted((DATA / "forms").glob("*.seg"))


# The ways the tool reads a report: whole entries a batch at a time (16 MiB or 7 bytes read at a
# time), each found by its parts as a large one is, or every entry a line at a time, as for an
# entry too large to buffer or a faulty one. Small reads double while no entry is whole.
READINGS = {"batches": [], "small reads": [(source, "READ_SIZE", 7)],
            "large entries": [(reports, "LARGE_ENTRY", -1)],
            "lines": [(reports, "BLOCK", re.compile(b"(?!)")), (reports, "CHUNK_LETTERS", 100)]}


@pytest.fixture(params=READINGS)
def reading(request, monkeypatch):
    for patch in READINGS[request.param]:
        monkeypatch.setattr(*patch)
    return request.param


def read(path, threshold=0.05, fai=None, axis="auto"):
    return readers.read_input(str(path), threshold, str(fai) if fai else None, axis)


def names_of(genome):
    return [genome.name(i) for i in range(len(genome))]


def write(tmp_path, name, text):
    (tmp_path / name).write_bytes(text.encode() if isinstance(text, str) else text)
    return tmp_path / name


# Every segment as (entry, midpoint, p or height), in a fixed order.
def segments_of(genome):
    rows = list(zip(genome.plain_entry.tolist(), genome.plain_mid.tolist(),
                    (10.0 ** -genome.plain_y.astype(float)).tolist()))
    rows += zip(genome.hit_entry.tolist(), ((genome.hit_start + genome.hit_end) / 2).tolist(),
                genome.hit_p.tolist())
    return sorted(rows, key=lambda row: (row[0], row[1], repr(row[2])))


# Every report kestra writes (small.seg and its forms too) reads the same whichever way it is
# read, as its own text says: the entries' names, the Length= values, the segment counts, each
# segment's ends and p-value, and kestra's count of special residues on each #Overall line,
# which the letters counted in bins add up to.
@pytest.mark.parametrize("report", REPORTS, ids=lambda report: report.name)
def test_every_report_reads_as_its_text_says(report, reading):
    text, genome = report.read_text(), read(report, axis="position")
    ints = lambda pattern: [int(n) for n in re.findall(pattern, text, re.M)]
    stats = layout.entry_stats(genome)
    assert names_of(genome) == [name or "(unnamed)" for name in re.findall(r"^>(\S*)", text, re.M)]
    assert (genome.lengths.tolist(), stats.segments.tolist(), genome.special.tolist()) == \
        (ints(r"^Length=(\d+) "), ints(r"^#Segments: (\d+)$"), ints(r"^#Overall: (\d+) "))
    for index, (width, counts) in genome.bins.items():
        assert counts.sum() == genome.special[index]
        assert width * len(counts) >= genome.lengths[index] >= genomes.BIN_MIN_LENGTH
    entry = np.repeat(np.arange(len(genome)), stats.segments)
    truth = sorted(((e, (int(s) + int(t)) / 2, float(p)) for e, (s, t, p) in
                    zip(entry, re.findall(r"^\d+ (\d+) (\d+) \d+ \d+ (\S+) ", text, re.M))),
                   key=lambda row: (row[0], row[1], repr(row[2])))
    got = segments_of(genome)
    assert [row[:2] for row in got] == [row[:2] for row in truth]
    assert np.allclose([row[2] for row in got], [row[2] for row in truth], rtol=1e-6,
                       equal_nan=True)  # plain ones kept as float32


# Files and arguments that are refused (data/faults.tsv), given to the command: one line and
# status 1, no usage dump, traceback, partial picture or other file left behind; the faults of
# the files also met each other way they are read.
FAULTS = [line.split("\t") for line in (DATA / "faults.tsv").read_text().splitlines()
          if not line.startswith("#")]


@pytest.mark.parametrize("reading, path, lengths, args, message", [
    (way, *row) for row in FAULTS for way in (READINGS if row[2] == "-o out.png" else ["batches"])],
    indirect=["reading"])
def test_faults_get_one_line_and_status_1(tmp_path, monkeypatch, capsys, reading, path, lengths,
                                          args, message):
    monkeypatch.chdir(tmp_path)
    name, fai = Path(path).name, None if lengths == "-" else Path(lengths).name
    for given in (DATA / path, DATA / lengths):
        given.is_file() and shutil.copy(given, tmp_path)
    before = sorted(tmp_path.iterdir())
    if reading == "batches":
        status = cli.main([name, *(["--fai", fai] if fai else []), *args.split()])
        said, error = capsys.readouterr()
        assert (status, said) == (1, "")
    else:
        with pytest.raises(source.ReportError) as caught:
            read(name, fai=fai)
        error = f"kestra-plot: {name}: {caught.value}\n"
    assert error.startswith(f"kestra-plot: {message}") and error.count("\n") == 1
    assert sorted(tmp_path.iterdir()) == before


# From the fast path's outputs: a BED with a .fai of the report's entries, and a segment table
# with the summary, give what the report gives for what they hold: the entries, their lengths,
# the segments under the threshold (a BED line each) and the letters they mask (which the
# summary counts too), and from a table of every segment, every segment. (Where two entries
# share the name the BED gives them, it says so: data/faults.tsv, the row of twice.fai.)
@pytest.mark.parametrize("report, bed, table, summary, threshold", [
    ("lambda.seg", "lambda.bed", "lambda.tsv", "lambda.summary.tsv", 0.05),
    ("three.seg", "three.bed", "three.tsv", "three.summary.tsv", 0.05),
    ("seq19_runs.seg", "seq19_masked.bed", "seq19_masked.tsv", "seq19_masked.summary.tsv", 0.6),
    ("seq19_runs.seg", None, "seq19_all_segments.tsv", "seq19_masked.summary.tsv", 0.6),
    ("no_name.seg", "no_name.bed", None, None, 0.6),
])
def test_beds_and_tables_give_what_the_report_gives(tmp_path, report, bed, table, summary,
                                                    threshold):
    found = lambda name: name and next(d / name for d in (DATA, EXPECTED) if (d / name).exists())
    report, bed, table, summary = map(found, (report, bed, table, summary))
    want = layout.entry_stats(by_report := read(report, threshold))
    names = [name if name != "(unnamed)" else "" for name in names_of(by_report)]
    fai = write(tmp_path, "lengths.fai", "".join(f"{name}\t{length}\t0\t60\t61\n" for name, length
                                                 in zip(names, by_report.lengths.tolist())))
    view = lambda g, s: (names_of(g), g.lengths.tolist(), s.hits.tolist(), s.masked.tolist())
    for path, lengths in [(p, f) for p, f in [(bed, fai), (table, summary)] if p]:  # table last
        genome = read(path, threshold, lengths)
        assert view(genome, layout.entry_stats(genome)) == view(by_report, want)
        if path == bed:
            assert len(segments_of(genome)) == len(bed.read_text().splitlines())
    if table:
        rows = [line.split("\t") for line in summary.read_text().splitlines()[1:]]
        assert want.masked.tolist() == [int(row[5]) for row in rows]
        assert genome.special.tolist() == by_report.special.tolist()
        if "all" in table.name or "lambda" in table.name:  # a table of every segment
            assert [r[:2] for r in segments_of(genome)] == [r[:2] for r in segments_of(by_report)]


# A summary gives every entry's length and special residues, a skipped entry's none: NA in its
# columns as kestra writes them, or '-' as earlier versions did.
@pytest.mark.parametrize("skipped", ["NA", "-"])
def test_a_summary_with_a_skipped_entry_gives_the_lengths(tmp_path, skipped):
    text = (EXPECTED / "bed_names.summary.tsv").read_text()
    assert "\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tskipped\n" in text
    summary = write(tmp_path, "x.summary.tsv", text.replace("\tNA", f"\t{skipped}"))
    rows = [line.split("\t") for line in text.splitlines()[1:]]
    genome = read(write(tmp_path, "x.tsv", readers.TABLE_HEADING), fai=summary)
    assert genome.lengths.tolist() == [int(row[1]) for row in rows]
    assert genome.special.tolist() == [0 if row[9] == "skipped" else int(row[3]) for row in rows]


# A run that masked nothing writes an empty BED: its entries, with no segment (drawn below).
def test_an_empty_bed_gives_its_entries(tmp_path):
    genome = read(write(tmp_path, "x.bed", ""), fai=DATA / "three.fas.fai")
    assert genome.lengths.tolist() == [2400, 900, 300] and len(segments_of(genome)) == 0


# A genome of entries of LENGTHS, with HITS and PLAIN segments as (entry, start, end, p).
def made_genome(lengths, hits=(), plain=(), names=None):
    collection = genomes.Collection(0.05, "entries")
    for name, length in zip(names or [f"e{i + 1}" for i in range(len(lengths))], lengths):
        collection.add_entry(name.encode(), length, length // 4)
    if hits or plain:
        entry, start, end, p = (np.array(column) for column in zip(*hits, *plain))
        collection.add_segments(entry, start, end, p.astype(float))
    collection.letters = "A"
    return genomes.Genome(collection)


# The letters masked per entry and per window, against a count position by position, over
# overlapping, nested and touching segments, with windows cut anywhere.
@pytest.mark.parametrize("seed", range(6))
def test_masked_letters_are_counted_once(seed):
    rng = np.random.default_rng(seed)
    lengths = rng.integers(1, 400, 5)
    hits = [(entry, start, int(rng.integers(start, min(length, start + 60) + 1)), 0.01)
            for entry, length in enumerate(lengths) for _ in range(rng.integers(0, 12))
            for start in [int(rng.integers(1, length + 1))]]
    genome = made_genome(lengths.tolist(), hits)
    flags = [np.zeros(n, bool) for n in lengths]
    for entry, start, end, _ in hits:
        flags[entry][start - 1:end] = True
    assert layout.entry_stats(genome).masked.tolist() == [int(f.sum()) for f in flags]
    cuts = np.unique(np.concatenate(([0], rng.integers(1, lengths.sum(), 9))))
    widths, whole = np.diff(np.append(cuts, lengths.sum())), np.concatenate(flags)
    assert layout.masked_in_windows(genome, cuts, widths).tolist() == \
        [int(whole[a:a + w].sum()) for a, w in zip(cuts, widths)]


# The table lists the entries with the most significant segments first, ties going to the
# longer one, then the rest longest first, and says how many more there are and how many of
# them have segments under the threshold.
def test_table_lists_the_entries_that_matter_first():
    lengths = [100, 5000, 300, 300, 9000, 20, 700]
    hits = [(2, 1, 10, 1e-3), (3, 1, 30, 1e-3), (3, 40, 50, 0.04), (6, 1, 7, 1e-9),
            (4, 5, 9, 0.049), (5, 1, 20, 0.01)]
    genome = made_genome(lengths, hits, [(0, 1, 2, 0.5), (1, 1, 2, 0.9)])
    stats = layout.entry_stats(genome)
    assert layout.table_order(genome, stats).tolist() == [6, 2, 3, 5, 4, 1, 0]
    [column] = layout.entry_table(genome, stats, 0.05, 4, 40)
    lines = column.splitlines()
    assert [line.split() for line in lines[:4]] == [["#", "entry", "bp", "p<0.05", "masked"],
        ["7", "e7", "700", "1", "1.0%"], ["3", "e3", "300", "1", "3.3%"],
        ["4", "e4", "300", "2", "13.7%"]] and lines[4] == "… and 4 more, 2 of them with p<0.05"
    assert layout.entry_table(genome, stats, 0.05, 0, 80) == \
        ["7 entries: too many to list at this size"]


def drawn(genome, size=(10, 5), dpi=100, threshold=0.05, axis="auto"):
    fig = Figure(figsize=size, dpi=dpi)
    drawing.draw(fig, genome, threshold, axis=axis)
    fig.canvas.draw()  # the layout as it is saved
    return fig


def by_gid(fig, gid):
    return fig.findobj(lambda artist: artist.get_gid() == gid)


def hits_px(fig):
    [hits] = by_gid(fig, "hits")
    return sorted(hits.get_transform().transform(hits.get_xydata())[:, 0])


# A chromosome and six plasmids along one axis of positions: the scale is linear (each
# significant segment stands where its position puts it), yet each entry's mark is at least
# MIN_MARK_PX wide and holds its segment; every entry is named or numbered above the marks.
@pytest.mark.parametrize("size, dpi", [((10, 5), 100), ((6, 4), 72), ((14, 6), 150)])
def test_entries_along_positions_keep_a_linear_scale(size, dpi):
    lengths = [5_000_000, 2_000, 5_000, 20_000, 50_000, 100_000, 200_000]
    hits = [(i, n // 2 - 5, n // 2 + 5, 1e-6) for i, n in enumerate(lengths)]
    genome = made_genome(lengths, hits, names=["chromosome", "pA", "pB", "pC", "pD", "pE", "pF"])
    fig = drawn(genome, size, dpi, axis="position")
    [top] = [ax for ax in fig.axes if ax.get_legend() is not None]
    left, right = top.transData.transform([(0, 0), (genome.total, 0)])[:, 0]
    want = [left + (o + n // 2 - 0.5) / genome.total * (right - left)
            for o, n in zip(genome.offsets.tolist(), lengths)]
    assert hits_px(fig) == pytest.approx(sorted(want), abs=0.01)
    marks = [(poly[:, 0].min(), poly[:, 0].max()) for patch in by_gid(fig, "entry-marks")
             for poly in patch.get_transform().transform_path(patch.get_path()).to_polygons()]
    assert len(marks) == len(lengths)
    assert min(b - a for a, b in marks) >= layout.MIN_MARK_PX * (1 - 1e-9)
    assert all(any(a <= x <= b for a, b in marks) for x in want)
    labels = [text.get_text() for text in fig.findobj(matplotlib.text.Annotation)]
    assert "chromosome" in labels and all(
        name in labels or any(label[:1].isdigit() for label in labels) for name in ["pA", "pF"])


# Hundreds of contigs: a slot each, longest first; each significant segment within its entry's
# slot, the ticks giving rank and length, and the table naming the entries that have them.
def test_many_entries_stand_by_length():
    rng = np.random.default_rng(7)
    lengths = rng.integers(100, 30_000, 300).tolist()
    hits = [(i, 1, 4, 10.0 ** -(i % 7 + 2)) for i in range(0, 300, 37)]
    fig = drawn(made_genome(lengths, hits))
    rank = np.argsort(np.argsort(-np.array(lengths), kind="stable"), kind="stable")
    [top] = [ax for ax in fig.axes if ax.get_legend() is not None]
    slots = top.transData.transform([(rank[e] + side, 0) for side in (0, 1)
                                     for e, *_ in hits])[:, 0].reshape(2, -1)
    for x, (a, b) in zip(sorted(hits_px(fig)), sorted(zip(*slots))):
        assert a <= x <= b
    bottom = [ax for ax in fig.axes if ax.get_xlabel()][0]
    ticks = [t.get_text() for t in bottom.get_xticklabels() if t.get_text()]
    assert bottom.get_xlabel().startswith("entries, longest first (300;") and \
        ticks[0] == f"1\n{layout._bp(max(lengths))}"
    names = [line.split()[1] for line in by_gid(fig, "entry-table")[0].get_text().splitlines()[1:4]]
    assert names == [f"e{e + 1}" for e, *_, p in sorted(hits, key=lambda h: h[3])][:3]


# Every kind of input draws, along positions and by entries: a report (plain, or compressed
# through standard input), a BED with its .fai (an empty one too), a segment table with the
# summary; the picture has the asked size and is not blank. A vector picture embeds the many
# points as one image.
@pytest.mark.parametrize("inputs, out", [
    ("lambda.seg", "png"), ("three.seg", "png"), ("three.seg", "svg"), ("-", "png"),
    ("three.bed --fai three.fas.fai", "png"), ("lambda.tsv --fai lambda.summary.tsv", "png"),
    ("/dev/null --fai three.fas.fai", "png"),
])
@pytest.mark.parametrize("axis", ["position", "entries"])
def test_every_kind_of_input_draws(tmp_path, inputs, out, axis):
    out, stdin = tmp_path / f"plot.{out}", gzip.compress((DATA / "three.seg").read_bytes())
    args = f"{inputs} -o {out} --size 4.5x3 --dpi 40 --axis {axis}".split()
    run = subprocess.run([str(TOOL), *args], cwd=DATA, input=stdin, capture_output=True)
    assert (run.returncode, run.stderr) == (0, b"")
    if out.suffix == ".svg":
        svg = ElementTree.parse(out).getroot()
        tags = [element.tag.rsplit("}", 1)[-1] for element in svg.iter()]
        assert (svg.get("width"), svg.get("height")) == ("324pt", "216pt")
        assert "image" in tags and tags.count("path") > 50
    else:
        pixels = matplotlib.image.imread(out)
        assert pixels.shape[:2] == (120, 180)
        assert len(np.unique(pixels.reshape(-1, pixels.shape[-1]), axis=0)) > 20


# Windows tile the axis from 0 to the total, none across two entries, and count the letters as
# the FASTA file has them; the density axis starts at 0 and ends a little above the densest
# window, at 1 at most.
@pytest.mark.parametrize("target", [1000, 40, 7])
def test_density_windows_tile_entries_and_count_letters(target, reading):
    genome = read(DATA / "three.seg")
    lefts, widths, counts, _ = layout.windows(genome, target)
    assert np.array_equal(np.append(0, lefts + widths), np.append(lefts, genome.total))
    assert set(genome.offsets.tolist()) <= set(lefts.tolist())
    letters = re.sub(r">.*\n|\n", "", (DATA / "three.fa").read_text())
    flags = np.array([c.upper() in "AT" for c in letters], int)
    assert np.array_equal(counts, np.add.reduceat(flags, lefts.astype(int)))
    [bottom] = [ax for ax in drawn(genome).axes if "fraction" in ax.get_ylabel()]
    densest = np.nanmax(np.concatenate([
        patch.get_data().values for patch in bottom.findobj(matplotlib.patches.StepPatch)]))
    low, high = bottom.get_ylim()
    assert low == 0 and densest <= high <= min(1.0, densest * 1.25 + 0.02)


# plan_labels on made-up spans, with text 6 pixels a character and 4 between labels: whatever
# it does, each entry with letters is covered by exactly one label, a named one fits under its
# span, and no two labels of a row meet. The rows: two wide spans; the same with an entry of no
# letters between, which gets no label; numbers, staggered over the rows; a crowd; a crowd at
# the end, after a name, merged leftwards; no name fitting at all.
@pytest.mark.parametrize("spans, named, ranges", [
    ([(0, 100), (100, 200)], {0, 1}, False), ([(0, 100), None, (100, 200)], {0, 2}, False),
    ([(0, 500)] + [(500 + 5 * i, 505 + 5 * i) for i in range(5)], {0}, False),
    ([(0, 100)] + [(100 + i, 101 + i) for i in range(40)], {0}, True),
    ([(0, 100)] + [(100 + 0.1 * i, 100.1 + 0.1 * i) for i in range(30)], {0}, True),
    ([(i, i + 1) for i in range(200)], set(), True),
])
def test_label_plans_cover_every_entry_once_without_overlaps(spans, named, ranges):
    names = [f"e{i}" if i % 2 else f"entry{i}" for i in range(len(spans))]
    width = lambda text: 6 * len(text)
    labels, got = layout.plan_labels(spans, names, width, 4)
    assert got == named
    covered = [i for lab in labels for i in range(lab.first, lab.last + 1) if spans[i] is not None]
    assert covered == [i for i, span in enumerate(spans) if span is not None]
    for label in labels:
        number = f"{label.first + 1}" + (f"–{label.last + 1}" if label.last > label.first else "")
        assert label.text == (names[label.first] if label.first in named else number)
        span = spans[label.first]
        assert label.first not in named or width(label.text) + 4 <= span[1] - span[0]
    for row in range(layout.LABEL_ROWS):
        placed = sorted((lab.centre - width(lab.text) / 2, lab.centre + width(lab.text) / 2)
                        for lab in labels if lab.row == row)
        assert all(right + 4 <= left for (_, right), (left, _) in zip(placed, placed[1:]))
    assert any(label.first != label.last for label in labels) == ranges


# The launcher in the checkout gives the tool's help. (Installed, it and the package run as a
# module are held to theirs by .ci/run after `make install` and by tests/package/test_deb.sh.)
def test_help_is_not_an_error():
    run = subprocess.run([str(TOOL), "--help"], capture_output=True, text=True)
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout.startswith("usage: kestra-plot") and "--fai" in run.stdout


def half_written(fig, stream, **options):
    stream.write(b"\x89PNG half")
    raise RuntimeError("the disk\nwent away")


# A picture is written whole and then put in place: a new one gets the usual permissions, an
# earlier one keeps its own, and a link is followed, not replaced. What goes wrong while drawing
# or writing (MESSAGE) leaves no new or spoiled picture, nor a temporary file. STAGE: what
# out.png is before the run ("" nothing, an earlier picture's bytes of MODE, a link to one, or to
# /dev/full); without a TITLE, savefig fails after writing some bytes.
@pytest.mark.parametrize("stage, mode, output, title, message", [
    ("", 0o640, "out.png", "t", None), ("earlier", 0o604, "out.png", "t", None),
    ("link", 0o600, "out.png", "t", None)] + [
    (stage, 0o604, "out.png", title, message) for stage in ("", "earlier") for title, message in
    [(r"$\frac$", "cannot draw the picture: "),  # a bad formula
     (None, "cannot draw the picture: the disk went away\n")]] + [
    ("/dev/full", 0, "out.png", "t", "No space left on device"),
    ("", 0, "missing/out.png", "t", "No such file or directory"),
])
def test_pictures_are_put_in_place_or_left_alone(tmp_path, monkeypatch, capsys, stage, mode,
                                                 output, title, message):
    monkeypatch.chdir(tmp_path)
    if title is None:
        monkeypatch.setattr(Figure, "savefig", half_written)
    out, target = Path("out.png"), Path("real.png" if stage == "link" else "out.png")
    if stage in ("earlier", "link"):
        target.write_text("earlier")
        target.chmod(mode)
    if stage in ("link", "/dev/full"):
        out.symlink_to(target if stage == "link" else stage)
    before, umask = sorted(tmp_path.iterdir()), os.umask(0o027)
    try:
        status = cli.main([str(DATA / "three.seg"), "-o", output, "--title", title or "t",
                           "--size", "4x3", "--dpi", "30"])
    finally:
        os.umask(umask)
    said, err = capsys.readouterr()
    if message:
        assert (status, said, err.count("\n")) == (1, "", 1) and \
            err.startswith(f"kestra-plot: {output}: {message}")
        assert sorted(tmp_path.iterdir()) == before
    else:
        assert (status, said, err, out.is_symlink()) == (0, "", "", stage == "link")
        assert target.read_bytes().startswith(b"\x89PNG")
        assert len(list(tmp_path.iterdir())) == (2 if stage == "link" else 1)
    if message is None or stage == "earlier":  # and a failure keeps the earlier picture whole
        assert target.stat().st_mode & 0o777 == mode and (not message or
                                                          target.read_text() == "earlier")
