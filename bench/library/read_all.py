"""The bench's Python side: kestra.read of a file collecting every entry's segments, or
kestra.scan of a file's first entry, as the command's --all-segments table has them.
Usage: read_all.py read|scan FASTA [THREADS] [--time]
Prints the segments' count; with --time, then the seconds the call took inside this process
(NumPy imported before, the letters to scan read before): the call alone, without the
interpreter's start and the imports."""
import sys
import time

import kestra


def first_letters(path):
    with open(path, "rb") as f:
        f.readline()
        letters = f.read()
    end = letters.find(b"\n>")
    return letters if end < 0 else letters[:end]


def main():
    args = [a for a in sys.argv[1:] if a != "--time"]
    timed = len(args) < len(sys.argv) - 1
    how, path = args[0], args[1]
    threads = int(args[2]) if len(args) > 2 else 1
    if timed:
        import numpy  # noqa: F401  (the first result imports it otherwise)
    letters = first_letters(path) if how == "scan" else None
    start = time.perf_counter()
    if how == "read":
        kept = [e.result.segments for e in kestra.read(path, threads=threads) if e.result is not None]
    else:
        kept = [kestra.scan(letters).segments]
    seconds = time.perf_counter() - start
    print(sum(len(s) for s in kept), *(["%.6f" % seconds] if timed else []))


if __name__ == "__main__":
    main()
