from typing import Iterator, Mapping, Optional, Sequence, Tuple, Union

import numpy

Frequencies = Union[Sequence[Optional[float]], Mapping[str, Optional[float]], None]

class Result:
    """What one sequence gives."""
    segments: numpy.ndarray  # fields start, end, length, special, p_value, masked
    length: int
    masked_positions: int
    overall: Tuple[int, float, bool, bool]  # specials, p-value, lower tail, valid
    linkage: int
    special_probability: float
    frequencies: Tuple[float, float, float, float]  # A, T, G, C
    seed: int

class Entry:
    """An entry of a file: its result, or why it was skipped."""
    name: str
    header: str
    length: int
    skipped: Optional[str]
    result: Optional[Result]

def scan(sequence: Union[str, bytes], *, window: int = 0, linkage: int = 5,
         estimate_linkage: bool = False, window_p: float = 0.05, merge: bool = True,
         residues: str = "A", frequencies: Frequencies = None, mask_p: Optional[float] = None,
         shuffles: int = 0, generated: int = 0, seed: int = 0, background: Optional[str] = None,
         mask_evalue: Optional[float] = None, evalues: bool = False, evalue_entries: int = 0,
         keep_case: bool = False) -> Result:
    """Analyses the letters of one sequence."""

def mask(sequence: Union[str, bytes], hard: bool = False, *, window: int = 0, linkage: int = 5,
         estimate_linkage: bool = False, window_p: float = 0.05, merge: bool = True,
         residues: str = "A", frequencies: Frequencies = None, mask_p: Optional[float] = None,
         shuffles: int = 0, generated: int = 0, seed: int = 0, background: Optional[str] = None,
         mask_evalue: Optional[float] = None, evalues: bool = False, evalue_entries: int = 0,
         keep_case: bool = False) -> str:
    """The letters with their masked segments in lower case (or N with hard=True)."""

def read(path: str, threads: int = 1, *, window: int = 0, linkage: int = 5,
         estimate_linkage: bool = False, window_p: float = 0.05, merge: bool = True,
         residues: str = "A", frequencies: Frequencies = None, mask_p: Optional[float] = None,
         shuffles: int = 0, generated: int = 0, seed: int = 0, background: Optional[str] = None,
         mask_evalue: Optional[float] = None, evalues: bool = False, evalue_entries: int = 0,
         keep_case: bool = False) -> Iterator[Entry]:
    """Every entry of a FASTA or FASTQ file, in input order."""
