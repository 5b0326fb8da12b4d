#!/usr/bin/env python3
"""Sets a kept recording of the chirp case (run.sh --keep) against chirp_offline's render
of the same loop: for each play in the recording, the offset where the two line up and
the largest difference between them from 20 ms into the play on. A difference of 1 (the
rounding) means every sample was heard where the engine's pure parts put it: no frame
skipped or repeated.
    compare_offline.py RECORDING OFFLINE [SECONDS_PER_PLAY ...]"""
import math
import sys

import seamlib as sl


def line_up(off, rec, guess, span=600, at=sl.RATE // 2, n=1102):
    """The offset near `guess` at which the recording best matches the render."""
    a = off[at:at + n]
    ea = math.sqrt(sum(v * v for v in a)) or 1.0
    best = (-2.0, guess)
    for lag in range(max(0, guess - span), guess + span):
        b = rec[lag + at:lag + at + n]
        eb = math.sqrt(sum(v * v for v in b)) or 1.0
        best = max(best, (sum(x * y for x, y in zip(a, b)) / (ea * eb), lag))
    return best[1], best[0]


def start_text(off, rec, lag, frames):
    """What was heard of the play's first `frames` against the render: the frames that
    differ, how many of them were silent, and by how many frames the rest was shifted."""
    bad = [i for i in range(frames) if abs(off[i] - rec[i + lag]) > 1]
    if not bad:
        return 'exact'
    silent = sum(1 for i in bad if rec[i + lag] == 0)
    heard = [i for i in bad if rec[i + lag] != 0]
    shift = ''
    if heard:
        fits = [d for d in range(-32, 33)
                if all(abs(off[i + d] - rec[i + lag]) <= 1 for i in heard if 0 <= i + d < len(off))]
        shift = ', the rest the render %s frames on' % (fits[0] if len(fits) == 1 else '?')
    return 'frames %d..%d differ (%d silent%s)' % (bad[0], bad[-1], silent, shift)


def main():
    rec = sl.read_pcm(sys.argv[1])
    off = sl.read_pcm(sys.argv[2])[0::2]
    lengths = [float(s) for s in sys.argv[3:]] or [5.45]
    left = rec[0::2]
    # Each play starts where the reading first says the chirp's start after a silence.
    pos = sl.chirp_positions(rec)
    starts, quiet = [], True
    for f, p in pos:
        if p is None:
            quiet = True
        elif quiet and abs(p - 2.0) < 0.02:
            starts.append(f)
            quiet = False
        else:
            quiet = False
    for k, (start, seconds) in enumerate(zip(starts, lengths)):
        lag, corr = line_up(off, left, start)
        frm, to = int(0.02 * sl.RATE), min(int(seconds * sl.RATE), len(left) - lag, len(off))
        worst = max(abs(off[i] - left[i + lag]) for i in range(frm, to))
        print('play %d: at frame %d, correlation %.4f, largest difference %d over %.2f s; start: %s'
              % (k + 1, lag, corr, worst, (to - frm) / sl.RATE, start_text(off, left, lag, frm)))


if __name__ == '__main__':
    main()
