"""Draws what kestra found: each segment's -log10 p along the entries, the share of the letters
masked, and the density of the special residues. It reads a report (.seg), or the BED or the
segment table of a run without one, with the entries' lengths from a .fai index or kestra's
summary; plain or compressed, from a file or standard input.

reading reads them (report the report's entries, source the stream), genome holds what was
read, layout places it, drawing draws and writes the picture, and cli is the command line
(python3 -m kestra.plot, or kestra-plot)."""
