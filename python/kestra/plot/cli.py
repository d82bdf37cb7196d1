"""The command line: kestra-plot's arguments, and one line and status 1 for what goes wrong."""

import argparse
import re
import sys

from .drawing import _extension, plot
from .genome import POSITION_MAX_ENTRIES
from .reading import read_input
from .source import ReportError, _one_line

PROG = "kestra-plot"
# Agg draws no picture of 2^16 pixels or more a side, and holds four bytes a pixel while it
# draws (and more while it writes): the area is bounded too, keeping a run near a gigabyte.
MAX_SIDE_PX = (1 << 16) - 1
MAX_PIXELS = 1 << 27
# A smaller figure, in inches, leaves the panels no room beside the legend and the labels.
MIN_SIZE = (3.0, 2.0)


class UsageError(Exception):
    """A bad argument; the message is shown to the user as is."""


class _Parser(argparse.ArgumentParser):
    # One line and status 1 for a bad argument, as for a bad report: no usage dump.
    def error(self, message):
        raise UsageError(message)


def _size(text):
    match = re.fullmatch(r"([0-9]+(?:\.[0-9]*)?)[x×]([0-9]+(?:\.[0-9]*)?)", text.strip())
    if match is None:
        raise argparse.ArgumentTypeError(f"'{text}' is not WIDTHxHEIGHT in inches, e.g. 12x6")
    size = float(match[1]), float(match[2])
    if size[0] < MIN_SIZE[0] or size[1] < MIN_SIZE[1]:
        raise argparse.ArgumentTypeError(f"'{text}' is smaller than the least figure, "
                                         f"{MIN_SIZE[0]:g}x{MIN_SIZE[1]:g} inches")
    return size


def _probability(text):
    try:
        p = float(text)
    except ValueError:
        p = -1.0
    if not 0 < p <= 1:
        raise argparse.ArgumentTypeError(f"'{text}' is not a p-value in (0, 1]")
    return p


def _positive(text):
    if not re.fullmatch(r"[0-9]+", text) or int(text) == 0:
        raise argparse.ArgumentTypeError(f"'{text}' is not a positive whole number")
    return int(text)


def parse_args(argv):
    parser = _Parser(
        prog=PROG,
        description="Plot what kestra found: -log10 p of each segment along the entries, the "
                    "share of the letters masked, and the density of the special residues. "
                    "Reads a report (.seg), or a BED or segment table (.tsv) with the entries' "
                    "lengths from --fai; plain or gzip-compressed.",
        epilog="Up to 100 entries stand side by side along their positions; more are drawn "
               "one slot each, longest first, with a table of the entries with the most "
               "significant segments. The output format follows the extension of -o (png, "
               "svg, pdf, ...).")
    parser.add_argument("input", help="the report (.seg), BED (.bed) or segment table (.tsv) "
                                      "that kestra wrote; - reads stdin")
    parser.add_argument("-o", "--output", required=True, help="the picture to write")
    parser.add_argument("--fai", metavar="FILE",
                        help="the entries' names and lengths, for a BED or segment table: the "
                             ".fai index of the masked FASTA (samtools faidx) or kestra's "
                             "summary (.summary.tsv, which also gives the special residues)")
    parser.add_argument("--axis", choices=("auto", "position", "entries"), default="auto",
                        help="position: the entries end to end along their letters; entries: "
                             "one slot each, longest first; auto (default): position for up "
                             f"to {POSITION_MAX_ENTRIES} entries")
    parser.add_argument("--threshold", type=_probability, default=0.05, metavar="P",
                        help="segments with p below P are highlighted and counted masked "
                             "(default 0.05, the masking threshold)")
    parser.add_argument("--title", help="the title (default: the entry's name, or the count "
                                        "of entries)")
    parser.add_argument("--size", type=_size, default=(10.0, 5.0), metavar="WxH",
                        help="figure size in inches (default 10x5)")
    parser.add_argument("--dpi", type=_positive, default=100,
                        help=f"pixels per inch (default 100); the figure may be at most "
                             f"{MAX_SIDE_PX} pixels a side and {MAX_PIXELS:,} in all")
    args = parser.parse_args(argv)
    _check_pixels(parser, args.size, args.dpi)
    from matplotlib.figure import Figure
    formats = Figure().canvas.get_supported_filetypes()
    if _extension(args.output) not in formats:
        parser.error(f"cannot tell the format of '{args.output}' from its extension "
                     f"(one of: {', '.join(sorted(formats))})")
    return args


def _check_pixels(parser, size, dpi):
    width, height = round(size[0] * dpi), round(size[1] * dpi)
    if max(width, height) > MAX_SIDE_PX or width * height > MAX_PIXELS:
        parser.error(f"a figure of {width}x{height} pixels (--size times --dpi) is too large: "
                     f"at most {MAX_SIDE_PX} a side and {MAX_PIXELS:,} in all")


def main(argv=None):
    try:
        args = parse_args(sys.argv[1:] if argv is None else argv)
    except UsageError as error:
        print(f"{PROG}: {_one_line(error)}", file=sys.stderr)
        return 1
    try:
        genome = read_input(args.input, args.threshold, args.fai, args.axis)
    except ReportError as error:
        print(f"{PROG}: {args.input}: {error}", file=sys.stderr)
        return 1
    try:
        plot(genome, args.output, args.threshold, args.title, args.size, args.dpi, args.axis)
    except OSError as error:
        print(f"{PROG}: {args.output}: {error.strerror or _one_line(error)}", file=sys.stderr)
        return 1
    except MemoryError:
        print(f"{PROG}: {args.output}: out of memory", file=sys.stderr)
        return 1
    except Exception as error:  # whatever the drawing raises, said in one line
        print(f"{PROG}: {args.output}: cannot draw the picture: {_one_line(error)}",
              file=sys.stderr)
        return 1
    return 0


