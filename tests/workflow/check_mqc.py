#!/usr/bin/env python3
"""Reads the workflow's kestra_mqc.tsv as MultiQC reads a custom-content file: the '#' lines
at its top, without their '#', are YAML for the section; every other line is a row of
tab-separated fields, the first the header, each row as long as it; a table's first column
names the sample. Checks the section's settings, that the samples are those of the sample
sheet in its order, and every figure against KESTRA's summary files of the direct runs.
Prints each problem and exits 1 if there is any.

Usage: check_mqc.py KESTRA_MQC_TSV SAMPLE_SHEET SUMMARY_DIR"""

import sys

import yaml

COLUMNS = ["Sample", "entries_analysed", "entries_skipped", "letters", "segments", "masked",
           "masked_percent"]

problems = []


def problem(text):
    problems.append(text)
    print(f"{sys.argv[1]}: {text}")


def parse(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    top = 0
    while top < len(lines) and lines[top].startswith("#"):
        top += 1
    config = yaml.safe_load("\n".join(line[1:] for line in lines[:top]))
    if any(line.startswith("#") for line in lines[top:]):
        problem("a '#' line below the table's first row")
    rows = [line.split("\t") for line in lines[top:] if line]
    return config, rows


def expected(path):
    """A sample's figures summed from a KESTRA summary file, by column name."""
    with open(path, encoding="utf-8") as f:
        names = f.readline().rstrip("\n").lstrip("#").split("\t")
        entries = [dict(zip(names, line.rstrip("\n").split("\t"))) for line in f]
    analysed = [e for e in entries if e["status"] == "analysed"]
    letters = sum(int(e["letters"]) for e in entries)
    masked = sum(int(e["masked"]) for e in analysed)
    return {"entries_analysed": len(analysed), "entries_skipped": len(entries) - len(analysed),
            "letters": letters, "segments": sum(int(e["segments"]) for e in analysed),
            "masked": masked, "masked_percent": 100 * masked / letters}


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    mqc, sheet, summaries = sys.argv[1:]
    config, rows = parse(mqc)

    if not isinstance(config, dict):
        problem(f"the '#' lines are not a YAML mapping: {config!r}")
        config = {}
    for key, value in (("id", "kestra"), ("section_name", "KESTRA"), ("plot_type", "table")):
        if config.get(key) != value:
            problem(f"{key} is {config.get(key)!r}, not {value!r}")
    if not isinstance(config.get("description"), str) or not config["description"].strip():
        problem("no description")
    pconfig = config.get("pconfig")
    if not isinstance(pconfig, dict) or not all(isinstance(pconfig.get(k), str) and pconfig[k]
                                                for k in ("id", "title")):
        problem(f"pconfig has no id and title: {pconfig!r}")
    headers = config.get("headers", {})
    if not isinstance(headers, dict) or not set(headers) <= set(COLUMNS[1:]):
        problem(f"headers name other columns than the table's: {headers!r}")

    if not rows or rows[0] != COLUMNS:
        problem(f"the header is {rows[0] if rows else None!r}, not {COLUMNS!r}")
        return
    for number, row in enumerate(rows[1:], 2):
        if len(row) != len(rows[0]):
            problem(f"row {number} has {len(row)} fields, the header {len(rows[0])}")
    with open(sheet, encoding="utf-8") as f:
        samples = [line.split("\t")[0] for line in f.read().splitlines()[1:] if line]
    if [row[0] for row in rows[1:]] != samples:
        problem(f"the samples are {[row[0] for row in rows[1:]]}, not {samples}")

    for row in rows[1:]:
        if len(row) != len(COLUMNS) or row[0] not in samples:
            continue
        want = expected(f"{summaries}/{row[0]}.summary.tsv")
        for name, text in zip(COLUMNS[1:], row[1:]):
            try:
                value = float(text)  # as MultiQC takes a field for a number
            except ValueError:
                problem(f"{row[0]}: {name} '{text}' is not a number")
                continue
            # The percentage is rounded to two decimals; the counts are exact.
            close = abs(value - want[name]) <= (0.005 + 1e-9 if name == "masked_percent"
                                                else 0)
            if not close or (name != "masked_percent" and text != str(want[name])):
                problem(f"{row[0]}: {name} is {text}, the summary file gives {want[name]}")
    if not problems:
        print(f"{mqc}: {len(rows) - 1} samples as MultiQC reads them, figures as KESTRA's")


if __name__ == "__main__":
    main()
    sys.exit(1 if problems else 0)
