#!/usr/bin/env python3
"""A stop moved while a stretch loops: when is the new stop heard, with a live loop key
and with the entry played again (what the same change costs without the keys)?
Records the sink's monitor with the index signal, so every cut is read to the sample.
Run through run.sh, which starts the sound server and builds the driver."""
import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'seam'))
import seamlib as sl  # noqa: E402
from seam import Recorder  # noqa: E402

START, STOP = 1.0, 3.0

# (name, key, heard position when the key is pressed)
CASES = [
    ('stop -10 ms, 500 ms ahead', 'stop-earlier', 2.5),
    ('stop -100 ms, 300 ms ahead', 'stop-earlier-coarse', 2.6),
    ('stop -100 ms, 150 ms ahead', 'stop-earlier-coarse', 2.75),
    ('stop -100 ms, 80 ms ahead', 'stop-earlier-coarse', 2.82),
    ('stop -100 ms, 40 ms ahead', 'stop-earlier-coarse', 2.86),
    ('stop -100 ms, 20 ms ahead', 'stop-earlier-coarse', 2.88),
    ('stop here', 'stop-here', 2.0),
]

# (name, key, heard position when it is pressed): heard until when, and where play goes on.
QUIET_CASES = [
    ('pause', 'pause', 2.0),
    ('pause, 50 ms before the stop', 'pause', 2.95),
    ('stop', 'stop', 2.0),
]


def drive(driver, wav, workdir, key, at, how, seconds):
    """Plays the stretch through the driver, presses `key` at `at`, and records the sink:
    (the driver's output, the recording, its chunk times)."""
    rec = Recorder(os.path.join(workdir, 'rec.raw'))
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    out = subprocess.run([driver, '--file', wav, '--start', str(START), '--stop', str(STOP), '--at', str(at),
                          '--key', key, '--how', how, '--seconds', str(seconds)],
                         env=env, capture_output=True, text=True, timeout=60)
    time.sleep(0.2)
    pcm, chunks = rec.stop()
    return out, pcm, chunks


def run_quiet(driver, wav, workdir, key, at):
    """The last sound after the key and, for a pause, the first after playing again."""
    out, pcm, chunks = drive(driver, wav, workdir, key, at, 'key', 3)
    t_key = t_resume = heard = None
    for line in out.stdout.splitlines():
        p = line.split()
        if p[0] == 'KEY':
            t_key, heard = int(p[1]) / 1e9, float(p[2])
        elif p[0] == 'RESUME':
            t_resume = int(p[1]) / 1e9
    if t_key is None:
        return None
    clock = sl.Clock(chunks)
    runs = [r for r in sl.runs_of(pcm) if r.rec_last - r.rec_first + 1 >= 16 and r.tag == 0]
    key_frame = clock.frame_at(t_key)
    end_frame = clock.frame_at(t_resume) if t_resume else len(pcm) // 2
    before = [r for r in runs if r.rec_first <= end_frame and r.rec_last >= key_frame]
    if not before:
        return None
    # The sound fades out over its last frames, which the index signal no longer reads:
    # the last sound heard is the last frame that is not digital silence.
    last = before[-1]
    quiet = last.rec_last
    while quiet + 1 < len(pcm) // 2 and (pcm[2 * quiet + 2] or pcm[2 * quiet + 3]) and quiet < end_frame:
        quiet += 1
    row = {
        'key_to_quiet_ms': (clock.time_of(quiet) - t_key) * 1000,
        'past_heard_ms': ((last.last + 1) / sl.RATE - heard) * 1000,
        'resume_vs_cut_ms': None,
    }
    after = [r for r in runs if t_resume and r.rec_first > end_frame]
    if after:
        row['resume_vs_cut_ms'] = (after[0].first - (last.last + 1)) * 1000 / sl.RATE
    return row


def run(driver, wav, workdir, name, key, at, how):
    out, pcm, chunks = drive(driver, wav, workdir, key, at, how, 5)
    t_key = heard = new_stop = None
    for line in out.stdout.splitlines():
        p = line.split()
        if p[0] == 'KEY':
            t_key, heard, new_stop = int(p[1]) / 1e9, float(p[2]), float(p[3])
    if t_key is None:
        return None
    clock = sl.Clock(chunks)
    runs = [r for r in sl.runs_of(pcm) if r.rec_last - r.rec_first + 1 >= 64 and r.tag == 0]
    # The first cut heard after the key: the end of the run playing when it was pressed.
    key_frame = clock.frame_at(t_key)
    jumps = [(a, b) for a, b in zip(runs, runs[1:]) if a.rec_last >= key_frame]
    if not jumps:
        return None
    a, b = jumps[0]
    # The change heard: the first jump back (a wrap) after the key, and where it cut.
    back = next(((x, y) for x, y in jumps if y.first < x.last - sl.RATE // 10), (None, None))[0]
    return {
        'jump_vs_new_ms': ((a.last + 1) / sl.RATE - new_stop) * 1000,
        'key_to_jump_ms': (clock.time_of(a.rec_last) - t_key) * 1000,
        'silence_ms': (b.rec_first - a.rec_last - 1) * 1000 / sl.RATE,
        'landing_ms': (b.first / sl.RATE - START) * 1000,
        'back_cut_vs_new_ms': None if back is None else ((back.last + 1) / sl.RATE - new_stop) * 1000,
        'key_to_back_ms': None if back is None else (clock.time_of(back.rec_last) - t_key) * 1000,
    }


def fmt(v):
    return '-' if v is None else '%.1f' % v


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--driver', required=True)
    ap.add_argument('--repeat', type=int, default=3)
    ap.add_argument('--only', default='', help='cases whose name contains the text')
    ap.add_argument('--video', action='store_true', help='a video with the signal as its sound (mpv)')
    args = ap.parse_args()
    workdir = tempfile.mkdtemp(prefix='vamplet-livekeys-')
    wav = os.path.join(workdir, 'song.wav')
    sl.write_wav(wav, sl.index_samples(0, 6))
    if args.video:
        # Key frames every 2 s, as in bench/seam: the jump back decodes from one.
        video = os.path.join(workdir, 'video.mkv')
        subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc2=size=1280x720:rate=25',
                        '-i', wav, '-t', '6', '-c:v', 'libx264', '-preset', 'veryfast', '-g', '50',
                        '-keyint_min', '50', '-sc_threshold', '0', '-pix_fmt', 'yuv420p', '-c:a', 'pcm_s16le',
                        video], check=True)
        os.remove(wav)
        wav = video
    print('| case | key to the last sound heard (ms) | sound read past the position at the key (ms) '
          '| played again from - last read (ms) |')
    print('|---|---|---|---|')
    for name, key, at in [c for c in QUIET_CASES if args.only in c[0]]:
        rows = [r for r in (run_quiet(args.driver, wav, workdir, key, at) for _ in range(args.repeat)) if r]
        cells = []
        for c in ('key_to_quiet_ms', 'past_heard_ms', 'resume_vs_cut_ms'):
            vals = [r[c] for r in rows if r[c] is not None]
            cells.append('-' if not vals else '%s..%s' % (fmt(min(vals)), fmt(max(vals))))
        print('| %s | %s |' % (name, ' | '.join(cells)))
        sys.stdout.flush()
    print()
    print('| case | how | first jump: at - new stop (ms) | key to it heard (ms) | its silence (ms) '
          '| it lands at - start (ms) | first return to start: cut - new stop (ms) | key to it heard (ms) |')
    print('|---|---|---|---|---|---|---|---|')
    for name, key, at in [c for c in CASES if args.only in c[0]]:
        for how in ('key', 'restart'):
            rows = [r for r in (run(args.driver, wav, workdir, name, key, at, how) for _ in range(args.repeat)) if r]
            if not rows:
                print('| %s | %s | no jump found | | | | | |' % (name, how))
                continue
            cols = ['jump_vs_new_ms', 'key_to_jump_ms', 'silence_ms', 'landing_ms', 'back_cut_vs_new_ms',
                    'key_to_back_ms']
            cells = []
            for c in cols:
                vals = [r[c] for r in rows if r[c] is not None]
                cells.append('-' if not vals else '%s..%s' % (fmt(min(vals)), fmt(max(vals)))
                             if len(set(round(v, 1) for v in vals)) > 1 else fmt(vals[0]))
            print('| %s | %s | %s |' % (name, how, ' | '.join(cells)))
            sys.stdout.flush()
    for f in os.listdir(workdir):
        os.remove(os.path.join(workdir, f))
    os.rmdir(workdir)


if __name__ == '__main__':
    main()
