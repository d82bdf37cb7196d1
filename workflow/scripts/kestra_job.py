#!/usr/bin/env python3
"""The steps of the KESTRA workflow that are more than one command: a KESTRA run whose
per-entry lines are kept, the joining of a sample's parts, and the summary table.

Only the standard library is used, so any Python 3 on a cluster node will do."""

import argparse
import os
import subprocess
import sys

VERDICTS = (b"analysed", b"skipped")


def fail(message):
    sys.exit(f"kestra_job: {message}")


def entry_line(line):
    """Whether a line of KESTRA's standard output is an entry's: name, length, linkage,
    segments, masked positions and a verdict, tab-separated. The other lines (a random
    seed, the elapsed time, an error) describe the run instead."""
    fields = line.rstrip(b"\n").split(b"\t")
    return len(fields) == 6 and fields[5] in VERDICTS


def command_run(args):
    """Runs KESTRA with its standard output read as it comes (an input of many entries has a
    line for each, too many to hold): entry lines to --entries, the others to the log, bytes
as they are."""
    command = [args.kestra, args.input, args.base, *args.switches,
               "--all-entries", "--threads", str(args.threads)]
    sys.stderr.flush()
    try:
        with open(args.entries, "wb") as entries, \
                subprocess.Popen(command, stdout=subprocess.PIPE) as kestra:
            for line in kestra.stdout:
                if entry_line(line):
                    entries.write(line if line.endswith(b"\n") else line + b"\n")
                else:
                    sys.stderr.buffer.write(line)
    except OSError as e:
        fail(f"cannot run {args.kestra}: {e}")
    if kestra.returncode != 0:
        fail(f"kestra failed on {args.input} (exit status {kestra.returncode})")


def concatenate(paths, target):
    with open(target, "wb") as out:
        for path in paths:
            with open(path, "rb") as part:
                for block in iter(lambda: part.read(1 << 20), b""):
                    out.write(block)


def command_join(args):
    for suffix in args.suffixes:
        concatenate([base + suffix for base in args.parts], args.base + suffix)
    concatenate([base + ".entries" for base in args.parts], args.entries)
    with open(args.entries, "rb") as f:
        analysed = any(line.endswith(b"\tanalysed\n") for line in f)
    if not analysed:
        # One run over the whole input would have failed here; so does the joined one.
        for suffix in args.suffixes:
            os.remove(args.base + suffix)
        os.remove(args.entries)
        fail(f"no entry of {args.base} could be analysed")


def command_summary(args):
    if len(args.samples) != len(args.entries):
        fail("summary: as many samples as entry files are needed")
    rows = ["sample\tanalysed\tskipped\tletters\tsegments\tmasked\tmasked_percent\n"]
    for sample, path in zip(args.samples, args.entries):
        counts = {"analysed": 0, "skipped": 0}
        letters = segments = masked = 0
        masking = True
        with open(path, errors="replace") as f:  # names are not read
            for line in f:
                name, length, _, found, hidden, verdict = line.rstrip("\n").split("\t")
                counts[verdict] += 1
                letters += int(length)
                if verdict == "analysed":
                    segments += int(found)
                    # "-" when the run wrote no masked FASTA, so nothing was counted.
                    if hidden == "-":
                        masking = False
                    else:
                        masked += int(hidden)
        if masking:
            share = f"{100 * masked / letters:.2f}" if letters else "0.00"
            hidden_text = str(masked)
        else:
            share = hidden_text = "-"
        rows.append(f"{sample}\t{counts['analysed']}\t{counts['skipped']}\t{letters}\t"
                    f"{segments}\t{hidden_text}\t{share}\n")
    with open(args.out, "w") as out:
        out.writelines(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    steps = parser.add_subparsers(dest="step", required=True)

    run = steps.add_parser("run", help="one KESTRA run; per-entry lines to --entries")
    run.add_argument("--kestra", required=True)
    run.add_argument("--input", required=True)
    run.add_argument("--base", required=True)
    run.add_argument("--entries", required=True)
    run.add_argument("--threads", type=int, default=1)
    run.add_argument("switches", nargs=argparse.REMAINDER)

    join = steps.add_parser("join", help="concatenate the parts' outputs in the order given")
    join.add_argument("--base", required=True)
    join.add_argument("--entries", required=True)
    join.add_argument("--suffixes", nargs="*", default=[])
    join.add_argument("--parts", nargs="*", default=[])

    summary = steps.add_parser("summary", help="one line of totals per sample")
    summary.add_argument("--out", required=True)
    summary.add_argument("--samples", nargs="+", required=True)
    summary.add_argument("--entries", nargs="+", required=True)

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
