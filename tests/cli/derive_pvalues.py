#!/usr/bin/env python3
"""Hand-check helper for the command-line golden files.

An independent, deliberately plain transcription of the probability formulas
(binomial recursion, scan-statistic approximation, Simpson integration of the
normal density). It is not used by the tests; it only documents how the
p-values in tests/cli/data/expected were obtained where they could not be
worked out by hand. Run it to print every value the golden files rely on.
"""
import math


def binomial_prob(k, n, p):
    c = 1.0
    for f in range(n - k + 1, n + 1):
        c *= float(f)
    fact = 1.0
    for f in range(1, k + 1):
        fact *= float(f)
    return math.pow(1.0 - p, float(n - k)) * (math.pow(p, float(k)) * (c / fact))


def bpr(k, n, p):
    if k == 0:
        return binomial_prob(0, n, p)
    return (float(n - k + 1) / float(k)) * ((p / (1.0 - p)) * bpr(k - 1, n, p))


def fb(k, n, p):
    if k < 0:
        return 0.0
    s = 0.0
    for i in range(k + 1):
        s += bpr(i, n, p)
    return s


def q2(k, w, p):
    F, b = fb, bpr
    return (F(k - 1, w, p) ** 2 - float(k - 1) * b(k, w, p) * F(k - 2, w, p)
            + float(w) * p * b(k, w, p) * F(k - 3, w - 1, p))


def q3(k, w, p):
    F, b = fb, bpr
    a1 = 2.0 * b(k, w, p) * F(k - 1, w, p) * (
        float(k - 1) * F(k - 2, w, p) - float(w) * p * F(k - 3, w - 1, p))
    a2 = 0.5 * b(k, w, p) ** 2 * (
        float(k - 1) * float(k - 2) * F(k - 3, w, p)
        - 2.0 * float(k - 2) * float(w) * p * F(k - 4, w - 1, p)
        + float(w) * float(w - 1) * p * p * F(k - 5, w - 2, p))
    a3 = 0.0
    a4 = 0.0
    for r in range(2, k):
        a3 += b(2 * k - r, w, p) * F(r - 1, w, p) ** 2
    for r in range(2, k):
        a4 += b(2 * k - r, w, p) * b(r, w, p) * (
            float(r - 1) * F(r - 2, w, p) - float(w) * p * F(r - 3, w - 1, p))
    return F(k - 1, w, p) ** 3 - a1 + a2 + a3 - a4


def p_scan(k, w, n, p):
    if k <= 0:
        return 1.0  # a stretch without special residues is never significant
    m = n // w + (1 if n % w else 0)
    a, b = q2(k, w, p), q3(k, w, p)
    r = a * math.pow(b / a, float(m - 2))
    return 1.0 - r if 1.0 - r > 0 else 0.0


def density(x):
    return math.exp(x * (x * -0.5)) * 0.3989422804014327


def qsimp(a, b):
    os_, ost = -1e30, -1e30
    s_tr = 0.0
    for j in range(1, 21):
        if j == 1:
            s_tr = (density(a) + density(b)) * (0.5 * (b - a))
        else:
            it = 1 << (j - 2)
            tnm = float(it)
            dl = (b - a) / tnm
            x = a + 0.5 * dl
            sm = 0.0
            for _ in range(it):
                sm = density(x) + sm
                x += dl
            s_tr = 0.5 * (s_tr + (b - a) * sm / tnm)
        s = (4.0 * s_tr - ost) / 3.0
        if j > 5 and (abs(s - os_) < 2.220446049250313e-16 * abs(os_) or (s == 0 and os_ == 0)):
            return s
        os_, ost = s, s_tr
    return s


def approx(k, n, p, upper):
    """Returns (value, valid) for P(X >= k) (upper) or P(X <= k)."""
    mean = float(n) * p
    var = (1.0 - p) * mean
    valid = var >= 5.0
    if p <= 0.0:
        return (1.0 if (k <= 0 if upper else k >= 0) else 0.0), valid
    if p >= 1.0:
        return (1.0 if (k <= n if upper else k >= n) else 0.0), valid
    sd = math.sqrt(var)
    if upper:
        z = ((k - 0.5) - mean) / sd
        return qsimp(z, z + 10.0), valid
    z = ((k + 0.5) - mean) / sd
    return qsimp(z - 10.0, z), valid


def overall(a, n, p):
    e = int(math.ceil(float(n) * p))
    upper = not (a < e)
    q, valid = approx(a, n, p, upper)
    return "#Overall: %d %e %e%s (%s)" % (a, 0.0, q, "" if valid else "*", "+" if upper else "-")


def show(label, value):
    print("%-44s %e" % (label, value))


if __name__ == "__main__":
    p19 = 8.0 / 19.0
    # Values stated in the description of the scan statistic, as a self-check.
    show("check P(5,10,100,.25) = 8.387122e-01", p_scan(5, 10, 100, 0.25))
    show("check P(5,10,10,.25)  = 8.254577e-02", p_scan(5, 10, 10, 0.25))
    show("check P(8,10,100,.25) = 1.941951e-02", p_scan(8, 10, 100, 0.25))
    show("check P(7,12,19,8/19) = 5.077702e-01", p_scan(7, 12, 19, p19))
    show("check P(1,1,19,8/19)  = 9.999691e-01", p_scan(1, 1, 19, p19))
    show("check P(3,4,19,8/19)  = 8.383764e-01", p_scan(3, 4, 19, p19))
    show("check P(2,4,19,8/19)  = 9.947997e-01", p_scan(2, 4, 19, p19))
    show("check P(1,4,19,8/19)  = 9.999821e-01", p_scan(1, 4, 19, p19))
    print("check", overall(8, 19, p19), "= 5.918592e-01* (+)")
    print("check upper(300,1000,.25) = 1.501919e-04:", "%e" % approx(300, 1000, 0.25, True)[0])
    print()
    # seq19, window 4, threshold 0.9, merged with E=5: one segment 1..13, 7 A.
    show("W4 merged 1..13: P(7,13,19,8/19)", p_scan(7, 13, 19, p19))
    # seq19, window 4, E=-2: segments 1..5 (3 A) and 9..13 (4 A).
    show("W4 E-2 1..5: P(3,5,19,8/19)", p_scan(3, 5, 19, p19))
    show("W4 E-2 9..13: P(4,5,19,8/19)", p_scan(4, 5, 19, p19))
    # seq19, runs mode, E=0 or E=1: the four runs.
    show("run 2..4: P(3,3,19,8/19)", p_scan(3, 3, 19, p19))
    show("run 9..10: P(2,2,19,8/19)", p_scan(2, 2, 19, p19))
    show("run 12..13: P(2,2,19,8/19)", p_scan(2, 2, 19, p19))
    # seq19 with -K: E=2, segments 2..4, 9..13, 19..19.
    print("K: 2/(3p) =", 2.0 / (p19 * 3.0), "->", "%.0f" % (2.0 / (p19 * 3.0)))
    show("K 9..13: P(4,5,19,8/19)", p_scan(4, 5, 19, p19))
    # seq19 with user frequencies A .4 T .1 G .25 C .25.
    show("user .4 seg 2..13: P(7,12,19,.4)", p_scan(7, 12, 19, 0.4))
    show("user .4 seg 19: P(1,1,19,.4)", p_scan(1, 1, 19, 0.4))
    print("user .4", overall(8, 19, 0.4))
    # seq19, window 19 (whole sequence as one window).
    show("W19: P(8,19,19,8/19)", p_scan(8, 19, 19, p19))
    print()
    # crlf.fa: ACGT, A frequency 1/4, one segment 1..1.
    show("crlf seg 1: P(1,1,4,.25)", p_scan(1, 1, 4, 0.25))
    print("crlf", overall(1, 4, 0.25))
    # mixed.fa: AC-GTAN, A 2 of 5 nucleotides; segment 1..6 with 2 A.
    pm = 2.0 / 5.0
    show("mixed seg 1..6: P(2,6,7,.4)", p_scan(2, 6, 7, pm))
    print("mixed", overall(2, 7, pm))
    # tgcn.fa: AAAANNNNTTTTAAAAGGCC, set TGCN, P = .25+.125+.125.
    pt = 0.0 + 0.25 + 0.125 + 0.125
    show("tgcn seg 5..20: P(12,16,20,.5)", p_scan(12, 16, 20, pt))
    print("tgcn", overall(12, 20, pt))
    # Zero probability and probability one.
    print("p=0 seq19 -A:0", overall(8, 19, 0.0))
    print("p=0 empty set", overall(0, 19, 0.0))
    print("p=1 no A", overall(0, 6, 1.0))
    show("p=0 P(7,12,19,0)", p_scan(7, 12, 19, 0.0))
    show("p=0 P(1,1,19,0)", p_scan(1, 1, 19, 0.0))
    # long.fa: (A + 7 C) x 375.
    show("long seg: P(1,1,3000,1/8)", p_scan(1, 1, 3000, 0.125))
