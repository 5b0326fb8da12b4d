#!/usr/bin/env python3
"""The hear filters on the output: levels with and without them, the step a change makes,
and the CPU they cost. Run by run.sh, which sets up the sink and the driver."""
import argparse
import array
import math
import shutil
import statistics
import sys
import os
import subprocess
import tempfile
import time
import wave

RATE = 44100
SINK = os.environ.get('SINK', 'vamplet_hear')


def write_tone(path, hz, left, right, seconds=4):
    data = array.array('h')
    for i in range(int(seconds * RATE)):
        s = math.sin(2 * math.pi * hz * i / RATE)
        data.extend((int(32767 * left * s), int(32767 * right * s)))
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data.tobytes())


ENGINE = ['--engine', 'sample']


def media(wav):
    """The tone file itself, or for the video engine a video with it as its sound track."""
    if ENGINE[1] != 'mpv':
        return wav
    mkv = wav[:-4] + '.mkv'
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', 'color=c=black:s=64x64:r=25', '-i', wav,
                    '-shortest', '-c:v', 'mpeg4', '-c:a', 'pcm_s16le', mkv], check=True)
    return mkv


def record(driver, args, path, seconds):
    rec = subprocess.Popen(['parec', '-d', SINK + '.monitor', '--raw', '--format=s16le', '--rate=44100',
                            '--channels=2', '--latency-msec=5', path])
    time.sleep(0.8)
    out = subprocess.run([driver] + ENGINE + args + ['--seconds', str(seconds)], capture_output=True, text=True,
                         check=True).stdout
    time.sleep(0.3)
    rec.terminate()
    rec.wait()
    if 'OUTPUT pulse' not in out and 'OUTPUT mpv' not in out:
        raise SystemExit('the driver found no sound server')
    pcm = array.array('h')
    with open(path, 'rb') as f:
        pcm.frombytes(f.read())
    return pcm, out.splitlines()


def rms_db(pcm, ch, first, last):
    v = [pcm[2 * f + ch] / 32768 for f in range(first, last)]
    return 10 * math.log10(sum(x * x for x in v) / max(1, len(v)) + 1e-20)


def level(driver, tmp, wav, rate, hear, seconds=5):
    """Left and right RMS (dB) over the middle of the play."""
    pcm, _ = record(driver, ['--file', wav, '--rate', str(rate), '--hear', hear], os.path.join(tmp, 'rec.raw'), seconds)
    first, last = int(2.2 * RATE), min(len(pcm) // 2, int((seconds + 0.3) * RATE))
    return rms_db(pcm, 0, first, last), rms_db(pcm, 1, first, last)


def step_origins(driver, tmp, wav, runs):
    """The largest step of each of `runs` changes while playing, in the recording and in what
    the engine handed the output (its tap), over the same middle of the play: a step found
    only in the recording came after us. Silence at it says the sink went without our sound
    there; the server's log (run.sh's own server, at BENCH_PULSE_LOG_LEVEL=debug) says
    whether it saw our stream run dry."""
    log = os.path.join(os.environ.get('XDG_RUNTIME_DIR', tmp), 'log')
    print('| run | largest step recorded | ms from the change | silence there, frames | largest step handed over '
          '| silence handed over, frames | server saw our stream run dry |')
    print('|---|---|---|---|---|---|---|')
    tap = os.path.join(tmp, 'tap.raw')
    for run in range(runs):
        logged = os.path.getsize(log) if os.path.exists(log) else 0
        pcm, out = record(driver, ['--file', wav, '--rate', '1', '--hear', '', '--change-at', '2', '--to', 'cancel',
                                   '--tap', tap], os.path.join(tmp, 'rec.raw'), 4)
        loud = [f for f in range(len(pcm) // 2) if abs(pcm[2 * f]) > 300]
        first, last = loud[0] + RATE // 2, loud[-1] - RATE // 2
        rec_step, rec_at, rec_quiet = largest_step([pcm[2 * f] / 32768 for f in range(first, last)])
        tapped = array.array('f')
        with open(tap, 'rb') as f:
            tapped.frombytes(f.read())
        tl = tapped[0::2]
        sound = [i for i, v in enumerate(tl) if abs(v) > 300 / 32768]
        tap_step, _, tap_quiet = largest_step(tl[sound[0] + RATE // 2:sound[-1] - RATE // 2])
        times = {l.split()[0]: int(l.split()[1]) for l in out if l.startswith(('PLAY', 'CHANGE'))}
        change = (first + rec_at - loud[0]) / RATE * 1000 - (times['CHANGE'] - times['PLAY']) / 1e6
        dry = 0
        if os.path.exists(log):
            with open(log, errors='replace') as f:
                f.seek(logged)
                dry = sum(1 for l in f if 'nderrun' in l)
        print(f'| {run + 1} | {rec_step:.4f} | {change:+.0f} | {rec_quiet} | {tap_step:.4f} | {tap_quiet} | {dry} |',
              flush=True)


def window_levels(left, first, count, n):
    """The RMS of `count` windows of n frames from `first`."""
    return [math.sqrt(sum(x * x for x in left[first + k * n:first + (k + 1) * n]) / n) for k in range(count)]


def latency(driver, tmp, changes):
    """From each call that changes the settings (the engine's setHear) to the first 5 ms
    window at the sink with the new sound: a tone of 0.5 on the left, 0.05 on the right,
    the left channel taken by turns as it is and from the right ('right'). The recorder's
    clock maps each recorded frame to when it reached the recorder."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'seam'))
    import seamlib as sl
    import seam
    seam.SINK = SINK
    wav = os.path.join(tmp, 'latency.wav')
    every = 0.8
    seconds = 3 + changes * every * 1.25
    write_tone(wav, 440, 0.5, 0.05, seconds=seconds + 2)
    wav = media(wav)
    rec = seam.Recorder(os.path.join(tmp, 'lat.raw'))
    out = subprocess.run([driver] + ENGINE + ['--file', wav, '--rate', '1', '--hear', '', '--change-at', '2',
                                              '--to', 'right', '--toggles', str(changes - 1), '--every', str(every),
                                              '--seconds', str(seconds)], capture_output=True, text=True,
                         check=True).stdout
    time.sleep(0.3)
    pcm, chunks = rec.stop()
    clock = sl.Clock(chunks)
    left = [pcm[2 * f] / 32768 for f in range(len(pcm) // 2)]
    calls = [int(l.split()[1]) / 1e9 for l in out.splitlines() if l.startswith('CHANGE')]
    n = RATE // 200
    hi, lo = 0.5 / math.sqrt(2), 0.05 / math.sqrt(2)
    moved, heard = [], []
    for k, t in enumerate(calls):
        old, new = (hi, lo) if k % 2 == 0 else (lo, hi)
        f0 = clock.frame_at(t)
        levels = window_levels(left, f0, int(0.7 * RATE) // n, n)
        # Moved: a tenth of the way; heard: past half-way (the fade takes 10 ms).
        first = lambda share: next((i for i, v in enumerate(levels) if abs(v - old) > share * abs(new - old)), None)
        if first(0.5) is None:
            continue
        moved.append((first(0.1) + 1) * n / RATE * 1000)
        heard.append((first(0.5) + 1) * n / RATE * 1000)
    # The tone never pauses: exact silence between the first call and the end is the stream
    # running dry (an underrun at mpv or at the server).
    gaps, zeros = [], 0
    for x in left[clock.frame_at(calls[0]):clock.frame_at(calls[-1]) + RATE // 2]:
        zeros = zeros + 1 if x == 0 else 0
        if zeros == 64:
            gaps.append(0)
        if zeros >= 64:
            gaps[-1] = zeros
    stat = lambda v: (f'{statistics.median(v):.0f} | {sorted(v)[int(0.9 * (len(v) - 1))]:.0f} | {max(v):.0f}'
                      if v else 'none | | ')
    print('| from the call to the end of the first 5 ms window | changes | median ms | 90 % | max |')
    print('|---|---|---|---|---|')
    print(f'| a tenth of the way | {len(moved)} of {len(calls)} | {stat(moved)} |')
    print(f'| past half-way (the new sound) | {len(heard)} of {len(calls)} | {stat(heard)} |')
    print(f'dry: {len(gaps)} runs of 64 frames or more of exact silence, longest {max(gaps or [0])} frames', flush=True)


def ends(driver, tmp):
    """A file played once to its end, with no loop and as a list's entry (held at its stop,
    the file's end): of a quiet tone with a click every 128 frames over its last 4096 frames,
    how much of the end the sink never heard (to 128 frames, by the clicks heard)."""
    wav = os.path.join(tmp, 'end.wav')
    total, clicks = 44200, 4096
    data = array.array('h')
    for i in range(total):
        v = 0.9 if i >= total - clicks and (i - total + clicks) % 128 < 3 else 0.05 * math.sin(2 * math.pi * 300 * i / RATE)
        data.extend((int(32767 * v), int(32767 * v)))
    with wave.open(wav, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data.tobytes())
    wav = media(wav)
    print('| played | setting | clicks heard of 32 | end not heard, frames (to 128) |')
    print('|---|---|---|---|')
    for once, hear in [(o, h) for o in ('1', '2') for h in ['', 'keep', 'left +6dB', 'keep left +6dB']]:
        pcm, _ = record(driver, ['--file', wav, '--rate', '1', '--hear', hear, '--once', once],
                        os.path.join(tmp, 'rec.raw'), 4)
        left = [pcm[2 * f] / 32768 for f in range(len(pcm) // 2)]
        click = [k for k, x in enumerate(left) if abs(x) > 0.5]
        runs = [k for j, k in enumerate(click) if j == 0 or k - click[j - 1] > 64]
        lost = (clicks - 128) - (runs[-1] - runs[0]) if runs else clicks
        print(f'| {("to its end", "as a list entry")[int(once) - 1]} | {hear or "none"} | {len(runs)} | {lost} |',
              flush=True)


def largest_step(v):
    """The largest step between samples, where, and the longest run of exact silence near it."""
    steps = [abs(v[i] - v[i - 1]) for i in range(1, len(v))]
    at = steps.index(max(steps)) + 1
    zeros = longest = 0
    for x in v[max(0, at - 2000):at + 2000]:
        zeros = zeros + 1 if x == 0 else 0
        longest = max(longest, zeros)
    return max(steps), at, longest


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--driver', required=True)
    ap.add_argument('--only', default='', help='levels, band, change, wrap, cpu, or steps, latency, end (these three not run without it)')
    ap.add_argument('--runs', type=int, default=12, help='how many times steps turns the filter on')
    ap.add_argument('--engine', default='sample', help='sample, or mpv: the same through the video engine')
    a = ap.parse_args()
    ENGINE[1] = a.engine
    want = lambda part: not a.only or a.only == part
    tmp = tempfile.mkdtemp(prefix='vamplet-hear.')
    d = a.driver
    files = {}
    for name, hz, l, r in [('centre', 440, 0.4, 0.4), ('left', 440, 0.4, 0), ('side', 440, 0.4, -0.4)]:
        files[name] = os.path.join(tmp, name + '.wav')
        write_tone(files[name], hz, l, r)
        files[name] = media(files[name])
    head = lambda part, cols: want(part) and print(cols + '\n' + '|---' * (cols.count('|') - 1) + '|')
    head('levels', '| case | rate | without (L dB) | with (L dB) | change dB |')
    for name, hear in [('centre', 'cancel'), ('left', 'cancel'), ('side', 'keep'), ('left', 'keep'),
                       ('centre', 'keep')] * want('levels'):
        for rate in (1, 0.75):
            off = level(d, tmp, files[name], rate, '')[0]
            on = level(d, tmp, files[name], rate, hear)[0]
            print(f'| {name} tone, {hear} | {rate} | {off:.1f} | {on:.1f} | {on - off:+.1f} |', flush=True)
    head('band', '| band | tone Hz | where | change dB |')
    for band, tones in [('200-4000', [(141, '1/2 oct below'), (50, '2 oct below'), (5657, '1/2 oct above'),
                                      (16000, '2 oct above'), (1000, 'inside')]),
                        ('40-300', [(28, '1/2 oct below'), (10, '2 oct below'), (424, '1/2 oct above'),
                                    (1200, '2 oct above'), (110, 'inside')])] * want('band'):
        for hz, where in tones:
            wav = os.path.join(tmp, 'band.wav')
            write_tone(wav, hz, 0.4, 0.4)
            wav = media(wav)
            off = level(d, tmp, wav, 1, '')[0]
            on = level(d, tmp, wav, 1, band)[0]
            print(f'| {band} | {hz} | {where} | {on - off:+.1f} |')
    # Turned on while playing: the largest step between samples against the tone's own.
    wav = os.path.join(tmp, 'change.wav')
    write_tone(wav, 440, 0.5, 0.2)
    wav = media(wav)
    head('change', '| change while playing | largest step | tone\'s own step | heard after a start\'s latency, ms |')
    for was, to in [('', 'cancel'), ('', '200-4000'), ('', 'right +6dB'), ('', 'keep'), ('keep', '')] * want('change'):
        pcm, out = record(d, ['--file', wav, '--rate', '1', '--hear', was, '--change-at', '2', '--to', to],
                        os.path.join(tmp, 'rec.raw'), 4)
        if os.environ.get('HEAR_KEEP'):
            shutil.copy(os.path.join(tmp, 'rec.raw'),
                        os.path.join(os.environ['HEAR_KEEP'], f'{was or "none"}-{to or "none"}.raw'.replace(' ', '')))
        # From 1 s after the sound began (the change comes 2 s in) to 0.5 s before it ended.
        loud = [f for f in range(len(pcm) // 2) if abs(pcm[2 * f]) > 300]
        first, last = loud[0] + RATE, loud[-1] - RATE // 2
        steps = [abs(pcm[i] - pcm[i - 2]) / 32768 for i in range(2 * first, 2 * last)]
        own = 2 * math.sin(math.pi * 440 / RATE) * 0.5 * (2 if 'dB' in to else 1)
        # Where the left channel's peak first leaves the tone's own, against where the play's
        # start would put the change: the change's latency beyond the start's.
        times = {l.split()[0]: int(l.split()[1]) for l in out if l.startswith(('PLAY', 'CHANGE'))}
        peak = lambda f: max(abs(pcm[2 * g]) for g in range(f, f + 100)) / 32768
        # A change that moves no peak (a band around the tone) has no latency here, only steps.
        heard = next((f for f in range(first, last, 25) if abs(peak(f) - peak(first)) > 0.02), None)
        late = f'{(heard - loud[0]) / RATE * 1000 - (times["CHANGE"] - times["PLAY"]) / 1e6:+.0f}' if heard else 'none'
        at = f'{(steps.index(max(steps)) // 2 + first - heard) / RATE * 1000:+.0f} ms from the change' if heard else \
            f'{(steps.index(max(steps)) // 2 + first - loud[0]) / RATE:.3f} s in'
        print(f'| {was or "none"} to {to or "none"} | {max(steps):.4f} ({at}) | {own:.4f} | {late} |')
    # Kept across the loop's wraps: a 4 s tone looped for 10 s, the setting turned on 2 s in;
    # the largest step (where, from the sound's start) and the left channel's level before it, after it, after the first and second wraps.
    head('wrap', '| turned on 2 s in | largest step | before dB | after | after a wrap | after two |')
    for to in ['cancel', '200-4000 right', 'left +6dB', 'keep'] * want('wrap'):
        pcm, _ = record(d, ['--file', wav, '--rate', '1', '--hear', '', '--change-at', '2', '--to', to],
                        os.path.join(tmp, 'rec.raw'), 10)
        if os.environ.get('HEAR_KEEP'):
            shutil.copy(os.path.join(tmp, 'rec.raw'), os.path.join(os.environ['HEAR_KEEP'], to.split()[0] + '.raw'))
        s0 = next(f for f in range(len(pcm) // 2) if abs(pcm[2 * f]) > 300)
        at = lambda t0, t1: rms_db(pcm, 0, s0 + int(t0 * RATE), s0 + int(t1 * RATE))
        # The steps away from the wraps (whose silence and restart are the loop's own).
        steps, f = max((abs(pcm[2 * f] - pcm[2 * f - 2]) / 32768, f) for f in range(s0 + RATE // 2, s0 + int(3.8 * RATE)))
        print(f'| {to} | {steps:.4f} at {(f - s0) / RATE:.3f} s | {at(0.5, 1.3):.1f} | {at(2.6, 3.8):.1f} | {at(4.5, 7.5):.1f} | '
              f'{at(8.3, 8.8):.1f} |', flush=True)
    if a.only == 'latency':
        latency(d, tmp, a.runs)
    if a.only == 'end':
        ends(d, tmp)
    if a.only == 'steps':
        step_origins(d, tmp, wav, a.runs)
    head('cpu', '| CPU at 0.75 | process CPU % of a core |')
    long = os.path.join(tmp, 'long.wav')
    write_tone(long, 440, 0.4, 0.3, seconds=20)
    long = media(long)
    for hear in ['', '200-4000 cancel left +6dB', '200-4000 keep left +6dB'] * want('cpu'):
        _, out = record(d, ['--file', long, '--rate', '0.75', '--hear', hear], os.path.join(tmp, 'rec.raw'), 15)
        cpu, secs = [float(x) for x in next(l for l in out if l.startswith('CPU')).split()[1:]]
        print(f'| {hear or "none"} | {100 * cpu / secs:.2f} |')


if __name__ == '__main__':
    main()
