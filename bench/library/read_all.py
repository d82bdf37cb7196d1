"""The bench's Python side: kestra.read of a file collecting every entry's segments, or
kestra.scan of a file's first entry, as the command's --all-segments table has them.
Usage: read_all.py read|scan FASTA [THREADS]"""
import sys

import kestra


def first_letters(path):
    with open(path, "rb") as f:
        f.readline()
        letters = f.read()
    end = letters.find(b"\n>")
    return letters if end < 0 else letters[:end]


def main():
    how, path = sys.argv[1], sys.argv[2]
    threads = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    if how == "read":
        kept = [e.result.segments for e in kestra.read(path, threads=threads) if e.result is not None]
    else:
        kept = [kestra.scan(first_letters(path)).segments]
    print(sum(len(s) for s in kept))


if __name__ == "__main__":
    main()
