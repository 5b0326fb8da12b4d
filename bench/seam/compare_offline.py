#!/usr/bin/env python3
"""Sets a kept recording of the chirp case (run.sh --keep) against chirp_offline's render
of the same loop: for each play in the recording, the offset where the two line up and
the largest difference between them from 20 ms into the play on. A difference of 1 (the
rounding) means every seam was heard landing on the start to the sample, every pass its
whole length, no frame skipped or repeated. seam.py makes the same comparison by itself.
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


def compare_play(off, left, guess, frames):
    """One play of the recording (mono, `left`) beginning near frame `guess`, against the
    render over `frames` frames: where it lines up, the largest difference from 20 ms on,
    and what its first 20 ms were."""
    lag, corr = line_up(off, left, guess)
    frm, to = int(0.02 * sl.RATE), min(frames, len(left) - lag, len(off))
    worst = max((abs(off[i] - left[i + lag]) for i in range(frm, to)), default=None)
    first_bad = next((i for i in range(frm, to) if abs(off[i] - left[i + lag]) > 1), None)
    return {'at': lag, 'correlation': corr, 'worst': worst, 'seconds': max(0, to - frm) / sl.RATE,
            'start': start_text(off, left, lag, frm),
            'first_bad_s': None if first_bad is None else first_bad / sl.RATE}


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
        r = compare_play(off, left, start, int(seconds * sl.RATE))
        print('play %d: at frame %d, correlation %.4f, largest difference %s over %.2f s%s; start: %s'
              % (k + 1, r['at'], r['correlation'], r['worst'], r['seconds'],
                 '' if r['first_bad_s'] is None else ' (first from %.4f s)' % r['first_bad_s'], r['start']))


if __name__ == '__main__':
    main()
