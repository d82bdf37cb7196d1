"""KESTRA from Python: the compositionally biased segments of DNA, in memory.

scan(sequence, **options) analyses letters and returns a Result, whose segments are a NumPy
structured array (start, end, length, special, p_value, masked; start 0-based, as the
command's table); mask(sequence, hard=False, **options) returns the letters masked as -L
(lower case) or -F (N) masks them; read(path, threads=1, **options) yields every entry of a
FASTA or FASTQ file, plain or compressed, in input order. The work is done in C++, without
holding the interpreter's lock. kestra.plot draws what kestra found.

The options are keywords, each one of the command's switches or long options:

    window (-W), linkage (-E), estimate_linkage (-K), window_p (-P), merge (False: -N),
    residues (-R), frequencies (-A -T -G -C: four of A, T, G, C, or a dict such as
    {"A": 0.3, ...}; None or unset for the sequence's own), mask_p (-M), shuffles (-S),
    generated (-B), seed (--seed), background (--background), mask_evalue (--mask-evalue),
    evalues (--evalues), evalue_entries (--evalue-entries), keep_case (--keep-case, for mask)

A value the command refuses raises ValueError with the command's words.
"""
import os
import sys

# The compiled core may lie in another directory of the path (a build tree) than the modules:
# every directory named kestra on the path is one of the package's, as pkgutil.extend_path
# would take them, without importing pkgutil (and typing) at every start.
def _extend_path(path):
    for place in sys.path:
        found = os.path.join(place, __name__) if isinstance(place, str) else None
        if found is not None and found not in path and os.path.isdir(found):
            path.append(found)
    return path


__path__ = _extend_path(list(__path__))

try:
    from . import _kestra
except ImportError:  # a checkout without the compiled core: kestra.plot alone
    _kestra = None

__all__ = ["scan", "mask", "read", "Result", "Entry"]


def _core():
    if _kestra is None:
        raise ImportError("kestra's compiled core (kestra._kestra) is not built or installed")
    return _kestra


def scan(sequence, **options):
    """Analyses the letters of one sequence (str or bytes; characters other than ASCII letters
    and '-' are left out, as a FASTA reader leaves them out) and returns a Result:

    segments             a NumPy structured array, fields start (0-based), end, length,
                         special, p_value, masked: pandas.DataFrame(result.segments)
    length               letters analysed
    masked_positions     positions inside masked segments
    overall              (special residues, p-value, lower tail, normal approximation valid)
    linkage              the linkage distance used
    special_probability  of a special residue at a position
    frequencies          A, T, G, C used
    seed                 of the random sequences of shuffles or generated

    Options are keywords (see the package's help); a bad value, or a sequence the command
    cannot analyse, raises ValueError with the command's words."""
    return _core().scan(sequence, **options)


def mask(sequence, hard=False, **options):
    """Returns the letters of the sequence with its masked segments in lower case, as -L masks
    them, or with hard=True as N, as -F does; the others upper-cased unless keep_case=True."""
    return _core().mask(sequence, hard, **options)


def read(path, threads=1, **options):
    """Yields every entry of the file at path (FASTA or FASTQ, plain or compressed; "-" for
    standard input) in input order, analysed in C++ on `threads` threads. Each Entry has
    name, header, length, skipped (why it was skipped, in the command's words, or None) and
    result (a Result, or None when skipped). A bad option raises ValueError; a file that
    cannot be opened or read, RuntimeError."""
    return _core().Reader(str(path), threads, **options)


def __getattr__(name):
    if name in ("Result", "Entry"):
        return getattr(_core(), name)
    raise AttributeError(name)
