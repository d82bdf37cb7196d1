"""The input as a binary stream of lines, read a large piece at a time, and the error an input
that cannot be read raises."""

import contextlib
import gzip
import sys

# The report is read this much at a time and parsed a batch of whole entries at once.
READ_SIZE = 1 << 24
# A first line longer than this is no input's: a foreign file without newlines would
# otherwise be read whole as one line.
FIRST_LINE_LIMIT = 4096


class ReportError(Exception):
    """An input that cannot be read; the message is shown to the user as is."""


class Source:
    """A binary stream read a large piece at a time, keeping count of the lines handed out."""

    def __init__(self, stream):
        self.stream, self.buf, self.pos, self.number, self.eof = stream, b"", 0, 0, False

    def more(self):
        """Adds a piece to what is buffered, as large as that at least, so that a large entry
        is read in few pieces; False at the end of the stream."""
        piece = b"" if self.eof else self.stream.read(max(READ_SIZE, self.left()))
        self.eof = not piece
        if piece:
            self.buf = self.buf[self.pos:] + piece
            self.pos = 0
        return bool(piece)

    def skip_to(self, end):
        self.number += self.buf.count(b"\n", self.pos, end)
        self.pos = end

    def left(self):
        return len(self.buf) - self.pos

    def next_or_none(self):
        """The next line without its newline, or None at the end; a last line without its
        newline means the file was cut, which no later check could tell from a short but
        valid number."""
        end = self.buf.find(b"\n", self.pos)
        while end < 0:
            searched = len(self.buf) - self.pos
            if not self.more():
                if self.pos == len(self.buf):
                    return None
                self.number += 1
                raise ReportError(f"truncated report (line {self.number} is cut short)")
            end = self.buf.find(b"\n", self.pos + searched)
        line = self.buf[self.pos:end]
        self.pos = end + 1
        self.number += 1
        return line

    def take_lines(self, most):
        """Up to MOST whole lines without their newlines, at least one (as next gives it)."""
        last = self.buf.rfind(b"\n", self.pos) + 1
        if last == 0:
            return [self.next()]
        chunk = self.buf[self.pos:last]
        lines = chunk.split(b"\n", most)
        rest = lines.pop()
        self.pos += len(chunk) - len(rest)
        self.number += len(lines)
        return lines

    def next(self):
        line = self.next_or_none()
        if line is None:
            raise ReportError(f"truncated report (no #Overall line after line {self.number})")
        return line

    def expect(self, pattern, what):
        match = pattern.fullmatch(self.next())
        if match is None:
            raise self.malformed(what)
        return match

    def malformed(self, what):
        if self.number == 1:
            return ReportError("not a kestra report (line 1)")
        return ReportError(f"malformed report (line {self.number}: expected {what})")


@contextlib.contextmanager
def open_input(path):
    """The input as a binary stream, decompressed when it starts as gzip (BGZF included)."""
    with (open(sys.stdin.fileno(), "rb", closefd=False) if path == "-"
          else open(path, "rb")) as stream:
        if stream.peek(2)[:2] == b"\x1f\x8b":
            with gzip.GzipFile(fileobj=stream, mode="rb") as text:
                yield text
        else:
            yield stream


def first_line(source):
    """The first line of SOURCE, buffered but not consumed."""
    while source.buf.find(b"\n", 0, FIRST_LINE_LIMIT) < 0 and len(source.buf) < FIRST_LINE_LIMIT:
        if not source.more():
            break
    end = source.buf.find(b"\n", 0, FIRST_LINE_LIMIT)
    return source.buf[:end + 1] if end >= 0 else source.buf[:FIRST_LINE_LIMIT]



def _one_line(error):
    return " ".join(str(error).split()) or type(error).__name__

