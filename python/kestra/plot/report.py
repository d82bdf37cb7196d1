"""A report of kestra: whole entries a batch at a time, each matched by BLOCK; an entry that
does not match, or is too large to buffer, is read a line at a time, which says what is wrong
with it."""

import io
import re

import numpy as np

from .genome import _new_bins
from .source import ReportError

# An entry larger than BLOCK_LIMIT is read a line at a time, so that memory does not grow with
# it; its letters a chunk at a time, its segments a bulk at a time.
BLOCK_LIMIT = 1 << 25
CHUNK_LETTERS = 1 << 20
SEGMENT_BULK = 1 << 16
# One entry of a report, matched whole; the groups: length, special residues, name (the header
# up to its first space or tab, as BED lines give it), letters, count of segments, segment
# lines, count of special residues. The lines are taken possessively (Python 3.11): a repeat
# that may backtrack keeps a mark per line, a hundred megabytes for the eighteen of E. coli's
# report. A large entry is found by its parts instead (LargeEntry), as a regular expression
# walks its lines one by one.
HEAD = (rb"Length=(\d+) W=-?\d+ E=-?\d+(?: P=\S+)?\nSpecial residues: ([^\n]*); [^;\n]*\n"
        rb"(?:Estimates using -?\d+ \w+ sequences\n)?\n>([^ \t\n]*)[^\n]*\n")
TAIL = rb"#Overall: (\d+) \S+ \S+?\*? \([+-]\)\n"
BLOCK = re.compile(rb"^" + HEAD + rb"((?:[^\n]+\n)*+)\n#Segments: (\d+)\n((?:[^\n]+\n)*+)\n"
                   + TAIL, re.M)
HEAD_PART, COUNT_PART, TAIL_PART = (re.compile(pattern) for pattern in
                                    (HEAD, rb"#Segments: (\d+)\n", TAIL))
LARGE_ENTRY = 1 << 20
LENGTH_LINE = re.compile(rb"Length=(\d+) W=-?\d+ E=-?\d+(?: P=\S+)?")
SPECIAL_LINE = re.compile(rb"Special residues: (.*); [^;]*")
ESTIMATES_LINE = re.compile(rb"Estimates using -?\d+ \w+ sequences")
SEGMENTS_LINE = re.compile(rb"#Segments: (\d+)")
OVERALL_LINE = re.compile(rb"#Overall: (\d+) \S+ \S+?\*? \([+-]\)")


def read_report(source, collection):
    while True:
        done, gap = _read_batch(source, collection)
        if source.left() == 0 and (source.eof or not source.more()):
            return
        if done and not gap:
            continue  # what is left may be the start of an entry: read on
        if not gap and source.left() < BLOCK_LIMIT and source.more():
            continue
        _read_block_by_lines(source, collection)


def _read_batch(source, collection):
    """Reads the whole entries buffered at the source's position. Returns how many, and whether
    the next one is not one BLOCK matches (while another one after it is)."""
    buf, start = source.buf, source.pos
    tail = buf.find(b"\n#Overall: ", start)
    if not source.eof and (tail < 0 or buf.find(b"\n", tail + 1) < 0):
        return 0, False  # no whole entry buffered: no need to look
    blocks, pos, gap = [], start, False
    if tail - start > LARGE_ENTRY:
        entry = LargeEntry.find(buf, start)
        if entry is None:
            return 0, True
        blocks, pos = [entry], entry.end()
    else:
        for match in BLOCK.finditer(buf, start):
            if match.start() != pos:
                gap = True
                break
            blocks.append(match)
            pos = match.end()
    if not blocks:
        return 0, gap
    segments = _batch_segments(buf, blocks) if _batch_is_whole(buf, blocks) else None
    if segments is None:
        # Somewhere in it is a fault: read it a line at a time, which names it.
        for _ in blocks:
            _read_block_by_lines(source, collection)
        return len(blocks), gap
    first = len(collection.lengths)
    if not first:
        collection.header = buf[blocks[0].start(3):buf.find(b"\n", blocks[0].start(3))].decode(
            "utf-8", "replace")
    for match in blocks:
        length = int(match[1])
        wanted = collection.binning(length)
        index = collection.add_entry(match[3], length, int(match[7]))
        if wanted:
            bins = _new_bins(length)
            _bin_letters(bins, _letter_flags(match[2]),
                         buf[match.start(4):match.end(4)].replace(b"\n", b""), 0)
            collection.bins[index] = bins
    collection.letters = collection.letters or blocks[0][2].decode("ascii", "replace")
    block_of, seg_start, seg_end, p = segments
    collection.add_segments(block_of + first, seg_start, seg_end, p)
    source.skip_to(pos)
    return len(blocks), gap


def _batch_is_whole(buf, blocks):
    """Whether each entry has as many letters as its Length= line says, and as many segment
    lines as its #Segments: line says."""
    count = buf.count
    for match in blocks:
        start, end = match.span(4)
        if end - start - count(b"\n", start, end) != int(match[1]) or \
                count(b"\n", *match.span(6)) != int(match[5]):
            return False
    return True


def _batch_segments(buf, blocks):
    """The batch's segments as arrays (entry within the batch, start, end, p), or None if a
    line is not a segment's, or a segment is out of turn or outside its entry."""
    counts = [int(m[5]) for m in blocks]
    block_of = np.repeat(np.arange(len(blocks)), counts)
    index = np.arange(len(block_of)) - np.repeat(np.cumsum([0] + counts[:-1]), counts) + 1
    lengths = np.array([int(m[1]) for m in blocks], np.int64)[block_of]
    segments = _parse_segments(b"".join(buf[m.start(6):m.end(6)] for m in blocks), index,
                               lengths)
    return None if segments is None else (block_of, *segments)


def _parse_segments(text, index, lengths):
    """Start, end and p of the segment lines of TEXT, "index start end length residues p
    letters", or None unless each line is numbered as INDEX says and lies within its entry
    of LENGTHS letters; numbers whole and positive where they must be, as the lines reader
    has them. Read by numpy's parser, which makes no Python object a line."""
    if not len(index):
        return np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros(0)
    try:
        number, start, end, p = np.loadtxt(io.BytesIO(text), delimiter=" ", comments=None,
                                           usecols=(0, 1, 2, 5), ndmin=2).T
    except ValueError:
        return None
    if len(number) != len(index) or np.any(number != index) or np.any(start < 1) or \
            np.any(start > end) or np.any(end > lengths) or \
            np.any(start != np.floor(start)) or np.any(end != np.floor(end)):
        return None
    return start.astype(np.int64), end.astype(np.int64), p


class LargeEntry:
    """An entry of a report found by its parts, with finds that do not walk its lines: the
    groups BLOCK would give, as a match gives them."""

    def __init__(self, buf, spans):
        self.buf, self.spans = buf, spans

    @classmethod
    def find(cls, buf, start):
        """The entry at START, or None if it is not whole, or not one BLOCK would match."""
        head = HEAD_PART.match(buf, start)
        if head is None:
            return None
        # The letters end at the first empty line, which #Segments: follows; so do the
        # segments, and #Overall:.
        letters_end = buf.find(b"\n\n", head.end() - 1) + 1
        count = COUNT_PART.match(buf, letters_end + 1) if letters_end else None
        if count is None or buf[letters_end:letters_end + 1] != b"\n":
            return None
        segments_end = buf.find(b"\n\n", count.end() - 1) + 1
        tail = TAIL_PART.match(buf, segments_end + 1) if segments_end else None
        if tail is None:
            return None
        return cls(buf, [(start, tail.end()), *(head.span(k) for k in (1, 2, 3)),
                         (head.end(), letters_end), count.span(1),
                         (count.end(), segments_end), tail.span(1)])

    def start(self, group=0):
        return self.spans[group][0]

    def end(self, group=0):
        return self.spans[group][1]

    def span(self, group=0):
        return self.spans[group]

    def __getitem__(self, group):
        return self.buf[slice(*self.spans[group])]


_FLAGS = {}


def _letter_flags(special):
    """A table of 1 for the special residues' letters, either case, and 0 for the rest."""
    if special not in _FLAGS:
        table = np.zeros(256, dtype=np.uint8)
        for letter in special.decode("ascii", "replace"):
            if letter.isalpha():
                table[ord(letter.upper())] = table[ord(letter.lower())] = 1
        _FLAGS[special] = table
    return _FLAGS[special]



def _bin_letters(bins, table, letters, done):
    """Adds the special residues among LETTERS, which start DONE letters into the entry, to
    BINS (width, counts); returns the letters counted so far."""
    if not letters:
        return done
    width, counts = bins
    end = done + len(letters)
    flags = table[np.frombuffer(letters, dtype=np.uint8)]
    first = done // width
    # Each slice runs from a bin boundary (or the start of LETTERS) to the next boundary.
    cuts = np.arange((first + 1) * width, end, width) - done
    sums = np.add.reduceat(flags, np.concatenate(([0], cuts)), dtype=np.int64)
    counts[first:first + len(sums)] += sums
    return end


def _read_block_by_lines(source, collection):
    """Reads one entry a line at a time, its letters a chunk at a time."""
    first = source.next_or_none()
    match = LENGTH_LINE.fullmatch(first) if first is not None else None
    if match is None:
        raise source.malformed("a Length= line")
    length = int(match[1])
    special = source.expect(SPECIAL_LINE, "the special residues")[1]
    line = source.next()
    if ESTIMATES_LINE.fullmatch(line):
        line = source.next()
    if line != b"":
        raise source.malformed("an empty line")
    header = source.next()
    if not header.startswith(b">"):
        raise source.malformed("a >header line")
    bins = _new_bins(length) if collection.binning(length) else None
    table, chunk, size, done = _letter_flags(special), [], 0, 0
    while True:
        line = source.next()
        if line == b"" or size >= CHUNK_LETTERS:
            letters = b"".join(chunk)
            if done + len(letters) > length:
                raise ReportError(f"malformed report (line {source.number}: more letters than "
                                  f"the Length= line's {length})")
            done = _bin_letters(bins, table, letters, done) if bins else done + len(letters)
            chunk, size = [], 0
        if line == b"":
            break
        chunk.append(line)
        size += len(line)
    if done != length:
        raise ReportError(f"malformed report (line {source.number}: the entry has {done} "
                          f"letters where its Length= line says {length})")
    count = int(source.expect(SEGMENTS_LINE, "#Segments:")[1])
    if not collection.lengths:
        collection.header = header[1:].decode("utf-8", "replace")
    # Added before its segments, which are added a bulk at a time; its count of special
    # residues comes last.
    index = collection.add_entry(re.split(rb"[ \t]", header[1:], maxsplit=1)[0], length, 0)
    collection.letters = collection.letters or special.decode("ascii", "replace")
    if bins:
        collection.bins[index] = bins
    done = 0
    while done < count:
        number = source.number
        lines = source.take_lines(min(count - done, SEGMENT_BULK))
        segments = _segments_of_lines(lines, done, length)
        if segments is None:  # read a line at a time, which names a line at fault
            segments = _segments_one_by_one(lines, number, done, length)
        collection.add_segments(np.full(len(lines), index, np.int64), *segments)
        done += len(lines)
    if source.next() != b"":
        raise source.malformed("an empty line after the segments")
    collection.special[index] = int(source.expect(OVERALL_LINE, "#Overall:")[1])


def _segments_of_lines(lines, done, length):
    """Start, end and p of segment lines numbered from DONE + 1 on, or None (_parse_segments)."""
    if b"" in lines:  # which the parser would pass over
        return None
    return _parse_segments(b"\n".join(lines) + b"\n",
                           np.arange(done + 1, done + len(lines) + 1), length)


def _segments_one_by_one(lines, number, done, length):
    rows = []
    for expected, line in enumerate(lines, done + 1):
        number += 1
        fields = line.split(b" ", 6)
        try:
            index, start, end = int(fields[0]), int(fields[1]), int(fields[2])
            p = float(fields[5])
        except (ValueError, IndexError):
            raise ReportError(f"malformed report (line {number}: expected segment "
                              f"{expected})") from None
        if index != expected or not 1 <= start <= end <= length or len(fields) != 7:
            raise ReportError(f"malformed report (line {number}: expected segment {expected} "
                              f"within 1..{length})")
        rows.append((start, end, p))
    return tuple(np.array(column, dtype) for column, dtype in
                 zip(zip(*rows), (np.int64, np.int64, np.float64)))

