# kestra (the Python package) against the built command: scan gives the command's
# --table --all-segments rows on every golden single-entry case, mask its -L and -F copies, read
# its --all-entries table on 1 and 2 threads;
# refused options raise ValueError with the command's words; scanning again and again holds no
# more memory; the import leaves NumPy to the first result.
import json, os, random, re, shlex, subprocess, sys
from pathlib import Path

import kestra, pytest

ROOT = Path(__file__).resolve().parents[2]
DATA, HERE = ROOT / "tests" / "cli" / "data", Path(__file__).resolve().parent
KESTRA = os.environ["KESTRA_BIN"]

# The switches of the command that the keywords stand for (--seed N read as -seed:N):
# (keyword, type of the value), -A: and the like a letter's frequency; and its flags:
# (keyword, value).
SWITCHES = {"W": ("window", int), "E": ("linkage", int), "P": ("window_p", float),
            "M": ("mask_p", float), "S": ("shuffles", int), "B": ("generated", int),
            "R": ("residues", str), "seed": ("seed", int), **{b: (b, float) for b in "ATGC"}}
FLAGS = {"--keep-case": ("keep_case", True), "-N": ("merge", False),
         "-K": ("estimate_linkage", True)}


# What the command says on both streams, run in tmp.
def run(tmp, inp, args):
    done = subprocess.run([KESTRA, str(inp), "out", *args], cwd=tmp, capture_output=True, text=True)
    return done.stdout + done.stderr


# The lines of what the command writes with SWITCHES (the file's name second).
def command_file(tmp, inp, args, *switches):
    run(tmp, inp, [*args, *switches, "--no-report", "--quiet"])
    return (Path(tmp) / switches[1]).read_text().split("\n")


def command_table(tmp, inp, args):
    return "\n".join(command_file(tmp, inp, args, "--table-out", "t.tsv", "--all-segments")[1:])


def rows(name, result):
    return "".join("%s\t%d\t%d\t%d\t%d\t%.6e\t%d\n" % (name, *s) for s in result.segments.tolist())


def first_entry(path):
    header, _, rest = path.read_text().partition("\n")
    return (header[1:].split() or [""])[0], "".join(rest.split(">")[0].split())


# The keywords of a case's switches; None when one has none.
def keywords(args):
    options = {}
    for arg in " ".join(args).replace("--seed ", "-seed:").split():
        switch = re.fullmatch(f"-({'|'.join(SWITCHES)}):(.+)", arg)
        if arg in FLAGS:
            options[FLAGS[arg][0]] = FLAGS[arg][1]
        elif switch:
            name, kind = SWITCHES[switch[1]]
            try:
                value = kind(switch[2])
            except ValueError:
                return None
            (options.setdefault("frequencies", {}) if len(name) == 1 else options)[name] = value
        else:
            return None
    return options


# The end-to-end cases that succeed on a single FASTA file (in.fa out, then switches but no
# quoted ones): name, input and switches.
CASE = re.compile(r'^([^#\s]\S*) +([^<|\s]\S*\.fa) +0 .* -- in\.fa out((?: [^"\n]*)?)$', re.M)


def golden_cases():
    cases = []
    for name, inp, tail in CASE.findall((DATA / "cases.txt").read_text()):
        args = [arg for arg in tail.split() if arg not in ("-F", "-L")]  # the masks are asked below
        options = keywords(args)
        if options is None or not first_entry(DATA / "input" / inp)[1]:
            continue
        if "seed" not in options and max(options.get("shuffles", 0), options.get("generated", 0)):
            options["seed"], args = 7, args + ["--seed", "7"]
        cases.append(pytest.param(DATA / "input" / inp, args, options, id=name))
    return cases


# Each case's rows as the command's table, and its soft and hard masks as the command's -L and
# -F copies (but without merging, where the command masks nothing).
@pytest.mark.parametrize("inp,args,options", golden_cases())
def test_scan_and_mask_give_the_commands_table_and_copies(tmp_path, inp, args, options):
    name, letters = first_entry(inp)
    try:
        result = kestra.scan(letters, **options)
    except ValueError as refused:  # a switch read otherwise than written: refused as --strict
        assert str(refused) in run(tmp_path, inp, [*args, "--strict"])
        return
    assert rows(name, result) == command_table(tmp_path, inp, args)
    for hard in (False, True) if options.get("merge", True) else ():
        switches = [*args, "-F" if hard else "-L"], "--fasta-out", "m.fas", "--line-width", "0"
        assert kestra.mask(letters, hard, **options) == command_file(tmp_path, inp, *switches)[1]


# 300 entries of 1 to 3000 letters, of several compositions, 80 a line: two ranges of the file.
def random_database(path):
    rng = random.Random(5)
    path.write_text(re.sub(r"(\w{80})\B", r"\1\n", "".join(
        ">entry%d some words\n%s\n" % (i, "".join(rng.choice(bias) for _ in range(n)))
        for i in range(300) for n in [rng.randint(1, 3000)]
        for bias in [rng.choice(["ACGT", "AACGT", "AAAAT", "CCGGT", "N"])])))
    return path


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("name", ["database.fa", "seq19_multi.fa", "bed_names.fq.zst",
                                  "long3000.fa.bgz"])
def test_read_gives_the_commands_all_entries_table(tmp_path, name, threads):
    inp = random_database(tmp_path / name) if name == "database.fa" else DATA / "input" / name
    entries = list(kestra.read(inp, threads=threads))
    got = "".join(rows(e.name, e.result) for e in entries if e.skipped is None)
    assert got == command_table(tmp_path, inp, ["--all-entries", "--threads", str(threads)])
    summary = [line.split("\t") for line in
               command_file(tmp_path, inp, ["--all-entries"], "--summary-out", "s.tsv")[1:-1]]
    assert [(e.name, e.length, e.skipped is None) for e in entries] == \
        [(f[0], int(f[1]), f[-1] == "analysed") for f in summary]


# Options the command refuses, and sequences it cannot analyse with them (data/refused.tsv).
REFUSED = [line.split("\t") for line in (HERE / "data" / "refused.tsv").read_text().splitlines()
           if not line.startswith("#")]


@pytest.mark.parametrize("letters, options, args, read", REFUSED)
def test_refused_options_raise_value_error_in_the_commands_words(tmp_path, letters, options,
                                                                 args, read):
    options = json.loads(options)
    (tmp_path / "in.fa").write_text(">s\n%s\n" % letters)
    with pytest.raises(ValueError) as refused:
        kestra.scan(letters, **options)
    assert str(refused.value) in run(tmp_path, tmp_path / "in.fa", shlex.split(args))
    if read == "skips":  # the entry, in the same words
        assert [e.skipped for e in kestra.read(tmp_path / "in.fa", **options)] == [str(refused.value)]
    else:
        with pytest.raises(ValueError, match=f"^{re.escape(str(refused.value))}$"):
            kestra.read(tmp_path / "in.fa", **options)


# A file that cannot be read (as the background or the input), and an input without entries.
@pytest.mark.parametrize("call, name", [("background", "/nonexistent.fa"),
                                        ("read", "/nonexistent.fa"), ("read", "empty.fa")])
def test_inputs_that_cannot_be_read_raise_runtime_error(tmp_path, call, name):
    (tmp_path / "empty.fa").write_text("")
    with pytest.raises(RuntimeError) as failed:
        list(kestra.read(tmp_path / name)) if call == "read" else \
            kestra.scan("ACGT", background=str(tmp_path / name))
    assert str(failed.value) in run(tmp_path, tmp_path / name, [])


# Keywords that are no option, and what is no sequence.
@pytest.mark.parametrize("letters, options, match", [("ACGT", {"windw": 3}, "windw"),
                                                    (5, {}, "int")])
def test_what_is_no_option_or_sequence_raises_type_error(letters, options, match):
    with pytest.raises(TypeError, match=match):
        kestra.scan(letters, **options)


def resident_kib():
    return int(re.search(r"^VmRSS:\s+(\d+)", Path("/proc/self/status").read_text(), re.M)[1])


def test_many_scans_hold_no_more_memory():
    letters = "GAAATCGCAATAAGCTCGA" * 20
    for _ in range(10000):
        kestra.scan(letters)
    before = resident_kib()
    for _ in range(100000):
        kestra.scan(letters, linkage=3).segments
    assert resident_kib() - before < 4096


def test_scan_takes_str_bytes_and_bytearray_alike():
    letters = "GAAATCGCAATAAGCTCGA\nAAAT"
    kept, *got = [kestra.scan(s, mask_p=0.6).segments.tolist() for s in
                  (letters, letters.encode(), bytearray(letters.encode()))]
    assert kept and got == [kept, kept]


def test_the_import_leaves_numpy_to_the_first_result():
    code = "import sys, kestra; a = 'numpy' in sys.modules; kestra.scan('ACGTA').segments; " \
           "print(a, 'numpy' in sys.modules)"
    said = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert said.stdout.split() == ["False", "True"]
