#!/usr/bin/env python3
"""Practice settings and live loop changes, read off a recording of the output.

Run through run.sh, which sets up the sink. Prints one table; see README.md."""
import argparse
import math
import os
import subprocess
import sys
import tempfile
import time
from array import array

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'seam'))
import seamlib as sl  # noqa: E402

RATE = sl.RATE
SINK = os.environ.get('PULSE_SINK', 'vamplet_practice')


def gated_tone(seconds, period=1.0, gap=0.05, hz=440.0, amplitude=16000):
    """A tone that falls silent for `gap` at the end of every `period`: passes are told apart."""
    out = array('h')
    for i in range(int(seconds * RATE)):
        t = i / RATE
        on = (t % period) < period - gap
        v = int(amplitude * math.sin(2 * math.pi * hz * t)) if on else 0
        out.extend((v, v))
    return out


def make_files(d):
    files = {'tone': os.path.join(d, 'tone.wav'), 'gated': os.path.join(d, 'gated.wav'),
             'index': os.path.join(d, 'index.wav')}
    sl.write_wav(files['tone'], sl.tone_samples(8))
    sl.write_wav(files['gated'], gated_tone(8))
    sl.write_wav(files['index'], sl.index_samples(1, 9))
    return files


def record_case(driver, args, path, seconds):
    rec = subprocess.Popen(['parec', '-d', SINK + '.monitor', '--raw', '--format=s16le', '--rate=44100',
                            '--channels=2', '--latency-msec=5', path])
    time.sleep(0.8)  # parec takes a moment to start; nothing plays before it records
    out = subprocess.run([driver] + args + ['--seconds', str(seconds)], capture_output=True, text=True,
                         env=dict(os.environ, QT_QPA_PLATFORM='offscreen'), check=True).stdout
    time.sleep(0.3)
    rec.terminate()
    rec.wait()
    if 'OUTPUT pulse' not in out:
        raise SystemExit('the driver found no sound server')
    return sl.read_pcm(path), out.splitlines()


def sound_onsets(pcm, threshold, min_silence):
    """Recorded frames where sound starts after at least `min_silence` frames below `threshold`."""
    onsets, quiet = [], min_silence
    for f in range(len(pcm) // 2):
        if abs(pcm[2 * f]) < threshold:
            quiet += 1
            continue
        if quiet >= min_silence:
            onsets.append(f)
        quiet = 0
    return onsets


def silences(pcm, threshold, min_frames):
    """(first frame, length) of each run of at least `min_frames` below `threshold`, between sounds."""
    runs, start = [], None
    for f in range(len(pcm) // 2):
        if abs(pcm[2 * f]) < threshold:
            if start is None:
                start = f
        else:
            if start is not None and f - start >= min_frames:
                runs.append((start, f - start))
            start = None
    return runs


def frequency(pcm, first, frames, window=RATE // 10):
    """Rising zero crossings, interpolated between samples, in windows of 100 ms; the median
    window, so that a dropout of a loaded machine (a window with silence) does not count."""
    rates = []
    for w in range(first, first + frames - window, window):
        xs, quiet = [], 0
        for f in range(w, w + window):
            a, b = pcm[2 * f], pcm[2 * f + 2]
            quiet = quiet + 1 if abs(a) < 2 else 0
            if quiet > 8:
                break
            if a < 0 <= b:
                xs.append(f + (-a) / (b - a))
        if quiet <= 8 and len(xs) > 2:
            rates.append((len(xs) - 1) / ((xs[-1] - xs[0]) / RATE))
    return sorted(rates)[len(rates) // 2]


def ms(frames):
    return '%.2f ms' % (frames * 1000.0 / RATE)


def on_engine(engine):
    return '' if engine == 'sample' else ', ' + engine


def case_pause(driver, files, tmp, engine='sample'):
    pcm, _ = record_case(driver, ['--row', files['tone'] + ',0.5,1.5,1,3', '--practice', '0.5;;;', '--engine', engine],
                         os.path.join(tmp, 'pause.raw'), 5.5)
    first = sound_onsets(pcm, 2, 1)[0]
    gaps = [(s, n) for (s, n) in silences(pcm, 2, RATE // 10) if s > first][:2]
    rows = [('pause 0.5 s, between passes %d-%d%s' % (i + 1, i + 2, on_engine(engine)), '22050 frames',
             '%d frames (%s)' % (n, ms(n))) for i, (s, n) in enumerate(gaps)]
    # The sound between two pauses is one whole pass: a pause begun late or early moves
    # some of it to the other side.
    if len(gaps) == 2:
        between = gaps[1][0] - (gaps[0][0] + gaps[0][1])
        rows.append(('pause 0.5 s, the pass between the pauses%s' % on_engine(engine), '44100 frames',
                     '%d frames (%+.2f ms)' % (between, (between - RATE) * 1000.0 / RATE)))
    return rows


def case_pause_place(driver, files, tmp, engine='sample'):
    """Where in the content each pause falls, read off the index signal (2-3 s of the file)."""
    pcm, _ = record_case(driver, ['--row', files['index'] + ',2,3,1,3', '--practice', '0.5;;;', '--engine', engine],
                         os.path.join(tmp, 'pauseplace.raw'), 5.5)
    start = 2 * RATE
    before, after, last = [], [], None
    for s, n in silences(pcm, 2, RATE // 10):
        prev = next((sl.decode_frame(pcm[2 * i], pcm[2 * i + 1]) for i in range(s - 1, max(0, s - 400), -1)
                     if sl.decode_frame(pcm[2 * i], pcm[2 * i + 1]) not in (sl.SILENT, sl.GARBLED)), None)
        nxt = next((sl.decode_frame(pcm[2 * i], pcm[2 * i + 1]) for i in range(s + n, min(len(pcm) // 2, s + n + 400))
                    if sl.decode_frame(pcm[2 * i], pcm[2 * i + 1]) not in (sl.SILENT, sl.GARBLED)), None)
        if prev and nxt and last is not None:
            before.append(prev[1] - start)
            after.append(prev[1] - nxt[1])
        last = s
    # The blend at a pass's end leaves no readable index: the sample engine reads nothing here.
    return [('pause 0.5 s: frames of the next pass heard before it, frames heard again after it' + on_engine(engine),
             '0, 0', ', '.join('%d/%d' % ba for ba in zip(before, after)) or 'no readable index at the pauses')]


def case_count_in(driver, files, tmp, engine='sample'):
    pcm, _ = record_case(driver, ['--row', files['tone'] + ',0.5,1.5,1,2', '--practice', ';4 120 first;;',
                                  '--engine', engine], os.path.join(tmp, 'countin.raw'), 4.5)
    on = sound_onsets(pcm, 100, RATE // 20)
    rows = []
    for i in range(1, min(len(on), 5)):
        what = 'click %d to click %d' % (i, i + 1) if i < 4 else 'last click to the pass'
        rows.append(('count-in 4 at 120, ' + what + on_engine(engine), '22050 frames', '%d frames' % (on[i] - on[i - 1])))
    rows.append(('count-in "first": onsets after the pass starts' + on_engine(engine), '0', str(len(on) - 5)))
    return rows


def case_trainer(driver, files, tmp, engine='sample'):
    pcm, _ = record_case(driver, ['--row', files['gated'] + ',1,2,1,6', '--practice', ';;0.6 0.1 1;',
                                  '--engine', engine], os.path.join(tmp, 'trainer.raw'), 9)
    on = []
    for f in sound_onsets(pcm, 300, int(0.015 * RATE)):
        if not on or f - on[-1] > RATE // 3:  # a pass lasts 1 s at rate 1: nothing between
            on.append(f)
    rows = []
    expected = [0.6, 0.7, 0.8, 0.9, 1.0]
    for i in range(1, min(len(on), 6)):
        rows.append(('trainer 0.6 +0.1 a pass, pass %d rate%s' % (i, on_engine(engine)), '%.3f' % expected[i - 1],
                     '%.4f' % (RATE / (on[i] - on[i - 1]))))
    return rows


def case_next(driver, files, tmp, practice, what, pause_frames, rate):
    """Two passes of 0.5-1.5 s of a tone, then the list's next entry (2.5-3.5 s) with its own
    practice settings: whether it was handed over, the silence between the two, and the
    rate of the next entry's pass (the sound after the first pass and the silence, against
    1 s of the file)."""
    pcm, lines = record_case(driver, ['--row', files['tone'] + ',0.5,1.5,1,2', '--next', files['tone'] + ',2.5,3.5,1,1',
                                      '--next-practice', practice], os.path.join(tmp, 'next.raw'), 6)
    handed = any(line.startswith('NEXT') for line in lines)
    first = sound_onsets(pcm, 2, 1)[0]
    quiet = [(s, n) for (s, n) in silences(pcm, 2, RATE // 10) if s > first]
    gap = quiet[0][1] if quiet and quiet[0][0] < first + 2 * RATE + RATE // 10 else 0
    last = len(pcm) // 2
    while last > 0 and abs(pcm[2 * last - 2]) < 2:
        last -= 1
    heard = last - first - 2 * RATE - gap
    return [('next entry, %s: handed over' % what, 'yes', 'yes' if handed else 'no'),
            ('next entry, %s: silence between' % what, '%d frames' % pause_frames, '%d frames' % gap),
            ('next entry, %s: rate of its first pass' % what, '%.3f' % rate, '%.4f' % (RATE / heard))]


def case_transpose(driver, files, tmp, pitch, engine='sample'):
    pcm, _ = record_case(driver, ['--row', files['tone'] + ',0.5,7.5,1,1', '--loop', '--practice', ';;;' + pitch,
                                  '--engine', engine], os.path.join(tmp, 'pitch.raw'), 3.5)
    first = sound_onsets(pcm, 100, 1)[0]
    semis, cents = (int(v) for v in pitch.split())
    want = 2 ** ((semis * 100 + cents) / 1200.0)
    got = frequency(pcm, first + RATE // 2, 2 * RATE) / 440.0
    return [('transpose %s: pitch ratio of a 440 Hz tone%s' % (pitch, '' if engine == 'sample' else ', ' + engine),
             '%.4f' % want, '%.4f' % got)]


def change_once(driver, files, tmp, how, ahead):
    """One run: (landed on the new stop, silence frames at the first break, source frames of
    the pass lost at it, frames played past the new stop)."""
    pcm, lines = record_case(driver, ['--row', files['index'] + ',0,8,1,1', '--loop', '--crossfade', '0',
                                      '--change-at', '2', '--new-stop', str(ahead), '--how', how],
                             os.path.join(tmp, 'change.raw'), 3)
    change = next(line.split() for line in lines if line.startswith('CHANGE'))
    heard, stop = round(float(change[2]) * RATE), round(float(change[3]) * RATE)
    runs = [r for r in sl.runs_of(pcm) if r.last - r.first > 32]
    at = next(i for i, r in enumerate(runs) if r.first <= heard <= r.last)
    if at + 1 == len(runs):
        return False, 0, 0, len(pcm) // 2
    run, nxt = runs[at], runs[at + 1]
    return (run.last + 1 == stop and nxt.first == 0, nxt.rec_first - run.rec_last - 1, max(0, stop - run.last - 1),
            max(0, run.last + 1 - stop))


def case_change(driver, files, tmp, how, ahead, repeats=3):
    """The stop moved to `ahead` s past the position heard, while an 8 s stretch loops: how
    often the first break in the sound is the wrap at the new stop, the silence there, and
    what was lost of the pass (a restart jumps back before reaching the stop)."""
    got = [change_once(driver, files, tmp, how, ahead) for _ in range(repeats)]
    return [('stop moved %d ms ahead, %s' % (ahead * 1000, how), 'wraps at the new stop %d/%d, silence 0, lost 0'
             % (repeats, repeats),
             'wraps at the new stop %d/%d; silence %s frames; lost %s; past the stop %s' % (
                 sum(g[0] for g in got), repeats, ' '.join(str(g[1]) for g in got),
                 ' '.join(ms(g[2]) for g in got), ' '.join(ms(g[3]) for g in got)))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--driver', required=True)
    ap.add_argument('--only', default='')
    opts = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        files = make_files(tmp)
        cases = [('pause', lambda: case_pause(opts.driver, files, tmp)),
                 ('count-in', lambda: case_count_in(opts.driver, files, tmp)),
                 ('trainer', lambda: case_trainer(opts.driver, files, tmp)),
                 ('transpose up', lambda: case_transpose(opts.driver, files, tmp, '7 0')),
                 ('transpose down', lambda: case_transpose(opts.driver, files, tmp, '-5 -30')),
                 ('transpose on mpv', lambda: case_transpose(opts.driver, files, tmp, '-5 -30', 'mpv')),
                 ('next entry with a pause',
                  lambda: case_next(opts.driver, files, tmp, '0.5;;;', 'a pause of 0.5 s', 22050, 1.0)),
                 ('next entry with a trainer',
                  lambda: case_next(opts.driver, files, tmp, ';;0.6 0.1 1;', 'a trainer from 0.6', 0, 0.6)),
                 ('pause on mpv', lambda: case_pause(opts.driver, files, tmp, 'mpv')),
                 ('pause place on mpv', lambda: case_pause_place(opts.driver, files, tmp, 'mpv')),
                 ('count-in on mpv', lambda: case_count_in(opts.driver, files, tmp, 'mpv')),
                 ('trainer on mpv', lambda: case_trainer(opts.driver, files, tmp, 'mpv')),
                 ] + [
            ('%s stop %d' % (how, ahead * 1000), lambda how=how, ahead=ahead: case_change(opts.driver, files, tmp, how, ahead))
            for how in ('live', 'restart') for ahead in (0.06, 0.08, 0.1, 0.15)]
        print('| measured on the output | expected | got |')
        print('|---|---|---|')
        for name, run in cases:
            if opts.only not in name:
                continue
            for row in run():
                print('| %s | %s | %s |' % row)
                sys.stdout.flush()


if __name__ == '__main__':
    main()
