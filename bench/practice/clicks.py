#!/usr/bin/env python3
"""Where the automatic count-in and the metronome are heard, against the file's beats.

Run through clicks.sh, which sets up the sink. The media file carries a short 1 kHz mark
on each beat of its grid in the left channel only; the engine's clicks go to both, so the
right channel holds the clicks alone and left minus right the marks as the stretcher
placed them. Prints one table; see README.md."""
import argparse
import math
import os
import subprocess
import sys
import tempfile
from array import array

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', 'seam'))
import seamlib as sl  # noqa: E402
from practice import record_case, sound_onsets  # noqa: E402

RATE = sl.RATE
FIRST, BEAT, COUNT, DOWNBEAT, METER = 0.5, 0.5, 40, 3, 4
GRID = f'{FIRST},{BEAT},{COUNT},{DOWNBEAT},{METER}'
BEATS = [FIRST + i * BEAT for i in range(COUNT)]
THRESHOLD, QUIET = 300, int(0.1 * RATE)
PAUSE = 0.3  # before every pass: the first click is not the output's first sound
VERBOSE = '-v' in sys.argv


def marked_file(path, seconds=12):
    out = array('h', [0] * (2 * int(seconds * RATE)))
    for b in BEATS:
        at = round(b * RATE)
        for i in range(int(0.01 * RATE)):
            if at + i < len(out) // 2:
                out[2 * (at + i)] = int(20000 * math.sin(2 * math.pi * 1000 * i / RATE))
    sl.write_wav(path, out)


def marked_video(wav, path):
    """The marked sound under a small picture, kept exact (PCM in Matroska): the video engine's case."""
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', 'color=c=gray:s=64x48:r=25', '-i', wav,
                    '-map', '0:v', '-map', '1:a', '-c:v', 'mpeg4', '-c:a', 'pcm_s16le', '-shortest', path], check=True)


def refined(mono, onsets):
    """Each onset moved to where the sound first reaches half its peak over the next 10 ms: a
    stretched mark rises through a little smear, whose first sample over the threshold is early."""
    out = []
    for o in onsets:
        window = [abs(v) for v in mono[o:o + int(0.01 * RATE)]]
        half = max(window) / 2
        out.append(o + next(i for i, v in enumerate(window) if v >= half))
    return out


def downbeat(b):
    # Bars go on at the meter before the first downbeat, as the grid counts them.
    return (round((b - FIRST) / BEAT) - DOWNBEAT) % METER == 0


def measure(pcm, start, stop, rate, passes):
    left, right = pcm[0::2], pcm[1::2]
    marks_pcm = array('h', (max(-32768, min(32767, a - b)) for a, b in zip(left, right)))
    clicks = refined(right, sound_onsets(array('h', (v for r in right for v in (r, r))), THRESHOLD, QUIET))
    marks = refined(marks_pcm, sound_onsets(array('h', (v for m in marks_pcm for v in (m, m))), THRESHOLD, QUIET))
    if not marks or not clicks:
        return None
    first = min(b for b in BEATS if b >= start - 1e-9)
    span = (stop - start) / rate * RATE + PAUSE * RATE
    # The pass's start as heard, from its first mark: every beat is heard (b - start) / rate after it.
    # The first of a pass comes out of a fade-in on the sound engine, its onset a little late.
    origin = marks[0] - (first - start) / rate * RATE
    inside = [b for b in BEATS if start <= b < stop]
    def residual(m):
        return min(((abs(r), r) for p in range(passes) for b in inside
                    for r in [m - (origin + p * span + (b - start) / rate * RATE)]))[1]
    def first_of_pass(m):
        return abs(residual(m)) == min(abs(m - (origin + p * span + (first - start) / rate * RATE)) for p in range(passes))
    # Then the mean of the marks but each pass's first: a stretcher may move each mark by a
    # few ms either way (mpv's does at 0.75), and the beats heard are where they lie on average.
    res = [residual(m) for m in marks if not first_of_pass(m)] or [residual(m) for m in marks]
    origin += sum(res) / len(res)
    # The count-in's beats: the bar before the start, extended past the grid's first beat.
    pre = [FIRST + k * BEAT for k in range(-20, 0)] + BEATS
    def heard(b, p):
        return origin + p * span + (b - start) / rate * RATE
    rows = {'count-in': [], 'metronome': [], 'marks': [], 'damaged': []}
    for c in clicks:
        # Before the pass's start by more than a quarter beat: a click on the start may come early.
        kind = 'count-in' if c < origin - BEAT / rate / 4 * RATE else 'metronome'
        cands = [(abs(c - heard(b, p)), c - heard(b, p), b) for p in range(1 if kind == 'count-in' else passes) for b in pre
                 if (kind == 'count-in') == (b < start - 1e-9) and (b < stop)]
        _, err, b = min(cands)
        peak = max(abs(v) for v in right[c:c + int(0.004 * RATE)])
        if peak < 0.3 * 0.45 * 32767:
            rows['damaged'].append((0, True))  # a dropout of the loaded machine took most of it
            continue
        rows[kind].append((err / RATE * 1000, (peak > 0.6 * 32767) == downbeat(b)))
        if VERBOSE:
            print(f'  {kind} at {c / RATE:.4f} s: beat {b:.2f}, {err / RATE * 1000:+.2f} ms, peak {peak}', file=sys.stderr)
    # Each metronome click against the nearest mark: the beat where this pass's sound put it,
    # whatever the passes before did (a hold that ran long, a dropout that moved the rest).
    rows['nearest'] = [(min((c - m for m in marks), key=abs) / RATE * 1000, True)
                       for c in clicks if c >= origin - BEAT / rate / 4 * RATE]
    for m in marks:
        rows['marks'].append((residual(m) / RATE * 1000, True))
        if VERBOSE:
            print(f'  mark at {m / RATE:.4f} s: {residual(m) / RATE * 1000:+.2f} ms', file=sys.stderr)
    return rows


CASES = [
    # name, start, stop, rate, passes, handed over (played in a list after a silent entry
    # of another file, its grid given ahead)
    ('on the beat, rate 1', 2.0, 6.0, 1.0, 2, False),
    ('on the beat, rate 0.75', 2.0, 6.0, 0.75, 2, False),
    # Stops off the beat too: a mark at the stop would blend out into the wrap's seam.
    ('off the beat (0.2 s after one), rate 1', 2.2, 5.9, 1.0, 2, False),
    ('off the beat, rate 0.75', 2.2, 5.9, 0.75, 2, False),
    ('handed over, on the beat, rate 1', 2.0, 6.0, 1.0, 2, True),
    ('handed over, off the beat, rate 0.75', 2.2, 5.9, 0.75, 2, True),
    # On the video engine: mpv plays the sound, the clicks go beside it.
    ('video, on the beat, rate 1', 2.0, 6.0, 1.0, 2, False),
    ('video, on the beat, rate 0.75', 2.0, 6.0, 0.75, 2, False),
    ('video, off the beat, rate 1', 2.2, 5.9, 1.0, 2, False),
    ('video, off the beat, rate 0.75', 2.2, 5.9, 0.75, 2, False),
    # A third rate tells a lag counted in the source from one counted in the output.
    ('video, on the beat, rate 0.5', 2.0, 6.0, 0.5, 2, False),
]
LEAD = 1.0  # seconds of the silent entry before a handed-over one


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--driver', required=True)
    ap.add_argument('-v', action='store_true', help='each click on stderr')
    ap.add_argument('--only', default='', help='the cases whose name holds this')
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as d:
        media = os.path.join(d, 'marked.wav')
        marked_file(media)
        video = os.path.join(d, 'marked.mkv')
        marked_video(media, video)
        lead = os.path.join(d, 'lead.wav')
        sl.write_wav(lead, array('h', [0] * (2 * int(3 * RATE))))
        print('| case | clicks | count-in: max / mean error ms | metronome: max / mean error ms | accents right | marks: max / mean error ms | damaged | metronome to the nearest mark: median / max ms |')
        print('|---|---|---|---|---|---|---|---|')
        for name, start, stop, rate, passes, handed in CASES:
            if args.only not in name:
                continue
            seconds = 1.5 + passes * PAUSE + (2.5 + passes * (stop - start)) / rate
            on_video = name.startswith('video')
            row = f'{video if on_video else media},{start},{stop},{rate},{passes}'
            practice = f'{PAUSE};4 60 first;;;auto click'
            if handed:
                seconds += LEAD
                driver_args = ['--row', f'{lead},0,{LEAD},1,1', '--next', row, '--next-grid', GRID,
                               '--next-practice', practice]
            else:
                driver_args = ['--row', row, '--grid', GRID, '--practice', practice]
            if on_video:
                driver_args += ['--engine', 'mpv']
            pcm, _ = record_case(args.driver, driver_args, os.path.join(d, 'rec.raw'), seconds)
            rows = measure(pcm, start, stop, rate, passes)
            if rows is None:
                print(f'| {name} | nothing heard | | | | | | |')
                continue
            def fig(kind):
                e = [abs(x) for x, _ in rows[kind]]
                return f'{max(e):.2f} / {sum(e) / len(e):.2f}' if e else '-'
            def near(pairs):
                e = sorted(abs(x) for x, _ in pairs)
                return f'{e[len(e) // 2]:.2f} / {e[-1]:.2f}' if e else '-'
            right = sum(ok for k in ('count-in', 'metronome') for _, ok in rows[k])
            total = len(rows['count-in']) + len(rows['metronome'])
            print(f"| {name} | {len(rows['count-in'])} + {len(rows['metronome'])} | {fig('count-in')} | {fig('metronome')} "
                  f"| {right}/{total} | {fig('marks')} | {len(rows['damaged'])} | {near(rows['nearest'])} |", flush=True)


if __name__ == '__main__':
    main()
