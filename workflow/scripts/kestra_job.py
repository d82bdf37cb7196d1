#!/usr/bin/env python3
"""The steps of the KESTRA workflow that are more than one command: a KESTRA run that also
writes its summary of entries, the joining of a sample's parts (plain or BGZF), and the
tables over all samples (summary.tsv, and kestra_mqc.tsv for MultiQC).

Only the standard library is used, so any Python 3 on a cluster node will do."""

import argparse
import os
import subprocess
import sys

# KESTRA writes its summary of entries under the base name with this suffix (--summary).
SUMMARY = ".summary.tsv"
# The columns of that file read here; any others are left alone.
NEEDED = ("letters", "segments", "masked", "status")
# A compressed output (BGZF, as KESTRA writes a path ending in .gz) ends with this empty
# block, which htslib looks for to know that the file is whole.
BGZF_SUFFIX = ".gz"
BGZF_EOF = bytes.fromhex("1f8b08040000000000ff0600424302001b0003000000000000000000")

# The table for MultiQC: its columns after the sample's name, and how MultiQC should show
# them. MultiQC reads the leading '#' lines of a *_mqc.tsv file as YAML.
MQC_COLUMNS = (
    ("entries_analysed", "Entries analysed", "entries KESTRA analysed", "{:,.0f}", ""),
    ("entries_skipped", "Entries skipped",
     "entries with no nucleotide to analyse", "{:,.0f}", ""),
    ("letters", "Letters", "letters of all entries", "{:,.0f}", ""),
    ("segments", "Segments", "segments found in the entries analysed", "{:,.0f}", ""),
    ("masked", "Masked", "positions in the masked segments", "{:,.0f}", ""),
    ("masked_percent", "Masked %", "masked positions per 100 letters of all entries",
     "{:,.2f}", "%"),
)
MQC_HEADER = (
    "# id: 'kestra'\n"
    "# section_name: 'KESTRA'\n"
    "# description: 'Compositionally biased segments found by KESTRA in each sample,"
    " over all its entries.'\n"
    "# plot_type: 'table'\n"
    "# pconfig:\n"
    "#   id: 'kestra_table'\n"
    "#   title: 'KESTRA: biased segments'\n"
    "# headers:\n"
)


def fail(message):
    sys.exit(f"kestra_job: {message}")


def command_run(args):
    """Runs KESTRA with its summary of entries written beside its other outputs; its standard
    output (the status lines) and standard error both go to the log."""
    command = [args.kestra, args.input, args.base, *args.switches,
               "--all-entries", "--summary", "--threads", str(args.threads)]
    sys.stderr.flush()
    try:
        status = subprocess.run(command, stdout=sys.stderr).returncode
    except OSError as e:
        fail(f"cannot run {args.kestra}: {e}")
    if status != 0:
        fail(f"kestra failed on {args.input} (exit status {status})")


def read_summary(path):
    """The entries of a KESTRA summary file as dictionaries of the needed columns. The first
    line names the columns; every line after it is an entry, even one whose name starts
    with '#'."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:  # names are not read
            header = f.readline().rstrip("\n")
            if not header.startswith("#"):
                fail(f"{path}: the first line is not a line of column names")
            names = header[1:].split("\t")
            missing = [name for name in NEEDED if name not in names]
            if missing:
                fail(f"{path}: no column {', '.join(missing)}")
            where = [names.index(name) for name in NEEDED]
            for number, line in enumerate(f, 2):
                fields = line.rstrip("\n").split("\t")
                if len(fields) != len(names):
                    fail(f"{path}:{number}: {len(fields)} fields, not {len(names)}")
                yield dict(zip(NEEDED, (fields[i] for i in where)))
    except OSError as e:
        fail(f"cannot read {e.filename}: {e.strerror}")


def copy(part, out, count):
    while count > 0:
        block = part.read(min(count, 1 << 20))
        if not block:
            break
        out.write(block)
        count -= len(block)


def concatenate(paths, target):
    with open(target, "wb") as out:
        for path in paths:
            with open(path, "rb") as part:
                copy(part, out, os.fstat(part.fileno()).st_size)


def bgzf_length(part, path):
    """The bytes of a BGZF part before its end-of-file block, which it must have: a part
    without one was cut short."""
    size = os.fstat(part.fileno()).st_size
    if size >= len(BGZF_EOF):
        part.seek(size - len(BGZF_EOF))
        if part.read(len(BGZF_EOF)) == BGZF_EOF:
            part.seek(0)
            return size - len(BGZF_EOF)
    fail(f"{path}: no BGZF end-of-file block; the part is incomplete")


def concatenate_bgzf(paths, target):
    """BGZF files one after another are a BGZF file of their texts one after another; the
    parts' end-of-file blocks are left out and one ends the whole."""
    with open(target, "wb") as out:
        for path in paths:
            with open(path, "rb") as part:
                copy(part, out, bgzf_length(part, path))
        out.write(BGZF_EOF)


def command_join(args):
    if SUMMARY not in args.suffixes:
        fail(f"join: the parts' {SUMMARY} files are needed")
    for suffix in args.suffixes:
        join = concatenate_bgzf if suffix.endswith(BGZF_SUFFIX) else concatenate
        join([base + suffix for base in args.parts], args.base + suffix)
    if not any(entry["status"] == "analysed" for entry in read_summary(args.base + SUMMARY)):
        # One run over the whole input would have failed here; so does the joined one.
        for suffix in args.suffixes:
            os.remove(args.base + suffix)
        fail(f"no entry of {args.base} could be analysed")


def totals(path):
    """A sample's totals from its summary file: entries analysed and skipped, letters of all
    entries, segments and masked positions of those analysed, and the masked share of all
    letters in percent (two decimals)."""
    counts = {"analysed": 0, "skipped": 0}
    letters = segments = masked = 0
    for entry in read_summary(path):
        if entry["status"] not in counts:
            fail(f"{path}: an entry's status is '{entry['status']}'")
        counts[entry["status"]] += 1
        letters += int(entry["letters"])
        if entry["status"] == "analysed":
            segments += int(entry["segments"])
            masked += int(entry["masked"])
    share = f"{100 * masked / letters:.2f}" if letters else "0.00"
    return [str(counts["analysed"]), str(counts["skipped"]), str(letters), str(segments),
            str(masked), share]


def mqc_table(rows):
    text = [MQC_HEADER]
    for key, title, description, shown, suffix in MQC_COLUMNS:
        text.append(f"#   {key}:\n#     title: '{title}'\n#     description: '{description}'\n"
                    f"#     format: '{shown}'\n#     min: 0\n")
        if suffix:
            text.append(f"#     suffix: '{suffix}'\n")
    text.append("\t".join(["Sample", *(column[0] for column in MQC_COLUMNS)]) + "\n")
    text += ["\t".join(row) + "\n" for row in rows]
    return "".join(text)


def write(path, text):
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def command_summary(args):
    if len(args.samples) != len(args.summaries):
        fail("summary: as many samples as summary files are needed")
    rows = [[sample, *totals(path)] for sample, path in zip(args.samples, args.summaries)]
    write(args.out, "sample\tanalysed\tskipped\tletters\tsegments\tmasked\tmasked_percent\n"
          + "".join("\t".join(row) + "\n" for row in rows))
    write(args.mqc, mqc_table(rows))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    steps = parser.add_subparsers(dest="step", required=True)

    run = steps.add_parser("run", help=f"one KESTRA run, with its <base>{SUMMARY}")
    run.add_argument("--kestra", required=True)
    run.add_argument("--input", required=True)
    run.add_argument("--base", required=True)
    run.add_argument("--threads", type=int, default=1)
    run.add_argument("switches", nargs=argparse.REMAINDER)

    join = steps.add_parser("join", help="concatenate the parts' outputs in the order given")
    join.add_argument("--base", required=True)
    join.add_argument("--suffixes", nargs="+", required=True)
    join.add_argument("--parts", nargs="+", required=True)

    summary = steps.add_parser("summary", help="one line of totals per sample")
    summary.add_argument("--out", required=True)
    summary.add_argument("--mqc", required=True)
    summary.add_argument("--samples", nargs="+", required=True)
    summary.add_argument("--summaries", nargs="+", required=True)

    args = parser.parse_args()
    if args.step == "run":
        if args.switches[:1] == ["--"]:
            args.switches = args.switches[1:]
        command_run(args)
    elif args.step == "join":
        command_join(args)
    else:
        command_summary(args)


if __name__ == "__main__":
    main()
