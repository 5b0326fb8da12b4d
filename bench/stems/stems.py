#!/usr/bin/env python3
"""Stems on the output: four stems played in step through the list's loops and entry
changes, and their mix changed while they play. Run by run.sh, which sets up the sink and
the driver.

index (rate 1, hard seams): each stem carries four bits of every sample's index in its own
  place of the left channel (stem k: bits 4k-4k+3), the first stem the rest on the right.
  Mixed, each recorded sample says which index each stem played: the four agree exactly
  when the stems are in step. Seams and entry changes must jump from a stop to a start
  with no sample lost and no silence.
cancel (rate 0.75, blended seams): stems A = noise 1, B = tone - noise 1, C = noise 2,
  D = -noise 2. In step their mix is the tone alone; a stem one sample off leaves noise,
  which the second difference (a high-pass) finds at the level of a whole stem. Every
  few seconds the mix changes (C muted, B alone, all again): heard when the noise comes
  or goes.
"""
import argparse
import os
import subprocess
import tempfile
import threading
import time
import wave

import numpy as np

RATE = 44100
SINK = os.environ.get('SINK', 'vamplet_stems')


def write_wav(path, left, right):
    data = np.empty(2 * len(left), dtype='<i2')
    data[0::2], data[1::2] = left, right
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data.tobytes())


def index_stems(tmp, seconds):
    i = np.arange(int(seconds * RATE), dtype=np.int64) + 1  # + 1: no sample is (0, 0)
    paths = []
    for k in range(4):
        left = (((i & 0xF) << (4 * k)) & 0xFFFF).astype(np.uint16).view(np.int16)
        right = (i >> 4).astype(np.int16) if k == 0 else np.zeros(len(i), np.int16)
        paths.append(os.path.join(tmp, f'song.{["vocals", "drums", "bass", "other"][k]}.wav'))
        write_wav(paths[-1], left, right)
    song = os.path.join(tmp, 'song.wav')
    write_wav(song, np.zeros(len(i), np.int16), np.zeros(len(i), np.int16))
    return song, paths


def cancel_stems(tmp, seconds):
    n = int(seconds * RATE)
    rng = np.random.default_rng(7)
    n1 = (rng.uniform(-1, 1, n) * 5000).astype(np.int16)
    n2 = (rng.uniform(-1, 1, n) * 5000).astype(np.int16)
    tone = (np.sin(2 * np.pi * 440 * np.arange(n) / RATE) * 10000).astype(np.int16)
    paths = []
    for name, s in [('a', n1), ('b', tone - n1), ('c', n2), ('d', -n2)]:
        paths.append(os.path.join(tmp, f'tone.{name}.wav'))
        write_wav(paths[-1], s, s)
    song = os.path.join(tmp, 'tone.wav')
    write_wav(song, tone, tone)
    return song, paths


LOADS = []  # the one-minute load average, at the start and each minute of a recording


def watch_load(stop):
    while True:
        with open('/proc/loadavg') as f:
            LOADS.append(float(f.read().split()[0]))
        if stop.wait(60):
            return


def record(driver, args, path, seconds, clock=None):
    """The sink's sound while the driver plays, and the driver's lines. `clock`, a list,
    gets (monotonic ns when read, frames read by then) for each read of the recording:
    the sink had played frame k before that time (sink_clock())."""
    LOADS.clear()
    stop_load = threading.Event()
    loads = threading.Thread(target=watch_load, args=(stop_load,))
    loads.start()
    rec = subprocess.Popen(['parec', '-d', SINK + '.monitor', '--raw', '--format=s16le', '--rate=44100',
                            '--channels=2', '--latency-msec=5'], stdout=subprocess.PIPE)
    got = bytearray()

    def read():
        while True:
            b = os.read(rec.stdout.fileno(), 4096)
            if not b:
                return
            got.extend(b)
            if clock is not None:
                clock.append((time.monotonic_ns(), len(got) // 4))
    reader = threading.Thread(target=read)
    reader.start()
    time.sleep(0.8)
    out = subprocess.run([driver] + args + ['--seconds', str(seconds)], capture_output=True, text=True,
                         check=True).stdout
    time.sleep(0.3)
    rec.terminate()
    rec.wait()
    reader.join()
    stop_load.set()
    loads.join()
    if 'OUTPUT pulse' not in out:
        raise SystemExit('the driver found no sound server')
    pcm = np.frombuffer(bytes(got[:len(got) // 4 * 4]), dtype='<i2').reshape(-1, 2)
    if os.environ.get('STEMS_KEEP'):  # the recording and the driver's lines, for a closer look
        keep = os.environ['STEMS_KEEP'] + '.' + os.path.basename(driver_args_name(args))
        pcm.tofile(keep + '.raw')
        with open(keep + '.txt', 'w') as f:
            f.write(out)
    return pcm, out.splitlines()


def sink_clock(clock):
    """Frame index -> monotonic ns at the sink. Each read comes some time after the sink
    played its last frame; the least of those delays (each 5 s, a line through them, which
    takes off the sink's drift from the monotonic clock) is the nearest to none."""
    t = np.array([c[0] for c in clock], dtype=np.float64)
    k = np.array([c[1] for c in clock], dtype=np.float64)
    late = t - k / RATE * 1e9
    bins = (k // (5 * RATE)).astype(int)
    at, low = [], []
    for b in np.unique(bins):
        i = np.flatnonzero(bins == b)
        j = i[np.argmin(late[i])]
        at.append(k[j])
        low.append(late[j])
    slope, base = np.polyfit(at, low, 1) if len(at) >= 2 else (0.0, low[0])
    return lambda frame: frame / RATE * 1e9 + base + slope * frame


def driver_args_name(args):
    if '--crossfade' in args:
        return 'index'
    stems = args[args.index('--stems') + 1].count('|') + 1 if '--stems' in args else 0
    return {0: 'single', 1: 'single-stem'}.get(stems, 'cancel')


def sound_span(pcm):
    sound = np.flatnonzero((pcm[:, 0] != 0) | (pcm[:, 1] != 0))
    return sound[0], sound[-1] + 1


def index_run(driver, tmp, seconds):
    song, stems = index_stems(tmp, 8)
    rows = [(1.0, 3.0, 2), (5.0, 6.5, 3), (2.5, 4.0, 1)]
    args = ['--crossfade', '0', '--stems', '|'.join(stems)]
    for start, stop, loops in rows:
        args += ['--row', f'{song},{start},{stop},1,{loops}']
    pcm, _ = record(driver, args, os.path.join(tmp, 'rec.raw'), seconds)
    first, last = sound_span(pcm)
    # The first seconds are read apart (the start settles: see README.md), and the stop's
    # fade (its gains mix the index bits) is left out.
    start_silent = int(np.count_nonzero((pcm[first:first + 5 * RATE] == 0).all(axis=1)))
    first, last = first + 5 * RATE, last - RATE // 3
    left = pcm[first:last, 0].astype(np.int64) & 0xFFFF
    right = pcm[first:last, 1].astype(np.int64)
    nib = [(left >> (4 * k)) & 0xF for k in range(4)]
    silent = (left == 0) & (right == 0)
    out_of_step = int(np.count_nonzero(~silent & ((nib[1] != nib[0]) | (nib[2] != nib[0]) | (nib[3] != nib[0]))))
    index = (right << 4 | nib[0]) - 1
    jumps = np.flatnonzero(np.diff(index) != 1)
    # A jump from a stop (its last sample played) to a start: a seam where both are one
    # row's, an entry change where they are two rows'.
    own = {(int(round(e * RATE)), int(round(st * RATE))) for st, e, _ in rows}
    starts = {int(round(st * RATE)) for st, _, _ in rows}
    stops = {int(round(e * RATE)) for _, e, _ in rows}
    seams = changes = bad = 0
    for j in jumps:
        pair = (int(index[j]) + 1, int(index[j + 1]))
        if pair in own:
            seams += 1
        elif pair[0] in stops and pair[1] in starts:
            changes += 1
        elif not (silent[j] or silent[j + 1]):
            bad += 1
    return {'seconds': (last - first) / RATE, 'frames': last - first, 'silent': int(np.count_nonzero(silent)),
            'start_silent': start_silent,
            'out_of_step': out_of_step, 'seams': seams, 'entry_changes': changes, 'bad_jumps': bad}


def highpass_db(x, win=0.05):
    """Second-difference energy of each `win` s window, in dB."""
    d = np.diff(x.astype(np.float64) / 32768, 2)
    w = int(round(win * RATE))
    n = len(d) // w
    e = (d[:n * w].reshape(n, w) ** 2).mean(axis=1)
    return 10 * np.log10(e + 1e-20)


def where(events, at_ns, label, within=3e9):
    """The mix and entry changes within 3 s of a moment, in ms from it."""
    near = [(t - at_ns) / 1e6 for t, *_ in events if abs(t - at_ns) < within]
    names = [f"{e[1]}{'/' + e[2] if e[2] else ''}" for e in events if abs(e[0] - at_ns) < within]
    return label + ' ' + ' '.join(f'{n}@{d:+.0f}ms' for n, d in zip(names, near))


# The sink's frames read this late or later while a change was on its way: the server was
# held up.
kReadLateMs = 20


def read_late(read_ns, read_late_ms, t0, t1):
    """How late the recorder got the sink's frames at most between two moments, in ms past
    when the sink played them (its clock): a server held up (or the recorder itself) while
    a change was on its way hands over late."""
    i0, i1 = np.searchsorted(read_ns, [t0, t1])
    late = read_late_ms[i0:i1 + 1]
    return float(np.max(late)) if len(late) else 0.0


def print_trace(times, timed, mixes):
    """Each timed change's way to the sink: the engine's TRACE lines (where it prints them)
    from the call until the next change, in ms from the call, and when it was heard."""
    traces = [(int(t[1]), t[2], t[3:]) for t in times if t[0] == 'TRACE']
    calls = sorted(t for t, _ in mixes)
    for t, name, heard, levels, off, gap in sorted(timed, key=lambda c: c[2]):
        after = [c for c in calls if c > t]
        until = after[0] if after else float('inf')
        steps = [f"{what}{'(' + ','.join(x) + ')' if x else ''}@{(ns - t) / 1e6:.1f}"
                 for ns, what, x in traces if t <= ns < min(until, t + 150e6)]
        print(f'trace {name} heard {heard:.1f} ms, sink read up to {gap:.0f} ms late:', ' '.join(steps))
        print(f'   5 ms windows from {-off:.1f} ms (dB against C muted):', ' '.join(f'{v:.0f}' for v in levels))


def silent_runs(rms, w5):
    """(first 5 ms window, windows) of each run of digital silence."""
    k = np.flatnonzero(rms == 0)
    if not len(k):
        return []
    breaks = np.flatnonzero(np.diff(k) > 1)
    starts = np.concatenate([[k[0]], k[breaks + 1]])
    ends = np.concatenate([k[breaks], [k[-1]]])
    return [(int(a), int(b - a + 1)) for a, b in zip(starts, ends)]


def cancel_run(driver, tmp, seconds, every, show_where=False, mode='stems', show_trace=False):
    """mode: 'stems' (the four cancelling stems), 'single' (their mix as one file, the
    changes doing nothing) or 'single-stem' (that file as the one stem, each change a
    remix that sounds the same)."""
    song, stems = cancel_stems(tmp, 12)
    rows = [(1.0, 3.0, 2), (5.0, 6.5, 3), (2.5, 4.0, 1)]
    args = {'stems': ['--stems', '|'.join(stems)], 'single': [], 'single-stem': ['--stems', song]}[mode]
    args += ['--mix-every', str(every)]
    for start, stop, loops in rows:
        args += ['--row', f'{song},{start},{stop},0.75,{loops}']
    clock = []
    pcm, out = record(driver, args, os.path.join(tmp, 'rec.raw'), seconds, clock)
    first, last = sound_span(pcm)
    to_sink = sink_clock(clock)
    read_ns = np.array([c[0] for c in clock], dtype=np.int64)
    read_late_ms = np.array([(c[0] - to_sink(c[1])) / 1e6 for c in clock])
    # The recording's frame (from the first sound on) played at the sink at monotonic `ns`.
    k0, k1 = 0, len(pcm)
    per_frame = (to_sink(k1) - to_sink(k0)) / (k1 - k0)
    frame_at = lambda ns: (ns - to_sink(0)) / per_frame - first
    ns_at = lambda sec: to_sink(0) + (sec * RATE + first) * per_frame
    times = [l.split() for l in out]
    cpu = next(t for t in times if t[0] == 'CPU')
    mixes = [(int(t[1]), t[2]) for t in times if t[0] == 'MIX']
    events = sorted([(int(t[1]), 'MIX', t[2], int(t[3])) for t in times if t[0] == 'MIX'] +
                    [(int(t[2]), 'SELECT', None, int(t[1])) for t in times if t[0] == 'SELECT'])
    # Gaps: the tone's quietest 5 ms (RMS) against its own level, and digital silence.
    # (The first half second, where the start rises, and the stop's fade left out.)
    x = pcm[first + RATE // 2:last - RATE // 3, 0].astype(np.float64) / 32768
    w5 = int(0.005 * RATE)
    n5 = len(x) // w5
    rms = np.sqrt((x[:n5 * w5].reshape(n5, w5) ** 2).mean(axis=1))
    dip = 20 * np.log10(rms.min() / np.median(rms) + 1e-20)
    r = {'seconds': (last - first) / RATE, 'changes': len(mixes), 'dip_db': dip,
         'zero_runs': int(np.count_nonzero(rms == 0)), 'cpu': float(cpu[1]) / float(cpu[2]) * 100,
         'loads': list(LOADS), 'silences': []}
    for k, n in silent_runs(rms, w5):
        sec = (k * w5 + RATE // 2) / RATE
        r['silences'].append(where(events, ns_at(sec), f'silent {n * 5} ms at {sec:.3f} s ({ns_at(sec) / 1e9:.3f} mono):'))
    if mode != 'stems':
        return r
    hp = highpass_db(pcm[first:last, 0])
    win = 0.05
    # Each window's mix, as the sink played it: a change is the playing row's, and each
    # entry plays its own row's mix. Half a second after each change and around each entry
    # change (told once heard, some 40 ms late) is left out.
    at_win = lambda ns, shift=0.0: int(frame_at(ns) / RATE / win + shift / win)
    row_mix, playing = {}, 1
    label = ['all'] * len(hp)
    for k, (t, kind, name, row) in enumerate(events):
        if kind == 'MIX':
            row_mix[row] = name
        playing = row
        end = at_win(events[k + 1][0]) if k + 1 < len(events) else len(hp)
        for w in range(max(0, at_win(t, 0.5)), min(len(hp), end)):
            label[w] = row_mix.get(playing, 'all')
        for w in range(max(0, at_win(t, 0 if kind == 'MIX' else -0.5)), min(len(hp), at_win(t, 0.5))):
            label[w] = 'skip'
    label = np.array(label)
    level = {name: hp[label == name] for name in ('all', 'mute3', 'solo2')}
    noise = np.median(level['mute3'])
    # When each change is heard at the sink: the first 5 ms window past the change's
    # midpoint level (its middle), from the change on. A change within half a second of an
    # entry change is told apart from it by no window: left out (counted all the same).
    mid = (np.median(level['all']) + noise) / 2
    fine = int(0.005 * RATE) / RATE  # a whole number of samples
    hp5 = highpass_db(pcm[first:last, 0], fine)
    late, timed, overshoot = [], [], []
    selects = np.array([e[0] for e in events if e[1] == 'SELECT'] or [-1e18])
    for t, name in mixes:
        if np.min(np.abs(selects - t)) < 0.5e9:
            continue
        w0 = int(frame_at(t) / RATE / fine)
        seg = hp5[max(0, w0):w0 + int(1.0 / fine)]
        want_loud = name != 'all'
        hit = next((k for k, v in enumerate(seg) if (v > mid) == want_loud), None)
        if hit is not None and w0 >= 20:
            # A click is a window louder than the sound on both sides of the change.
            settled = max(np.median(hp5[w0 - 20:w0]), np.median(seg[hit + 10:hit + 40]))
            overshoot.append(float(np.max(seg[:hit + 10])) - settled)
            if show_where and overshoot[-1] > 6:
                print(f'{name} change {overshoot[-1]:+.1f} dB over the settled sound at {frame_at(t) / RATE:.2f} s')
            late.append(((w0 + hit + 0.5) * fine - frame_at(t) / RATE) * 1000)
            timed.append((t, name, late[-1], seg[:30] - noise, (frame_at(t) / RATE / fine - w0) * fine * 1000,
                          read_late(read_ns, read_late_ms, t, t + late[-1] * 1e6)))
    minutes = int(len(hp) * win // 60)
    if show_trace:
        print_trace(times, timed, mixes)
        print('recorder reads late (ms) median / 99 % / max:', ' / '.join(f'{v:.0f}' for v in np.percentile(read_late_ms, [50, 99, 100])))
    if show_where:  # where the worst in-step windows fall
        idx = np.flatnonzero(label == 'all')
        for w in idx[np.argsort(hp[idx])[-3:]]:
            print(where(events, ns_at(w * win), f'in step {hp[w] - noise:+.1f} dB at {w * win:.2f} s:'))
    per_minute = [float(np.max(hp[(label == 'all') & (np.arange(len(hp)) // int(60 / win) == m)], initial=-200)) - noise
                  for m in range(minutes)]
    r.update({'all_db': float(np.max(level['all'])) - noise,
              'all_median_db': float(np.median(level['all'])) - noise,
              'solo2_db': float(np.median(level['solo2'])) - noise,
              'overshoot': overshoot, 'late_ms': late,
              'late_read_on_time': [c[2] for c in timed if c[5] < kReadLateMs], 'drift_ppm': (per_frame * RATE / 1e9 - 1) * 1e6, 'per_minute': per_minute})
    return r


def print_silences(r, show_where):
    print('load average each minute:', ' '.join(f'{v:.2f}' for v in r['loads']))
    print(f"silences: {len(r['silences'])} runs, {r['zero_runs']} windows of 5 ms")
    if show_where:
        for line in r['silences']:
            print(line)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--driver', required=True)
    ap.add_argument('--seconds', type=float, default=600, help='of the stretched run')
    ap.add_argument('--index-seconds', type=float, default=60)
    ap.add_argument('--mix-every', type=float, default=5)
    ap.add_argument('--only', default='', help='index or cancel')
    ap.add_argument('--single', choices=['file', 'stem'], help='the cancelling stems\' mix as one file (the '
                    'changes doing nothing), or as one stem (each change a remix that sounds the same)')
    ap.add_argument('--where', action='store_true', help='print the mix and entry changes near the worst windows')
    ap.add_argument('--trace', action='store_true', help="print each change's way to the sink, by the engine's TRACE lines")
    a = ap.parse_args()
    tmp = tempfile.mkdtemp(prefix='vamplet-stems.')
    if a.only in ('', 'index') and not a.single:
        r = index_run(a.driver, tmp, a.index_seconds)
        print('| rate 1, hard seams | seconds (after the first 5) | frames | out of step | silent | seams | entry changes | other jumps | silent in the first 5 s |')
        print('|---|---|---|---|---|---|---|---|---|')
        print(f"| 4 index stems, list of 3 | {r['seconds']:.1f} | {r['frames']} | {r['out_of_step']} | {r['silent']} | "
              f"{r['seams']} | {r['entry_changes']} | {r['bad_jumps']} | {r['start_silent']} |")
        print()
    if a.single:
        mode = 'single' if a.single == 'file' else 'single-stem'
        r = cancel_run(a.driver, tmp, a.seconds, a.mix_every, a.where, mode)
        print('| rate 0.75, blended seams | seconds | changes | tone\'s deepest 5 ms dip | silent 5 ms | CPU % |')
        print('|---|---|---|---|---|---|')
        print(f"| the mix as {'one file' if mode == 'single' else 'one stem'}, list of 3 | {r['seconds']:.1f} | "
              f"{r['changes']} | {r['dip_db']:+.1f} dB | {r['zero_runs']} | {r['cpu']:.1f} |")
        print_silences(r, a.where)
    elif a.only in ('', 'cancel'):
        r = cancel_run(a.driver, tmp, a.seconds, a.mix_every, a.where, show_trace=a.trace)
        print('| rate 0.75, blended seams | seconds | noise left in step, worst 50 ms (median) | B alone | '
              'changes (timed) | heard at the sink after (ms) min / median / 90 % / max | tone\'s deepest 5 ms dip | silent 5 ms | CPU % |')
        print('|---|---|---|---|---|---|---|---|---|')
        late = r['late_ms']
        lat = (f"{min(late):.0f} / {np.median(late):.0f} / {np.percentile(late, 90):.0f} / {max(late):.0f}"
               if late else 'none')
        print(f"sink clock against the monotonic: {r['drift_ppm']:+.0f} ppm")
        print(f"| 4 cancelling stems, list of 3 | {r['seconds']:.1f} | {r['all_db']:+.1f} dB ({r['all_median_db']:+.1f}) | "
              f"{r['solo2_db']:+.1f} dB | {r['changes']} ({len(late)} timed) | {lat} | {r['dip_db']:+.1f} dB | {r['zero_runs']} | {r['cpu']:.1f} |")
        print()
        print('noise left while all play, worst 50 ms each minute (dB against a stem):',
              ' '.join(f'{v:+.0f}' for v in r['per_minute']))
        if r['overshoot']:
            print(f"a change's loudest 5 ms above the sound before and after it (dB): median "
                  f"{np.median(r['overshoot']):+.1f}, worst {max(r['overshoot']):+.1f}")
        on_time = r['late_read_on_time']
        if on_time:
            print(f"heard after, the {len(on_time)} changes whose sound the recorder read < {kReadLateMs} ms late: "
                  f"{min(on_time):.0f} / {np.median(on_time):.0f} / {np.percentile(on_time, 90):.0f} / {max(on_time):.0f}")
        print_silences(r, a.where)


if __name__ == '__main__':
    main()
