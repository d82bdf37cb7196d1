"""Where things go: the entries' statistics and places on the x axis, the density windows, the
points to draw, the entry labels above the panels and the entry table under them."""

import math
from collections import namedtuple

import numpy as np

from .genome import BIN_MIN_LENGTH, POSITION_MAX_ENTRIES, TARGET_WINDOWS, _join, _new_bins

# Names longer than this are cut, on labels and in titles alike.
LABEL_WIDTH = 30
# No entry's mark above the panels is narrower than this many pixels: the axis stays linear,
# and a plasmid of 2 kb beside a chromosome of 5 Mb still shows where it lies.
MIN_MARK_PX = 4
# Entry labels above the panels: their size, the room kept between two, and the rows they are
# staggered over so that the labels of small neighbours do not run into one another.
LABEL_POINTS = 8
LABEL_GAP_POINTS = 4
LABEL_ROWS = 3
RIBBON_SHARE = 0.06
# The entry table under the panels: its text size, the longest name it shows and the share of
# the figure's height it may fill, beyond which it lists what fits and counts the rest.
TABLE_POINTS = 7
TABLE_NAME_WIDTH = 24
TABLE_SHARE = 0.3
LINE_SPACING = 1.2


# Per entry: its segments, those under the threshold (hits), the least p among those (inf when
# none), and the letters within them.
Stats = namedtuple("Stats", "segments hits least_p masked")


def entry_stats(genome):
    n = len(genome)
    segments = np.bincount(genome.plain_entry, minlength=n) + \
        np.bincount(genome.hit_entry, minlength=n)
    hits = np.bincount(genome.hit_entry, minlength=n)
    least_p = np.full(n, np.inf)
    np.minimum.at(least_p, genome.hit_entry, genome.hit_p)
    entry, _, letters = masked_pieces(genome)
    masked = np.bincount(entry, weights=letters, minlength=n).astype(np.int64)
    return Stats(segments, hits, least_p, masked)


def masked_pieces(genome):
    """The letters of the hits as pieces that do not overlap, in (entry, start) order: entry,
    first letter and count of letters of each hit's piece, 0 letters where earlier hits of its
    entry cover it all."""
    order = np.lexsort((genome.hit_start, genome.hit_entry))
    entry, start, end = (genome.hit_entry[order], genome.hit_start[order],
                         genome.hit_end[order])
    # On one line with a stretch per entry, a running maximum of the ends never reaches back
    # into an earlier entry, nor forward into a later one.
    key = entry * (int(genome.lengths.max(initial=0)) + 2)
    reach = np.maximum.accumulate(key + end) if len(end) else end
    covered = np.concatenate(([-1], reach[:-1])) - key if len(end) else end
    first = np.maximum(start, covered + 1)
    return entry, first, np.maximum(end - first + 1, 0)


def table_order(genome, stats):
    """The entries as the table lists them: those with hits by their least p, then the
    longest; then the rest, longest first."""
    return np.lexsort((np.arange(len(genome)), -genome.lengths, stats.least_p))


def windows(genome, target=TARGET_WINDOWS):
    """Left edges, widths, special-residue counts (None without the letters counted) and
    entry parity of windows of about total/target letters; a window never spans two entries,
    and an entry shorter than BIN_MIN_LENGTH is one window."""
    want = max(1, genome.total / target)
    counting = genome.bins is not None
    parts = []
    for index, (offset, length, parity) in enumerate(zip(genome.offsets.tolist(),
                                                         genome.lengths.tolist(),
                                                         genome.parity().tolist())):
        if length == 0:
            continue
        if length < BIN_MIN_LENGTH:
            count = int(genome.special[index]) if counting else 0
            parts.append(([offset], [length], [count], [parity]))
            continue
        width, counts = genome.bins[index] if counting else _new_bins(length)
        bins = len(counts)
        widths = np.full(bins, width, dtype=np.int64)
        widths[-1] = length - width * (bins - 1)
        group = max(1, round(want / width))
        starts = np.arange(0, bins, group)
        # A short tail window would be noise drawn as a spike; fold it into its neighbour.
        if len(starts) > 1 and length - starts[-1] * width < group * width / 2:
            starts = starts[:-1]
        sizes = np.add.reduceat(widths, starts)
        lefts = offset + np.concatenate(([0], np.cumsum(sizes)[:-1]))
        parts.append((lefts, sizes, np.add.reduceat(counts, starts),
                      np.full(len(starts), parity)))
    lefts, widths, counts, parity = (
        np.concatenate([np.asarray(part[k], np.int64) for part in parts]) if parts
        else np.zeros(0, np.int64) for k in range(4))
    return lefts, widths, counts if counting else None, parity


def masked_in_windows(genome, lefts, widths):
    """The masked letters within each window, from the pieces of the hits: the letters masked
    before each edge, less those before the edge to its left."""
    entry, first, letters = masked_pieces(genome)
    keep = letters > 0
    starts = genome.offsets[entry[keep]] + first[keep] - 1  # 0-based, ascending
    sizes = letters[keep]
    if not len(starts) or not len(lefts):
        return np.zeros(len(lefts))
    before = np.concatenate(([0], np.cumsum(sizes)))
    edges = np.append(lefts, lefts[-1] + widths[-1])
    last = np.searchsorted(starts, edges, side="right") - 1  # the last piece starting left of it
    at = np.maximum(last, 0)
    covered = np.where(last >= 0, before[at] + np.minimum(edges - starts[at], sizes[at]), 0)
    return np.diff(covered)


def choose_axis(genome, axis):
    if axis != "auto":
        return axis
    return "position" if len(genome) <= POSITION_MAX_ENTRIES else "entries"


class Placement:
    """Where a position within an entry stands on the x axis: along the entries laid end to
    end (positions), or within the entry's slot of width 1 (entries, longest first)."""

    def __init__(self, genome, mode):
        self.mode, n = mode, len(genome)
        if mode == "position":
            self.start, self.scale = genome.offsets.astype(float), np.ones(n)
            self.end = max(genome.total, 1)
            self.parity = genome.parity()
        else:
            self.order = np.argsort(-genome.lengths, kind="stable")
            rank = np.empty(n, np.int64)
            rank[self.order] = np.arange(n)
            self.start, self.scale = rank.astype(float), 1.0 / np.maximum(genome.lengths, 1)
            self.end = max(n, 1)
            self.parity = np.zeros(n, np.int64)

    def x(self, entry, position):
        """The x of 1-based POSITION (a letter's middle at p - 0.5) within ENTRY."""
        return self.start[entry] + (position - 0.5) * self.scale[entry]


# What the top panel draws: the plain points per entry parity, thinned, as (x, y); the
# segments under the threshold at their own places; p = 0, which has no height; the highest
# finite -log10 p; and how many segments there are to draw, before thinning.
Points = namedtuple("Points", "plain hits zero_x top count")
CHUNK_POINTS = 1 << 20


def points_to_draw(genome, threshold, grid, place):
    """Sorts the segments by how they are drawn. GRID is (columns, rows) of the spots the
    plain points are thinned to, over the axis and up to the threshold line."""
    line_y = -math.log10(threshold)
    steps = (place.end / grid[0], max(line_y, 1.0) / grid[1])
    keys, top, count = [], 0.0, 0
    for start in range(0, len(genome.plain_y), CHUNK_POINTS):
        part = slice(start, start + CHUNK_POINTS)
        y = genome.plain_y[part]
        drawn = np.isfinite(y)  # nan and negative p have no place on the axis
        entry, y = genome.plain_entry[part][drawn], y[drawn]
        count += len(y)
        top = max(top, float(np.max(y, initial=0.0)))
        column = (place.x(entry, genome.plain_mid[part][drawn]) / steps[0]).astype(np.int64)
        row = np.minimum(np.maximum(y, 0.0) / steps[1], grid[1]).astype(np.int64)
        keys.append(np.unique((place.parity[entry] * (grid[0] + 1) + column)
                              * (grid[1] + 1) + row))
    y = genome.hit_y
    zero = genome.hit_p == 0
    drawn = np.isfinite(y)
    x = place.x(genome.hit_entry, (genome.hit_start + genome.hit_end) * 0.5)
    count += int(drawn.sum() + zero.sum())
    top = max(top, float(np.max(y[drawn], initial=0.0)))
    return Points(_spots(keys, grid, steps), (x[drawn], y[drawn]), x[zero], top, count)


def _spots(keys, grid, steps):
    """The (x, y) of the centres of the grid spots that KEYS name, per entry parity."""
    cell, row = np.divmod(np.unique(_join(keys, np.int64)), grid[1] + 1)
    side, column = np.divmod(cell, grid[0] + 1)
    x, y = (column + 0.5) * steps[0], (row + 0.5) * steps[1]
    return tuple((x[side == s], y[side == s]) for s in (0, 1))


def unit_for(total):
    """The position unit that keeps the axis numbers short."""
    if total >= 2_000_000:
        return "Mb", 1e6
    if total >= 2_000:
        return "kb", 1e3
    return "bp", 1.0


def _bp(length):
    unit, scale = unit_for(length)
    return f"{length / scale:.3g} {unit}" if scale > 1 else f"{length} bp"


def mark_spans(genome, panel_px):
    """The x extent of each entry's mark: its own, or MIN_MARK_PX pixels about its middle when
    it is narrower; None for an entry of no letters."""
    # A hair over the least, which rounding would otherwise take under it.
    least = (MIN_MARK_PX + 0.01) * max(genome.total, 1) / panel_px
    spans = []
    for offset, length in zip(genome.offsets.tolist(), genome.lengths.tolist()):
        half = max(length, least) / 2
        spans.append((offset + length / 2 - half, offset + length / 2 + half) if length
                     else None)
    return spans



# An entry label: its centre in pixels from the panel's left edge, the row it goes in (0 the
# lowest), its text, and the first and last entries it stands for (a range when crowded).
Label = namedtuple("Label", "centre row text first last")


def plan_labels(spans, names, text_px, gap, rows=LABEL_ROWS):
    """Labels for the entries along the panel, left to right. SPANS holds (left, right) in
    pixels per entry, None for an entry of no letters; NAMES the names to show; TEXT_PX gives a
    text's width in pixels; GAP is the least room between two labels of a row.

    An entry whose name fits under its span gets the name; the others get their number, in
    the lowest row where it does not run into the label before it. Where no row has room,
    the crowded entries share one label, a range "5–7" over their spans, grown rightwards
    (or, at the end of a crowd, leftwards into the labels of its numbered neighbours) until
    it fits: each entry stays findable, as the table under the panels lists its number and
    the marks show where each one of a range lies. Returns the labels and the set of
    entries labelled with their names."""
    placed = [[] for _ in range(rows)]  # per row, (right edge, Label) left to right
    history = []  # the row of each label placed, so that the last one can be taken back
    named, run = set(), None  # run: the first and last entry of a numbered label pending

    def place(label, half, force=False):
        free = [r for r in range(rows) if not placed[r]
                or placed[r][-1][0] + gap <= label.centre - half]
        if not free and not force:
            return False
        row = free[0] if free else min(range(rows), key=lambda r: placed[r][-1][0])
        placed[row].append((label.centre + half, label._replace(row=row)))
        history.append(row)
        return True

    def numbered(first, last):
        text = str(first + 1) if first == last else f"{first + 1}–{last + 1}"
        centre = (spans[first][0] + spans[last][1]) / 2
        return Label(centre, None, text, first, last), text_px(text) / 2

    def close_run(force):
        nonlocal run
        first, last = run
        while not place(*numbered(first, last)):
            previous = placed[history[-1]][-1][1] if history else None
            if previous is None or previous.first in named:
                if force:
                    place(*numbered(first, last), force=True)
                    break
                return False
            placed[history.pop()].pop()  # merged into this one
            first = previous.first
            run = (first, last)
        run = None
        return True

    for index, span in enumerate(spans):
        if span is None:
            continue
        width = text_px(names[index])
        if width + gap <= span[1] - span[0] and (run is None or close_run(False)):
            if place(Label((span[0] + span[1]) / 2, None, names[index], index, index),
                     width / 2):
                named.add(index)
                continue
        run = (index if run is None else run[0], index)
        if place(*numbered(*run)):
            run = None
    if run is not None:
        close_run(True)
    labels = sorted((label for row in placed for _, label in row), key=lambda l: l.first)
    return labels, named



def entry_table(genome, stats, threshold, rows, width):
    """The entries that matter as columns of text, each a heading over at most ROWS entries,
    as many columns as WIDTH characters hold (one at least): those with the most significant
    segments first, then the longest (table_order), each with its number in the input, name,
    length, segments under the threshold and masked share; a last line counts the entries
    left out."""
    n = len(genome)
    if rows < 1:
        return [f"{n:,} entries: too many to list at this size"]
    order = table_order(genome, stats)
    heading = ("#", "entry", "bp", f"p<{threshold:g}", "masked")
    # The widths come from the rows that could be shown: a column per WIDTH characters.
    shown = order[:rows * max(1, width // 40)]
    cells = [(f"{i + 1:,}", _cut(_printable(genome.name(i)), TABLE_NAME_WIDTH),
              f"{int(genome.lengths[i]):,}", f"{int(stats.hits[i]):,}",
              _percent(stats.masked[i], genome.lengths[i])) for i in shown.tolist()]
    sizes = [max(len(cell[k]) for cell in cells + [heading]) for k in range(5)]
    gap = 4
    columns = max(1, (width + gap) // (sum(sizes) + 4 * 2 + gap))
    count = n if n <= columns * rows else columns * rows - 1
    count = min(count, len(cells))

    def row(cell):
        return (f"{cell[0]:>{sizes[0]}}  {cell[1]:<{sizes[1]}}  {cell[2]:>{sizes[2]}}  "
                f"{cell[3]:>{sizes[3]}}  {cell[4]:>{sizes[4]}}").rstrip()

    lines = [row(cell) for cell in cells[:count]]
    if count < n:
        rest = order[count:]
        with_hits = int(np.count_nonzero(stats.hits[rest]))
        lines.append(f"… and {n - count:,} more, "
                     + (f"{with_hits:,} of them with p<{threshold:g}" if with_hits
                        else f"none with p<{threshold:g}"))
    per_column = -(-len(lines) // columns)
    return ["\n".join([row(heading)] + lines[start:start + per_column])
            for start in range(0, len(lines), per_column)]


def _percent(part, whole):
    if not part:
        return "0%"
    share = 100 * part / max(whole, 1)
    return "<0.1%" if share < 0.1 else f"{share:.1f}%"


_ADVANCES = {}


def text_width(text, points, monospace=False):
    """The width of TEXT in points in the default font (or the monospace one), from the
    font's advances; a character outside ASCII is taken as an em wide."""
    if monospace not in _ADVANCES:
        from matplotlib.font_manager import FontProperties, findfont, get_font

        font = get_font(findfont(FontProperties(family="monospace" if monospace else None)))
        font.set_size(1, 72)
        _ADVANCES[monospace] = {chr(c): font.load_char(c).linearHoriAdvance / 65536
                                for c in range(32, 127)}
    advances = _ADVANCES[monospace]
    return points * sum(advances.get(c, 1.0) for c in text)


def _printable(text):
    return "".join(c if c.isprintable() else "?" for c in text)


def _cut(text, width):
    return text if len(text) <= width else text[:width - 1] + "…"


def _default_title(genome):
    if len(genome) == 1:
        return _cut(_printable(genome.header), 90)
    return f"{len(genome):,} entries, {genome.total:,} bp"

