#!/usr/bin/env python3
# Reads the workflow's kestra_mqc.tsv as MultiQC reads a custom-content file: the '#' lines
# at its top, without their '#', are YAML for the section; every other line is a row of
# tab-separated fields, the first the header, each row as long as it; a table's first column
# names the sample. Checks the section's settings, and that the rows, each field a number as
# MultiQC takes it, are those of the workflow's summary.tsv (which the test holds to KESTRA's
# summary files). Prints each problem and exits 1 if there is any.
import sys
from pathlib import Path

import yaml

COLUMNS = ["Sample", "entries_analysed", "entries_skipped", "letters", "segments", "masked",
           "masked_percent"]


def is_number(text):
    try:
        return float(text) is not None  # as MultiQC takes a field for a number
    except ValueError:
        return False


def problems(mqc, summary):
    """The problems of the file MQC, whose rows must be those of the file SUMMARY."""
    lines = Path(mqc).read_text(encoding="utf-8").splitlines()
    top = next((i for i, line in enumerate(lines) if not line.startswith("#")), len(lines))
    config = yaml.safe_load("\n".join(line[1:] for line in lines[:top]))
    rows = [line.split("\t") for line in lines[top:] if line]
    if not isinstance(config, dict):
        yield f"the '#' lines are not a YAML mapping: {config!r}"
        config = {}
    if any(line.startswith("#") for line in lines[top:]):
        yield "a '#' line below the table's first row"
    for key, value in (("id", "kestra"), ("section_name", "KESTRA"), ("plot_type", "table")):
        if config.get(key) != value:
            yield f"{key} is {config.get(key)!r}, not {value!r}"
    if not isinstance(config.get("description"), str) or not config["description"].strip():
        yield "no description"
    pconfig, headers = config.get("pconfig"), config.get("headers", {})
    if not isinstance(pconfig, dict) or not all(isinstance(pconfig.get(k), str) and pconfig[k]
                                                for k in ("id", "title")):
        yield f"pconfig has no id and title: {pconfig!r}"
    if not isinstance(headers, dict) or not set(headers) <= set(COLUMNS[1:]):
        yield f"headers name other columns than the table's: {headers!r}"
    if not rows or rows[0] != COLUMNS:
        yield f"the header is {rows[0] if rows else None!r}, not {COLUMNS!r}"
        return
    want = [line.split("\t") for line in Path(summary).read_text("utf-8").splitlines()[1:] if line]
    if rows[1:] != want:
        yield f"the rows are {rows[1:]}, not those of {summary}: {want}"
    yield from (f"{row[0]}: {name} '{text}' is not a number" for row in rows[1:]
                for name, text in zip(COLUMNS[1:], row[1:]) if not is_number(text))


# Usage: check_mqc.py KESTRA_MQC_TSV SUMMARY_TSV
found = list(problems(*sys.argv[1:3]))
for text in found or ["read as MultiQC reads it, its rows those of the summary"]:
    print(f"{sys.argv[1]}: {text}")
sys.exit(1 if found else 0)
