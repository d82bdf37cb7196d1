"""Draws the figure: the segments' -log10 p, the masked share and the density of the special
residues in panels along the entries, the entries' marks and labels above them and their table
under them; and writes it whole into place."""

import math
import os
import stat
import tempfile
from collections import namedtuple

import numpy as np

from .layout import (LABEL_GAP_POINTS, LABEL_POINTS, LABEL_WIDTH, LINE_SPACING, RIBBON_SHARE,
                     TABLE_POINTS, TABLE_SHARE, Placement, _bp, _cut, _default_title,
                     _printable, choose_axis, entry_stats, entry_table, mark_spans,
                     masked_in_windows, plan_labels, points_to_draw, text_width, unit_for,
                     windows)

# Plain points are thinned to a grid this many times finer than the pixels, which no
# opaque marker can tell from the full set.
THINNING = 4
# More hits than this are drawn as an image in vector files too.
RASTER_HITS = 10_000

COLOURS = {"points": ("#1f4e79", "#82a9d1"), "density": ("#2a7f62", "#93c9b0"),
           "masked": "#e08214", "hit": "#d62728", "threshold": "#d62728", "mean": "#111111"}


def plot(genome, output, threshold, title, size, dpi, axis="auto"):
    from matplotlib.figure import Figure

    fig = Figure(figsize=size, dpi=dpi)
    draw(fig, genome, threshold, title, axis)
    save(fig, output)


def draw(fig, genome, threshold, title=None, axis="auto"):
    """Draws GENOME on FIG, a Figure of the picture's size and dpi."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    if not isinstance(fig.canvas, FigureCanvasAgg):
        FigureCanvasAgg(fig)  # the layout measures text with it, whatever the format
    fig.set_layout_engine("constrained")
    mode = choose_axis(genome, axis)
    many = len(genome) > 1
    composition = genome.bins is not None if mode == "position" else genome.special is not None
    panels = _panels(fig, mode == "position" and many, composition, many)
    place = Placement(genome, mode)
    stats = entry_stats(genome)
    # A title given may hold mathematics ($...$); an entry's name is shown as it is.
    fig.suptitle(title if title else _default_title(genome), parse_math=bool(title))
    _draw_points(panels.top, genome, threshold, place)
    if mode == "position":
        _draw_along_positions(panels, genome, place, many)
    else:
        _draw_by_entry(panels, genome, place, stats)
    _set_x_axis(panels.bottom, genome, place, many)
    if many:
        layout = fig.get_layout_engine()
        layout.execute(fig)
        panel_px = panels.top.get_position().width * fig.bbox.width
        rows = 0
        if panels.ribbon is not None:
            rows = _mark_and_label_entries(panels.ribbon, genome, place, panel_px)
        # The labels and the table take at most half the panels' height between them.
        spare = sum(ax.get_position().height for ax in panels.drawn) * fig.bbox.height / 2
        spare = spare * 72 / fig.dpi - rows * LABEL_POINTS * LINE_SPACING
        _list_entries(panels.table, genome, stats, threshold, panel_px, spare)
        layout.execute(fig)


def _draw_along_positions(panels, genome, place, many):
    """The masked share and the density of special residues in windows; bands behind every
    other entry, as most segments sit near 0 where the points' colours alone would not show
    where one entry ends."""
    lefts, widths, counts, parity = windows(genome)
    _draw_masked_windows(panels.masked, masked_in_windows(genome, lefts, widths), lefts, widths)
    if panels.density is not None:
        _draw_density(panels.density, genome, lefts, widths, counts, parity)
    if many:
        _bars(panels.top, [(o, o + n) for o, n, s in zip(
            genome.offsets.tolist(), genome.lengths.tolist(), place.parity.tolist())
            if s == 1 and n], color="0.93", zorder=0)


def _draw_by_entry(panels, genome, place, stats):
    """The masked share and the share of special residues, a point an entry."""
    lengths = np.maximum(genome.lengths, 1)
    _draw_entry_shares(panels.masked, place, stats.masked / lengths, COLOURS["masked"])
    panels.masked.set_ylabel("masked\nshare")
    if panels.density is not None:
        _draw_entry_shares(panels.density, place, genome.special / lengths,
                           COLOURS["density"][0])
        _mean_line(panels.density, genome.special.sum() / max(genome.total, 1))
        panels.density.set_ylabel(f"{_special_label(genome)}\nshare")


Panels = namedtuple("Panels", "ribbon top masked density table bottom drawn")


def _panels(fig, ribbon, composition, table):
    """The axes: the strip of entry marks (entries along positions), the segments, the masked
    share, the density of the special residues (when known), and the entry table."""
    heights = [3 * RIBBON_SHARE] * ribbon + [3, 0.8] + [1] * composition + [0.01] * table
    grid = fig.add_gridspec(len(heights), 1, height_ratios=heights)
    rows = iter(range(len(heights)))
    ribbon_row = next(rows) if ribbon else None
    top = fig.add_subplot(grid[next(rows)])
    masked = fig.add_subplot(grid[next(rows)], sharex=top)
    density = fig.add_subplot(grid[next(rows)], sharex=top) if composition else None
    table_ax = fig.add_subplot(grid[next(rows)]) if table else None
    ribbon_ax = fig.add_subplot(grid[ribbon_row], sharex=top) if ribbon else None
    for ax in (ribbon_ax, table_ax):
        if ax is not None:
            ax.set_axis_off()
    drawn = [ax for ax in (top, masked, density) if ax is not None]
    for ax in drawn[:-1]:
        ax.tick_params(labelbottom=False)
    return Panels(ribbon_ax, top, masked, density, table_ax, drawn[-1], drawn)


def _set_x_axis(ax, genome, place, many):
    from matplotlib.ticker import FuncFormatter, MaxNLocator

    ax.set_xlim(0, place.end)
    if place.mode == "position":
        unit, scale = unit_for(genome.total)
        ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v / scale:g}"))
        ax.set_xlabel(f"{'position along the entries' if many else 'position'} ({unit})")
        return
    n = len(genome)

    def tick(value, _):
        rank = int(round(value))
        if abs(value - rank) > 1e-9 or not 0 <= rank < n:
            return ""
        return f"{rank + 1:,}\n{_bp(int(genome.lengths[place.order[rank]]))}"

    ax.xaxis.set_major_locator(MaxNLocator(nbins=8, integer=True))
    ax.xaxis.set_major_formatter(FuncFormatter(tick))
    ax.set_xlabel(f"entries, longest first ({n:,}; under each tick its rank and length)")


def _draw_points(ax, genome, threshold, place):
    from matplotlib.lines import Line2D

    width, height = ax.figure.bbox.size
    points = points_to_draw(genome, threshold, (int(width * THINNING), int(height * THINNING)),
                            place)
    for side in (0, 1):
        # Rasterised: in a vector file a path per segment would make it unusably large.
        ax.plot(*points.plain[side], ".", ms=2.5, mew=0, color=COLOURS["points"][side],
                rasterized=True)
    ax.plot(*points.hits, "o", ms=4, mew=0, color=COLOURS["hit"], gid="hits",
            rasterized=len(points.hits[0]) > RASTER_HITS)
    line_y = -math.log10(threshold)
    ceiling = max(points.top, line_y) * 1.12 + 0.5
    # A little room under 0 keeps the many p = 1 segments from hiding in the frame.
    ax.set_ylim(-0.02 * ceiling, ceiling)
    if len(points.zero_x):
        # p = 0 has no height of its own: such segments sit on the frame, marked apart.
        ax.plot(points.zero_x, np.full(len(points.zero_x), ceiling), "^", ms=7,
                color=COLOURS["hit"], clip_on=False)
    ax.axhline(line_y, color=COLOURS["threshold"], lw=0.8, ls="--")
    ax.set_ylabel(r"$-\log_{10}\,p$")
    hits = len(points.hits[0]) + len(points.zero_x)  # p = 0 is under any threshold
    bed = genome.kind == "BED"
    handles = [
        Line2D([], [], ls="", marker="o", ms=4, color=COLOURS["hit"],
               label=f"masked, by score ({hits:,})" if bed else f"p < {threshold:g} ({hits:,})"),
        Line2D([], [], ls="--", color=COLOURS["threshold"], label=f"p = {threshold:g}"),
    ]
    if not bed:
        handles.insert(0, Line2D([], [], ls="", marker=".", color=COLOURS["points"][0],
                                 label=f"segments ({points.count:,})"))
    if len(points.zero_x):
        handles.append(Line2D([], [], ls="", marker="^", color=COLOURS["hit"],
                              label=f"p = 0 ({len(points.zero_x):,})"))
    # Outside the panel: inside, it would hide whichever segments stand out most.
    ax.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize="small",
              frameon=False, borderaxespad=0)


def _top_of(values):
    """An axis from 0 to a little above the highest of VALUES, 1 at most."""
    high = float(np.max(values, initial=0.0))
    return min(1.0, high + max(high * 0.1, 0.01))


def _draw_masked_windows(ax, masked, lefts, widths):
    from matplotlib.patches import StepPatch

    share = masked / np.maximum(widths, 1)
    if len(lefts):
        # Added as a plain artist: the axis limits are set here, and updating them would walk
        # the outline a vertex at a time.
        ax.add_artist(StepPatch(share, np.append(lefts, lefts[-1] + widths[-1]), baseline=0,
                                fill=True, color=COLOURS["masked"], gid="masked"))
    ax.set_ylim(0.0, _top_of(share))
    ax.set_ylabel("masked\nshare")


def _draw_density(ax, genome, lefts, widths, counts, parity):
    from matplotlib.patches import StepPatch

    fraction = counts / np.maximum(widths, 1)
    if len(lefts):
        # The windows tile the axis, so one edge list serves both colours; each colour
        # leaves the other's windows as gaps.
        edges = np.append(lefts, lefts[-1] + widths[-1])
        for side in (0, 1):
            ax.add_artist(StepPatch(np.where(parity == side, fraction, np.nan), edges,
                                    baseline=0, fill=True, color=COLOURS["density"][side]))
    mean = counts.sum() / max(genome.total, 1)
    # From 0: an axis from the lowest window up would make small swings look large.
    ax.set_ylim(0.0, _top_of(np.append(fraction, mean)))
    _mean_line(ax, mean)
    ax.set_ylabel(f"{_special_label(genome)}\nfraction")
    if len(widths):
        ax.text(0.005, 0.96, f"windows of ~{int(np.median(widths))} bp",
                transform=ax.transAxes, va="top", fontsize="x-small", color="0.3")


def _mean_line(ax, mean):
    """The mean as a dark dashed line with a white edge, seen over the fill on a screen and in
    grey print, named at its right end."""
    from matplotlib import patheffects

    halo = [patheffects.withStroke(linewidth=3.2, foreground="white")]
    ax.axhline(mean, color=COLOURS["mean"], lw=1.4, ls=(0, (6, 2)), path_effects=halo,
               gid="mean")
    low, high = ax.get_ylim()
    ax.set_ylim(low, max(high, mean * 1.15))
    ax.annotate(f"mean {mean:.3f}", (1, mean), xycoords=ax.get_yaxis_transform(),
                xytext=(-3, 3), textcoords="offset points", ha="right", va="bottom",
                fontsize="x-small", color=COLOURS["mean"], path_effects=halo)


def _draw_entry_shares(ax, place, values, colour):
    """A share per entry at its slot's middle, thinned to the figure's pixel grid."""
    width, height = ax.figure.bbox.size
    grid = (int(width * THINNING), int(height * THINNING))
    values = np.nan_to_num(np.asarray(values, float))
    top = _top_of(values)
    column = ((place.start + 0.5) / place.end * grid[0]).astype(np.int64)
    row = (values / top * grid[1]).astype(np.int64)
    cell, row = np.divmod(np.unique(column * (grid[1] + 1) + row), grid[1] + 1)
    ax.plot((cell + 0.5) / grid[0] * place.end, (row + 0.5) / grid[1] * top, ".", ms=2.5,
            mew=0, color=colour, rasterized=True)
    ax.set_ylim(0.0, top)


def _special_label(genome):
    return "+".join(c for c in genome.letters if c.isalpha()) or "special"


def _bars(ax, spans, **style):
    """A bar the panel's height over each of SPANS, drawn as a few paths of many bars: one
    path of thousands of bars would take a great deal of memory while Agg fills it."""
    from matplotlib.patches import PathPatch
    from matplotlib.path import Path

    spans = np.array(spans, dtype=float).reshape(-1, 2)
    for start in range(0, len(spans), 256):
        part = spans[start:start + 256]
        corners = np.stack([part[:, [0, 0, 1, 1, 0]], np.tile([0.0, 1, 1, 0, 0], (len(part), 1))],
                           axis=-1).reshape(-1, 2)
        codes = np.tile([Path.MOVETO] + [Path.LINETO] * 3 + [Path.CLOSEPOLY], len(part))
        ax.add_artist(PathPatch(Path(corners, codes), transform=ax.get_xaxis_transform(),
                                lw=0, **style))



def _mark_and_label_entries(ax, genome, place, panel_px):
    """A bar per entry above the top panel, in the colours of its points, and the entries'
    labels above it (see plan_labels); returns the count of rows of labels."""
    spans = mark_spans(genome, panel_px)
    for side in (0, 1):
        _bars(ax, [span for span, s in zip(spans, place.parity.tolist())
                   if span is not None and s == side],
              color=COLOURS["points"][side], gid="entry-marks")
    ax.set_ylim(0, 1)
    to_px = ax.figure.dpi / 72
    scale = panel_px / place.end
    names = [_cut(_printable(genome.name(i)), LABEL_WIDTH) for i in range(len(genome))]
    labels, _ = plan_labels([(a * scale, b * scale) if (a, b) != (None, None) else None
                             for a, b in (span or (None, None) for span in spans)],
                            names, lambda text: text_width(text, LABEL_POINTS) * to_px,
                            LABEL_GAP_POINTS * to_px)
    for label in labels:
        ax.annotate(label.text, (label.centre / scale, 1), xycoords=ax.get_xaxis_transform(),
                    xytext=(0, 1 + label.row * LABEL_POINTS * LINE_SPACING),
                    textcoords="offset points", ha="center", va="bottom",
                    fontsize=LABEL_POINTS, annotation_clip=False, parse_math=False)
    return 1 + max((label.row for label in labels), default=0)


def _list_entries(ax, genome, stats, threshold, panel_px, spare):
    """The table of entries under the panels, in at most SPARE points of height."""
    fig = ax.figure
    lines = int(min(TABLE_SHARE * fig.get_figheight() * 72, spare) / (TABLE_POINTS * LINE_SPACING))
    if lines < 1:
        fig.delaxes(ax)
        return
    width = panel_px * 72 / fig.dpi / text_width("0", TABLE_POINTS, monospace=True)
    columns = entry_table(genome, stats, threshold, lines - 1, int(width))
    for number, text in enumerate(columns):
        # Hung from the axes' top: the layout makes room for the lines below it.
        ax.text(number / len(columns), 1, text, transform=ax.transAxes, va="top", ha="left",
                family="monospace", fontsize=TABLE_POINTS, linespacing=LINE_SPACING,
                parse_math=False, gid="entry-table")

def save(fig, output):
    """Writes FIG to OUTPUT, in the format its extension names. A regular file is written
    under a temporary name beside it and renamed into place once whole, so that a failure
    leaves no partial picture, nor spoils an earlier one; what is not a regular file (a
    pipe, a device) is written straight."""
    target = os.path.realpath(output)
    options = {"format": _extension(output)}
    metadata = _fixed_metadata(output)
    if metadata:  # some formats take none
        options["metadata"] = metadata
    if os.path.exists(target) and not os.path.isfile(target):
        fig.savefig(output, **options)
        return
    try:
        mode = stat.S_IMODE(os.stat(target).st_mode)
    except FileNotFoundError:
        mode = 0o666 & ~_umask()
    handle, temporary = tempfile.mkstemp(prefix=f".{os.path.basename(target)}.",
                                         dir=os.path.dirname(target))
    try:
        with os.fdopen(handle, "wb") as stream:
            fig.savefig(stream, **options)
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def _fixed_metadata(output):
    # No dates or versions inside the file, so that a regenerated figure is the same file.
    return {"png": {"Software": None}, "svg": {"Date": None},
            "pdf": {"CreationDate": None, "Producer": None}}.get(_extension(output))


def _extension(path):
    return os.path.splitext(path)[1].lstrip(".").lower()

