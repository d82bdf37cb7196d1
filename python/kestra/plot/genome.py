"""What the figure needs of the entries and segments read: gathered batch after batch
(Collection), then held as arrays (Genome)."""

from array import array

import numpy as np

# About as many density windows as a figure has pixel columns to show them.
TARGET_WINDOWS = 1000
# An entry's letters are counted in bins as fine as a window would be were it the only entry,
# and no finer than MIN_BIN; one shorter than BIN_MIN_LENGTH is one bin, which its #Overall
# line gives without reading its letters.
BINS_PER_ENTRY = TARGET_WINDOWS
MIN_BIN = 32
BIN_MIN_LENGTH = 2 * MIN_BIN
# Up to this many entries stand side by side along one axis of positions; more are drawn one
# slot each, longest first, where a contig of a few hundred letters is as visible as a
# chromosome and no scale is bent to make it so.
POSITION_MAX_ENTRIES = 100


class Collection:
    """What the figure needs of the entries and segments read, gathered batch after batch:
    names, lengths and special residues per entry, the letters in bins while the entries may
    still stand along one axis of positions, and the segments, split at the threshold."""

    def __init__(self, threshold, axis="auto"):
        self.threshold, self.axis = threshold, axis
        self.names, self.name_ends = bytearray(), array("q")
        self.lengths, self.special = array("q"), array("q")
        self.bins = {} if axis != "entries" else None  # entry -> (bin width, counts)
        self.plain = ([], [], [])  # entry, midpoint, -log10 p
        self.hits = ([], [], [], [], [])  # entry, start, end, p, height
        self.header, self.letters, self.kind = "", "", "report"
        self.name_arrays = []  # the names as arrays, as read from a lengths file
        self.special_known = True

    def add_entry(self, name, length, special):
        """Adds an entry of NAME (its header up to the first space or tab); returns its index."""
        self.names += name
        self.name_ends.append(len(self.names))
        self.lengths.append(length)
        self.special.append(special)
        return len(self.lengths) - 1

    def add_entries(self, names, lengths, special):
        """Adds entries of NAMES (an array of bytes), LENGTHS and SPECIAL residues at once."""
        self.name_arrays.append(names)
        if not self.name_ends and len(names):
            self.header = bytes(names[0]).decode("utf-8", "replace")
        base = len(self.names)
        self.names += b"".join(names.tolist())
        self.name_ends.extend((base + np.cumsum(np.char.str_len(names))).tolist())
        self.lengths.extend(lengths.tolist())
        self.special.extend(special.tolist())

    def binning(self, length):
        """Whether to count the letters of an entry of LENGTH in bins."""
        if self.bins is not None and self.axis == "auto" and \
                len(self.lengths) >= POSITION_MAX_ENTRIES:
            self.bins = None  # this entry is one too many to stand along positions
        return self.bins is not None and length >= BIN_MIN_LENGTH

    def add_segments(self, entry, start, end, p):
        """Segments of 1-based START to END with p-values P, of entries ENTRY (arrays)."""
        with np.errstate(divide="ignore", invalid="ignore"):
            height = -np.log10(p)
        self._split(entry, start, end, p, height, (p < self.threshold) & (p >= 0))

    def add_masked(self, entry, start, end, height):
        """Segments a BED gives as masked, at the height their score gives."""
        self._split(entry, start, end, 10.0 ** -height, height, np.ones(len(entry), bool))

    def _split(self, entry, start, end, p, height, hit):
        plain = ~hit
        for column, values in zip(self.plain, (entry[plain].astype(np.int32),
                                               ((start + end) * 0.5)[plain].astype(np.float32),
                                               height[plain].astype(np.float32))):
            column.append(values)
        for column, values in zip(self.hits, (entry, start, end, p, height)):
            column.append(values[hit])


def _join_and_clear(parts, dtype):
    joined = _join(parts, dtype)
    parts.clear()
    return joined


def _join(parts, dtype=np.float64):
    return np.concatenate(parts).astype(dtype, copy=False) if parts else np.zeros(0, dtype)


class Genome:
    """The entries and segments read, as arrays, with the entries' places on the axis."""

    def __init__(self, collection):
        c = collection
        self.kind, self.header, self.letters = c.kind, c.header, c.letters
        self.name_blob, self.name_ends = bytes(c.names), np.frombuffer(c.name_ends, np.int64)
        self.lengths = np.frombuffer(c.lengths, np.int64)
        self.special = np.frombuffer(c.special, np.int64) if c.special_known else None
        self.bins = c.bins
        self.offsets = np.concatenate(([0], np.cumsum(self.lengths)[:-1])).astype(np.int64)
        self.total = int(self.lengths.sum())
        # Kept small, as they may be tens of millions, and joined a column at a time.
        self.plain_entry, self.plain_mid, self.plain_y = (
            _join_and_clear(column, dtype)
            for column, dtype in zip(c.plain, (np.int32, np.float32, np.float32)))
        self.hit_entry, self.hit_start, self.hit_end, self.hit_p, self.hit_y = (
            _join(c.hits[0], np.int64), _join(c.hits[1], np.int64), _join(c.hits[2], np.int64),
            _join(c.hits[3]), _join(c.hits[4]))

    def __len__(self):
        return len(self.lengths)

    def name(self, index):
        start = int(self.name_ends[index - 1]) if index else 0
        return self.name_blob[start:int(self.name_ends[index])].decode("utf-8", "replace") \
            or "(unnamed)"

    def parity(self):
        """0/1 per entry, alternating over the entries that take room on the axis."""
        rooms = self.lengths > 0
        return np.where(rooms, (np.cumsum(rooms) - 1) % 2, 0)



def _new_bins(length):
    width = max(MIN_BIN, -(-length // BINS_PER_ENTRY))
    return width, np.zeros(-(-length // width), dtype=np.int64)

