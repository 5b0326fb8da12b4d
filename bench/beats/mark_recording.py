#!/usr/bin/env python3
"""Marks the beats of a recording by its attacks, from a tempo that is known, without
listening: the beats and bars of a chart or a score (one a line: seconds, 1 for a downbeat)
are slid to where the recording's attacks gather most, and left out where it is silent.

    mark_recording.py AUDIO CHART [--bar-offset N] > TRUTH     # prints what it did to stderr

The attack envelope: the rise of the log energy of the sound's first difference (the drums'
and picked strings' attacks stand out of the held notes), 11025 Hz mono, in steps of 2.9 ms.
A shift of the whole chart from -80 to +80 ms in 1 ms steps is scored by the envelope's peak
within 3 ms of every beat; the best one is kept when it stands clear of the others, and the
same fit over each eighth of the piece shows whether the tempo holds (a drift of the shift
from part to part would say the recording is not played to the chart's tempo). The chart
shifted by half a beat is scored too: where the attacks gather more there, the chart's beats
lie on the music's offbeats, or the attacks do not settle the beat's phase.

A chart's bars are its editor's grid counted from its start; `--bar-offset N` moves each
bar line N beats later where the song's own bars are shown to start elsewhere."""
import array
import math
import subprocess
import sys

RATE = 11025
HOP = 32
WINDOW = 256
RISE = 4  # hops: the rise is measured over 11.6 ms


def envelope(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-ar", str(RATE), "-f", "s16le", "-"],
                         check=True, capture_output=True).stdout
    x = array.array("h", raw)
    # Energy of the first difference in windows, from a running sum.
    sums = [0.0]
    prev = 0
    for v in x:
        d = v - prev
        prev = v
        sums.append(sums[-1] + d * d)
    log = []
    for start in range(0, len(x) - WINDOW, HOP):
        e = (sums[start + WINDOW] - sums[start]) / WINDOW
        log.append(math.log10(e + 1.0))
    rise = [0.0] * len(log)
    for i in range(RISE, len(log)):
        rise[i] = max(0.0, log[i] - log[i - RISE])
    # The window's attack is heard where the window ends: times are of its last sample.
    return rise, log, (WINDOW - HOP / 2) / RATE


def at(env, t, lag):
    i = int(round((t - lag) * RATE / HOP))
    span = int(round(0.003 * RATE / HOP))
    lo, hi = max(0, i - span), min(len(env), i + span + 1)
    return max(env[lo:hi]) if lo < hi else 0.0


def fit(env, beats, lag):
    scores = []
    for ms in range(-80, 81):
        d = ms / 1000.0
        scores.append((sum(at(env, t + d, lag) for t in beats) / max(1, len(beats)), ms))
    scores.sort(reverse=True)
    return scores


def main():
    audio, chart = sys.argv[1], sys.argv[2]
    offset = int(sys.argv[sys.argv.index("--bar-offset") + 1]) if "--bar-offset" in sys.argv else 0
    rows = [line.split() for line in open(chart) if line.split()]
    flags = [r[1] if len(r) > 1 else "0" for r in rows]
    if offset:
        flags = flags[-offset:] + flags[:-offset]
        print(f"  bar lines moved {offset} beat(s) later", file=sys.stderr)
    beats = [(float(r[0]), f) for r, f in zip(rows, flags)]
    env, log, lag = envelope(audio)
    times = [t for t, _ in beats]
    scores = fit(env, times, lag)
    best, ms = scores[0]
    # How clear the best shift is: against the mean of shifts more than 10 ms away.
    far = [s for s, m in scores if abs(m - ms) > 10]
    print(f"{audio}: shift {ms:+d} ms, peak {best:.3f} vs {sum(far) / len(far):.3f} elsewhere", file=sys.stderr)
    parts = []
    n = len(times)
    for k in range(8):
        part = times[k * n // 8:(k + 1) * n // 8]
        parts.append(fit(env, part, lag)[0][1])
    print(f"  shift in each eighth (ms): {parts}", file=sys.stderr)
    period = (times[-1] - times[0]) / max(1, len(times) - 1)
    half = max(fit(env, [t + side * period / 2 for t in times], lag)[0][0] for side in (-1, 1))
    print(f"  half a beat away: peak {half:.3f} ({half / best:.2f} of the best)", file=sys.stderr)
    # Sound: the log energy a second around a beat against the piece's median.
    level = sorted(log)[len(log) // 2]
    per_second = RATE // HOP

    def sounding(t):
        i = int((t - lag) * RATE / HOP)
        seg = log[max(0, i - per_second // 2):i + per_second // 2]
        return bool(seg) and max(seg) > level - 2.0  # within 20 dB of the median

    kept = [(t + ms / 1000.0, flag) for t, flag in beats if sounding(t + ms / 1000.0)]
    first = next(i for i, (t, _) in enumerate(kept))
    print(f"  {len(kept)} of {len(beats)} beats kept (the rest in silence)", file=sys.stderr)
    for t, flag in kept[first:]:
        print(f"{t:.4f} {flag}")


if __name__ == "__main__":
    main()
