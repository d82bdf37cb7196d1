"""Reads what kestra wrote: a report, or a BED or segment table with the entries' lengths from
a .fai index or kestra's summary; plain or compressed, from a file or standard input."""

import gzip
import re

import numpy as np

from .genome import Collection, Genome
from .report import read_report
from .source import ReportError, Source, _one_line, first_line, open_input

ROWS_PIECE = 1 << 22
# The rows of the other inputs, whole lines each. BED: name, start - 1, end, index, score and
# strand; the segment table after its heading; a .fai index; kestra's summary after its heading.
TABLE_HEADING = b"#entry\tstart\tend\tlength\tspecial_residues\tp_value\tmasked\n"
SUMMARY_HEADING = b"#entry\tletters\t"
ROWS = {
    "BED": re.compile(rb"^([^\t\n]*)\t(\d+)\t(\d+)\t[^\t\n]*\t(\d+)(?:\t[^\t\n]*)?\n", re.M),
    "segment table": re.compile(rb"^([^\t\n]*)\t(\d+)\t(\d+)\t\d+\t\d+\t(\S+)\t[01]\n", re.M),
    ".fai": re.compile(rb"^([^\t\n]*)\t(\d+)\t[^\n]*\n", re.M),
    "summary": re.compile(rb"^([^\t\n]*)\t(\d+)\t[^\t\n]*\t(\d+|NA|-)\t[^\n]*\n", re.M),
}
EXPECTED = {"BED": "name, start, end, index, score and strand",
            "segment table": "entry, start, end, length, special residues, p-value, masked",
            ".fai": "name, length and offsets", "summary": "a summary line"}



def read_input(path, threshold, lengths=None, axis="auto"):
    """Reads a report, BED or segment table (the last two with LENGTHS, a .fai or a summary)."""
    collection = Collection(threshold, axis)
    try:
        with open_input(path) as stream:
            source = Source(stream)
            line = first_line(source)
            if not line and lengths is None:
                raise ReportError("not a kestra report (empty file)")
            if line.startswith(b"Length="):
                if lengths is not None:
                    raise ReportError("a report holds its entries' lengths: --fai is for a BED "
                                      "or a segment table")
                read_report(source, collection)
            else:
                if line.startswith(SUMMARY_HEADING):
                    raise ReportError("a summary holds no segments: give it with --fai")
                kind = "segment table" if line == TABLE_HEADING else "BED"
                # A BED may be empty: a run that masked nothing.
                if kind == "BED" and line and ROWS["BED"].fullmatch(line) is None:
                    raise ReportError("not a kestra report, BED or segment table (line 1)")
                if lengths is None:
                    raise ReportError(f"a {kind} needs the entries' lengths: give the .fai of "
                                      "the masked FASTA (or the summary) with --fai")
                read_lengths(lengths, collection)
                read_segment_rows(source, collection, kind)
    except OSError as error:
        raise ReportError(error.strerror or str(error)) from None
    except (EOFError, gzip.BadGzipFile) as error:
        raise ReportError(f"cannot decompress: {_one_line(error)}") from None
    except MemoryError:
        raise ReportError("out of memory") from None
    return Genome(collection)

# BED, segment table, .fai and summary: rows of tab-separated fields, a batch at a time.

def read_rows(source, kind):
    """Yields the fields of the rows of KIND (arrays of bytes, one per group) a batch of whole
    lines at a time, the heading line (if any) already passed."""
    pattern = ROWS[kind]
    while source.more() or source.left():
        last = source.buf.rfind(b"\n", source.pos) + 1
        if source.eof:
            last = len(source.buf)
        elif last == 0:
            continue
        while source.pos < last:
            # A piece at a time, so that the fields as Python objects stay few.
            end = source.buf.find(b"\n", source.pos + ROWS_PIECE, last) + 1 or last
            fields = pattern.findall(source.buf, source.pos, end)
            if len(fields) != source.buf.count(b"\n", source.pos, end) or \
                    source.buf[end - 1:end] != b"\n":
                _row_fault(source, pattern, kind)
            yield np.array(fields).reshape(len(fields), -1).T
            source.skip_to(end)


def _row_fault(source, pattern, kind):
    while True:
        line_start = source.pos
        end = source.buf.find(b"\n", line_start)
        source.number += 1
        if end < 0 or pattern.match(source.buf, line_start, end + 1) is None:
            raise ReportError(f"malformed {kind} (line {source.number}: expected "
                              f"{EXPECTED[kind]})")
        source.pos = end + 1


def summary_special(column):
    """The special residues of a summary's entries; an entry skipped for want of nucleotides
    has no count (NA, or '-' in the summaries of earlier versions): none were read."""
    missing = (column == b"NA") | (column == b"-")
    return np.where(missing, b"0", column).astype(np.int64)


def read_lengths(path, collection):
    """The entries, in order, from a .fai index or a summary: name, length, special residues
    (the summary only)."""
    try:
        with open_input(path) as stream:
            source = Source(stream)
            line = first_line(source)
            kind = "summary" if line.startswith(SUMMARY_HEADING) else ".fai"
            if kind == "summary":
                source.skip_to(len(line))
            collection.special_known = kind == "summary"
            for columns in read_rows(source, kind):
                lengths = columns[1].astype(np.int64)
                special = (summary_special(columns[2]) if kind == "summary"
                           else np.full(len(lengths), -1))
                collection.add_entries(columns[0], lengths, special)
    except OSError as error:
        raise ReportError(f"{path}: {error.strerror or error}") from None
    except ReportError as error:
        raise ReportError(f"{path}: {error}") from None
    collection.bins = None  # no letters to count
    collection.kind = "lengths"


def read_segment_rows(source, collection, kind):
    names = np.concatenate(collection.name_arrays) if collection.name_arrays else np.zeros(0, "S1")
    order = np.argsort(names, kind="stable")
    ordered = names[order]
    if kind == "segment table":
        source.skip_to(len(TABLE_HEADING))
    for columns in read_rows(source, kind):
        unique, inverse = np.unique(columns[0], return_inverse=True)
        at = np.searchsorted(ordered, unique)
        found = (at < len(ordered)) & (ordered[np.minimum(at, len(ordered) - 1)] == unique)
        twice = found & (at + 1 < len(ordered)) & \
            (ordered[np.minimum(at + 1, len(ordered) - 1)] == unique)
        if np.any(~found | twice):
            first = int(np.argmax(~found | twice))
            why = "names more than one entry" if found[first] else "is not"
            name = bytes(unique[first]).decode("utf-8", "replace")
            raise ReportError(f"entry '{name}' of the {kind} {why} in the lengths file")
        entry = order[at][inverse]
        start = columns[1].astype(np.int64) + 1
        end = columns[2].astype(np.int64)
        if np.any(start > end) or np.any(end > np.frombuffer(collection.lengths, np.int64)[entry]):
            raise ReportError(f"a segment of the {kind} lies outside its entry's length")
        try:
            value = columns[3].astype(np.float64)
        except ValueError:
            line = source.number + 1 + _first_bad_number(columns[3])
            raise ReportError(f"malformed {kind} (line {line}: expected {EXPECTED[kind]})") \
                from None
        if kind == "BED":
            collection.add_masked(entry, start, end, value / 10)
        else:
            collection.add_segments(entry, start, end, value)
    collection.kind = kind


def _first_bad_number(values):
    for index, value in enumerate(values.tolist()):
        try:
            float(value)
        except ValueError:
            return index
    return 0

