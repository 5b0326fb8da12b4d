#!/usr/bin/env python3
"""Where a song's bars start, from what its chart and its sound say apart from the beats:
a game chart's bar lines are its editor's grid counted from the file's start, which the
song's own bars need not follow.

    bar_evidence.py CHART.mid TRUTH AUDIO

prints, for each beat of the bar as TRUTH marks it (first to fourth):
- the chart's notes of its easiest part (the notes one plays first are the strongest),
  those on a beat counted by its place in the bar, and the place of the chart's first note;
- where the song's loudness changes most (its sections begin): the strongest 20 steps of
  the mean level over N beats after a beat against the N before (N = 4, 8, 16).
The chart: one track of a game's note numbers, each part of five frets twelve apart."""
import array
import bisect
import math
import struct
import subprocess
import sys

RATE = 11025


def vlq(d, i):
    v = 0
    while True:
        b = d[i]
        i += 1
        v = (v << 7) | (b & 0x7F)
        if b < 0x80:
            return v, i


def note_ons(path):
    """(division, [(tick, note)]) of every note-on in every track."""
    d = open(path, "rb").read()
    division = struct.unpack(">H", d[12:14])[0]
    i, notes = 14, []
    while i < len(d):
        tag, length = d[i:i + 4], struct.unpack(">I", d[i + 4:i + 8])[0]
        i += 8
        j, end, t, status = i, i + length, 0, None
        while tag == b"MTrk" and j < end:
            dt, j = vlq(d, j)
            t += dt
            if d[j] == 0xFF:
                n, k = vlq(d, j + 2)
                j = k + n
            elif d[j] in (0xF0, 0xF7):
                n, k = vlq(d, j + 1)
                j = k + n
            else:
                if d[j] & 0x80:
                    status = d[j]
                    j += 1
                size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                if status & 0xF0 == 0x90 and d[j + 1] > 0:
                    notes.append((t, d[j]))
                j += size
        i = end
    return division, notes


def chart_evidence(path):
    division, notes = note_ons(path)
    for low in (60, 72, 84, 96):  # the parts, easiest first
        ticks = sorted({t for t, n in notes if low <= n < low + 5})
        if ticks:
            places = [0] * 4
            for t in ticks:
                if t % division == 0:
                    places[(t // division) % 4] += 1
            return low, places, (ticks[0] / division) % 4 + 1


def loudness_steps(audio, truth):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", audio, "-ac", "1", "-ar", str(RATE), "-f", "s16le", "-"],
                         check=True, capture_output=True).stdout
    x = array.array("h", raw)
    rows = [line.split() for line in open(truth) if line.split()]
    beats = [float(r[0]) for r in rows]
    place, p = [], None
    for r in rows:
        p = 0 if r[1] == "1" else (None if p is None else (p + 1) % 4)
        place.append(p)
    level = []
    for a, b in zip(beats, beats[1:]):
        s = x[int(a * RATE):int(b * RATE)]
        level.append(10 * math.log10(sum(v * v for v in s) / max(1, len(s)) + 1))
    out = {}
    for span in (4, 8, 16):
        step = [0.0] * len(level)
        for i in range(span, len(level) - span):
            step[i] = abs(sum(level[i:i + span]) - sum(level[i - span:i])) / span
        peaks = [i for i in range(span, len(level) - span) if step[i] == max(step[i - 2:i + 3]) and step[i] > 0]
        peaks.sort(key=lambda i: -step[i])
        counts = [0] * 4
        for i in peaks[:20]:
            if place[i] is not None:
                counts[place[i]] += 1
        out[span] = counts
    return out


def main():
    chart, truth, audio = sys.argv[1:4]
    low, places, first = chart_evidence(chart)
    print(f"chart notes {low}-{low + 4}: on its own bars' beats 1-4 {places}, first note on beat {first:g}")
    for span, counts in loudness_steps(audio, truth).items():
        print(f"loudness steps over {span} beats: strongest 20 on beats 1-4 {counts}")


if __name__ == "__main__":
    main()
