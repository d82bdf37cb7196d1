#!/usr/bin/env python3
"""The steps of the KESTRA workflow that are more than one command: a KESTRA run whose
per-entry lines are kept, the joining of a sample's shard runs, and the summary table.

Only the standard library is used, so any Python 3 on a cluster node will do."""

import argparse
import gzip
import os
import random
import re
import subprocess
import sys

VERDICTS = ("analysed", "skipped")
# Appended to a shard in which no entry can be analysed (see run_part); its name is one a
# real input is unlikely to use, though nothing depends on that: it is always the last.
PLACEHOLDER = "kestra-workflow-placeholder"


def fail(message):
    sys.exit(f"kestra_job: {message}")


def entry_lines(path):
    """The per-entry lines of a run's standard output, read from `path` as they come; the
    other lines (a random seed, the elapsed time, an error) describe the run instead."""
    with open(path, errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) == 6 and fields[5] in VERDICTS:
                yield line if line.endswith("\n") else line + "\n"


def other_lines(path):
    with open(path, errors="replace") as f:
        return [line for line in f if line.rstrip("\n").split("\t")[-1] not in VERDICTS]


def kestra(args, fasta, stdout_path, stderr):
    """Runs KESTRA with its standard output in a file: an input of many entries has
    a line for each, too many to hold."""
    command = [args.kestra, fasta, args.base, *args.switches,
               "--all-entries", "--threads", str(args.threads)]
    sys.stderr.flush()
    try:
        with open(stdout_path, "w") as out:
            return subprocess.run(command, stdout=out, stderr=stderr).returncode
    except OSError as e:
        fail(f"cannot run {args.kestra}: {e}")


def window(switches):
    """The scanning window KESTRA takes from the switches: the last -W, read as it reads a
    number (leading digits; anything else counts as 0)."""
    size = 0
    for switch in switches:
        if switch[:1] == "-" and switch[1:2] not in ("", "-") and switch[1].upper() == "W":
            number = re.match(r"\s*[+-]?\d+", switch[3:])
            size = int(number.group()) if number else 0
    return size


def placeholder_record(switches):
    # Mixed letters, so that the composition and linkage estimates succeed, and no shorter
    # than the window; fixed so that reruns write the same bytes.
    length = max(4000, window(switches))
    letters = "".join(random.Random(7).choice("ACGT") for _ in range(length))
    lines = [letters[i:i + 80] for i in range(0, len(letters), 80)]
    return f">{PLACEHOLDER}\n" + "\n".join(lines) + "\n"


def run_part(args, stdout_path, entries):
    """A shard whose entries all are skipped makes KESTRA fail, yet in a run over the whole
    input those entries still have their lines and their masked FASTA records. Running the
    shard again with one analysable entry after it gives exactly those; what that entry
    itself wrote is then cut off again."""
    with_placeholder = args.base + ".placeholder.fa"
    errors = args.base + ".placeholder.err"
    placeholder = placeholder_record(args.switches)
    with open(args.input, "rb") as probe:
        packed = probe.read(2) == b"\x1f\x8b"
    opener = gzip.open if packed else open
    with opener(args.input, "rb") as src, open(with_placeholder, "wb") as dst:
        last = b"\n"
        for block in iter(lambda: src.read(1 << 20), b""):
            dst.write(block)
            last = block[-1:]
        if last != b"\n":
            dst.write(b"\n")
        dst.write(placeholder.encode())
    try:
        with open(errors, "w") as err:
            status = kestra(args, with_placeholder, stdout_path, err)
        count, last = 0, ""
        for last in entry_lines(stdout_path):
            count += 1
        if status != 0 or count != entries + 1 or not last.startswith(PLACEHOLDER + "\t"):
            with open(errors) as err:
                sys.stderr.write(err.read())
            sys.stderr.writelines(other_lines(stdout_path))
            fail(f"{args.input}: no entry can be analysed, and the run with an analysable "
                 "entry appended did not succeed either")
    finally:
        os.remove(with_placeholder)
        os.remove(errors)
    # Only the placeholder has a report block or BED lines; the masked FASTA ends with it.
    for suffix in (".seg", ".bed"):
        if os.path.exists(args.base + suffix):
            os.truncate(args.base + suffix, 0)
    fas = args.base + ".fas"
    if os.path.exists(fas):
        size = os.path.getsize(fas)
        with open(fas, "rb") as f:
            tail_from = max(0, size - 2 * len(placeholder) - 1)
            f.seek(tail_from)
            tail = f.read()
        at = tail.rfind(b"\n>" + PLACEHOLDER.encode() + b"\n")
        if at < 0:
            fail(f"{fas}: the appended entry's record was not found at its end")
        os.truncate(fas, tail_from + at + 1)


def command_run(args):
    stdout_path = args.entries + ".stdout"
    try:
        status = kestra(args, args.input, stdout_path, sys.stderr)
        keep = None  # every per-entry line
        if status != 0:
            entries = skipped = 0
            for line in entry_lines(stdout_path):
                entries += 1
                skipped += line.endswith("\tskipped\n")
            if not (args.part and status == 1 and 0 < entries == skipped):
                sys.stderr.writelines(other_lines(stdout_path))
                fail(f"kestra failed on {args.input} (exit status {status})")
            run_part(args, stdout_path, entries)
            keep = entries
        with open(args.entries, "w") as out:
            for number, line in enumerate(entry_lines(stdout_path)):
                if keep is not None and number >= keep:
                    break
                out.write(line)
    finally:
        if os.path.exists(stdout_path):
            os.remove(stdout_path)


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
    with open(args.entries) as f:
        analysed = any(line.endswith("\tanalysed\n") for line in f)
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
        with open(path) as f:
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
    run.add_argument("--part", action="store_true",
                     help="the input is one shard of a larger input")
    run.add_argument("switches", nargs=argparse.REMAINDER)

    join = steps.add_parser("join", help="concatenate shard runs in the order given")
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
