#!/usr/bin/env python3
"""Plays each case through Vamplet (seam_driver) and through the mpv command with its own
A-B loop, records the PulseAudio sink's monitor, and prints the seams side by side.
Run through run.sh, which starts the sound server and builds the driver."""
import argparse
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

import compare_offline
import seamlib as sl

SINK = os.environ.get('SEAM_SINK', 'vamplet_seam')
CLK_TCK = os.sysconf('SC_CLK_TCK')


# ---- media ----

def make_media(d):
    files = {
        'song': os.path.join(d, 'song.wav'),
        'other': os.path.join(d, 'other.wav'),
        'warm': os.path.join(d, 'warm.wav'),
        'chirp': os.path.join(d, 'chirp.wav'),
        'video': os.path.join(d, 'video.mkv'),
    }
    sl.write_wav(files['song'], sl.index_samples(0, 12))
    sl.write_wav(files['other'], sl.index_samples(1, 12))
    sl.write_wav(files['warm'], sl.index_samples(2, 3))
    sl.write_wav(files['chirp'], sl.chirp_samples(12))
    files['tone'] = os.path.join(d, 'tone.wav')
    sl.write_wav(files['tone'], sl.tone_samples(12))
    track = os.path.join(d, 'video-sound.wav')
    sl.write_wav(track, sl.index_samples(3, 12))
    # Key frames every 2 s exactly (50 frames at 25 fps), none in between.
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc2=size=1280x720:rate=25',
                    '-i', track, '-t', '12', '-c:v', 'libx264', '-preset', 'veryfast', '-g', '50',
                    '-keyint_min', '50', '-sc_threshold', '0', '-pix_fmt', 'yuv420p', '-c:a', 'pcm_s16le',
                    files['video']], check=True)
    return files


# Three hours of 44.1 kHz stereo: digital silence, then the index signal for its last 12 s.
HOURS3_LEAD = 10788


def make_hours3(d):
    path = os.path.join(d, 'hours3.flac')
    marker = os.path.join(d, 'hours3-end.wav')
    sl.write_wav(marker, sl.index_samples(TAGS['hours3'], 12))
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-i', marker, '-af',
                    'adelay=delays=%dS:all=1' % (HOURS3_LEAD * sl.RATE), '-c:a', 'flac', path], check=True)
    return path


def file_seconds(case, seconds):
    """A row's place in the file the players get (rows name places in the index signal)."""
    return seconds + case.get('offset', 0)


# ---- recording ----

class Recorder:
    """parec on the sink's monitor; notes when each chunk arrived."""

    def __init__(self, path):
        self.path = path
        self.chunks = []
        self.proc = subprocess.Popen(
            ['parec', '-d', SINK + '.monitor', '--raw', '--format=s16le', '--rate=44100', '--channels=2',
             '--latency-msec=2'], stdout=subprocess.PIPE, bufsize=0)
        self.out = open(path, 'wb')
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        # parec may take a second to start: nothing is played before it records.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and (not self.chunks or self.chunks[-1][0] < 0.3 * sl.RATE):
            time.sleep(0.01)
        if not self.chunks:
            raise SystemExit('parec records nothing from ' + SINK + '.monitor')

    def _read(self):
        fd = self.proc.stdout.fileno()
        total = 0
        pending = b''
        while True:
            data = os.read(fd, 1 << 16)
            t = time.monotonic()
            if not data:
                break
            self.out.write(data)
            pending += data
            whole = len(pending) // 4
            total += whole
            pending = pending[whole * 4:]
            self.chunks.append((total, t))

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        self.thread.join()
        self.out.close()
        return sl.read_pcm(self.path), self.chunks


def freeze(pid, case):
    """Stops the whole player process for a while, every second of the case, as a machine
    that runs out of memory or CPU does: each thread of it starves at once."""
    ms = case.get('freeze')
    if not ms:
        return

    def run():
        time.sleep(2.0)
        end = time.monotonic() + case['seconds'] - 1.0
        while time.monotonic() < end:
            try:
                os.kill(pid, 19)  # SIGSTOP
                time.sleep(ms / 1000.0)
                os.kill(pid, 18)  # SIGCONT
            except ProcessLookupError:
                return
            time.sleep(1.0)
    threading.Thread(target=run, daemon=True).start()


def cpu_ticks(pid):
    with open('/proc/%d/stat' % pid) as fh:
        fields = fh.read().rsplit(')', 1)[1].split()
    return int(fields[11]) + int(fields[12])


# ---- the two players ----

def run_vamplet(driver, case, files, workdir, engine='program'):
    args = [driver, '--warm', files['warm'], '--seconds', str(case['seconds']), '--engine', engine]
    # Without a blend of its own a case plays with the program's.
    if 'crossfade' in case:
        args += ['--crossfade', str(case['crossfade'])]
    for name, start, stop, rate, loops in case['rows']:
        args += ['--row', ','.join([files[name], str(file_seconds(case, start)), str(file_seconds(case, stop)),
                                    str(rate), str(loops)])]
    if case['loop']:
        args.append('--loop')
    if case.get('replay'):
        args += ['--replay', str(case['replay'])]
    if case.get('stall'):
        args += ['--stall', str(case['stall'])]
    rec = Recorder(os.path.join(workdir, case['name'] + '-vamplet-' + engine + '.raw'))
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    proc = subprocess.Popen(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    freeze(proc.pid, case)
    stdout, stderr = proc.communicate(timeout=case['seconds'] + 120)
    out = subprocess.CompletedProcess(args, proc.returncode, stdout, stderr)
    time.sleep(0.2)
    pcm, chunks = rec.stop()
    if out.returncode != 0:
        sys.stderr.write(out.stderr)
        raise SystemExit('seam_driver failed for ' + case['name'])
    events, cpu = {}, None
    events['positions'] = []
    for line in out.stdout.splitlines():
        parts = line.split()
        if parts[0] == 'EVENT':
            events[parts[1]] = int(parts[2]) / 1e9
        elif parts[0] == 'POS':
            events['positions'].append((int(parts[1]) / 1e9, float(parts[2]) - case.get('offset', 0)))
        elif parts[0] == 'CPU':
            cpu = 100.0 * float(parts[1]) / float(parts[2])
        elif parts[0] == 'RSS':
            events['rss_mb'] = int(parts[1]) / 1024.0
    return pcm, chunks, events, cpu


class MpvIpc:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        for _ in range(200):
            try:
                self.sock.connect(path)
                break
            except OSError:
                time.sleep(0.02)
        else:
            raise SystemExit('mpv did not open its IPC socket')
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        try:
            while self.sock.recv(65536):
                pass
        except OSError:
            pass

    def send(self, *commands):
        """Sends the commands at once; returns the monotonic time just before."""
        data = b''.join(json.dumps({'command': list(c)}).encode() + b'\n' for c in commands)
        t = time.monotonic()
        self.sock.sendall(data)
        return t


def run_mpv(case, files, workdir, extra=()):
    sock = os.path.join(workdir, 'mpv.sock')
    if os.path.exists(sock):
        os.unlink(sock)
    proc = subprocess.Popen(['mpv', '--no-config', '--idle=yes', '--keep-open=yes', '--hr-seek=yes',
                             '--audio-pitch-correction=yes', '--vo=null', '--ao=pulse', '--really-quiet',
                             '--no-terminal', '--input-ipc-server=' + sock, *extra],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ipc = MpvIpc(sock)
    freeze(proc.pid, case)
    rec = Recorder(os.path.join(workdir, case['name'] + '-mpv.raw'))
    events = {}
    ipc.send(['loadfile', files['warm'], 'replace', 'start=0.5'], ['set', 'pause', 'no'])
    time.sleep(0.5)
    ipc.send(['set', 'pause', 'yes'])
    time.sleep(0.4)
    rows = case['rows']
    first = rows[0]
    speed = ['set', 'speed', str(first[3])]
    ticks0 = cpu_ticks(proc.pid)
    if case['loop']:
        _, start, stop, rate, _ = first
        start, stop = file_seconds(case, start), file_seconds(case, stop)
        events['play_new'] = ipc.send(['set', 'ab-loop-a', str(start)], ['set', 'ab-loop-b', str(stop)],
                                      ['set', 'ab-loop-count', 'inf'], speed,
                                      ['loadfile', files[first[0]], 'replace', 'start=%s' % start],
                                      ['set', 'pause', 'no'])
    else:
        # mpv's own way through a list: A-B passes, then its playlist, gapless.
        def entry(row, mode):
            name, start, stop, rate, loops = row
            start, stop = file_seconds(case, start), file_seconds(case, stop)
            opts = 'start=%s,end=%s' % (start, stop)
            if loops > 1:
                opts += ',ab-loop-a=%s,ab-loop-b=%s,ab-loop-count=%d' % (start, stop, loops - 1)
            return ['loadfile', files[name], mode, opts]
        cmds = [entry(rows[0], 'replace')] + [entry(r, 'append') for r in rows[1:]] + [entry(rows[0], 'append')]
        events['play_new'] = ipc.send(speed, *cmds, ['set', 'pause', 'no'])
    time.sleep(case['seconds'])
    if case.get('replay'):
        events['stop'] = ipc.send(['set', 'pause', 'yes'])
        time.sleep(0.4)
        events['play_loaded'] = ipc.send(['seek', str(file_seconds(case, first[1])), 'absolute+exact'],
                                         ['set', 'pause', 'no'])
        time.sleep(case['replay'])
    wall = time.monotonic() - events['play_new']
    cpu = 100.0 * (cpu_ticks(proc.pid) - ticks0) / CLK_TCK / wall
    with open('/proc/%d/status' % proc.pid) as fh:
        events['rss_mb'] = next(int(l.split()[1]) for l in fh if l.startswith('VmHWM')) / 1024.0
    ipc.send(['quit'])
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
    time.sleep(0.2)
    pcm, chunks = rec.stop()
    return pcm, chunks, events, cpu


# ---- the cases ----

TAGS = {'song': 0, 'other': 1, 'warm': 2, 'video': 3, 'hours3': 4}

# The index signal is read sample by sample, so its cases cut hard (crossfade 0): they show
# where each pass lands. So does the chirp: a stretched seam blends over 30 ms, where two
# pitches sound at once and the reading glides from the stop to the start. The tone cases
# play as the program does, blended, for the click and the dip.
CASES = [
    {'name': 'endless 1.0', 'rows': [('song', 2, 3, 1, 1)], 'loop': True, 'seconds': 5.5, 'replay': 2.5,
     'crossfade': 0},
    {'name': 'tone 1.0', 'rows': [('tone', 2, 2.9173, 1, 1)], 'loop': True, 'seconds': 4.0, 'tone': True},
    {'name': 'tone 0.75', 'rows': [('tone', 2, 2.9173, 0.75, 1)], 'loop': True, 'seconds': 4.0, 'tone': True},
    {'name': 'tone 0.5', 'rows': [('tone', 2, 2.9173, 0.5, 1)], 'loop': True, 'seconds': 5.0, 'tone': True},
    {'name': 'tone 1.0, UI stalls 200 ms a second', 'rows': [('tone', 2, 2.9173, 1, 1)], 'loop': True,
     'seconds': 12.0, 'tone': True, 'stall': 200},
    # Run only when asked for by name (--only stress): a minute per player.
    {'name': 'stress: two busy loops, UI stalls 200 ms a second, 60 s', 'rows': [('tone', 2, 2.9173, 1, 1)],
     'loop': True, 'seconds': 60.0, 'tone': True, 'stall': 200, 'busy': 2, 'asked': True},
    {'name': 'stress at 0.75: two busy loops, UI stalls 200 ms a second, 60 s', 'rows': [('tone', 2, 2.9173, 0.75, 1)],
     'loop': True, 'seconds': 60.0, 'tone': True, 'stall': 200, 'busy': 2, 'asked': True},
    {'name': 'endless 0.75', 'rows': [('chirp', 2, 3, 0.75, 1)], 'loop': True, 'seconds': 5.5, 'replay': 2.5,
     'chirp': True, 'crossfade': 0},
    {'name': 'endless 0.5', 'rows': [('chirp', 2, 3, 0.5, 1)], 'loop': True, 'seconds': 7.0, 'replay': 2.5,
     'chirp': True, 'crossfade': 0},
    {'name': 'counted, next same file', 'rows': [('song', 2, 3, 1, 3), ('song', 6, 7, 1, 1)], 'loop': False,
     'seconds': 5.7, 'crossfade': 0},
    {'name': 'counted, next other file', 'rows': [('song', 2, 3, 1, 3), ('other', 6, 7, 1, 1)], 'loop': False,
     'seconds': 5.7, 'crossfade': 0},
    # Asked for by name (--only frozen): the whole process stopped 150 ms every second.
    {'name': 'endless 1.0, process frozen 150 ms a second', 'rows': [('song', 2, 3, 1, 1)], 'loop': True,
     'seconds': 8.0, 'crossfade': 0, 'freeze': 150, 'asked': True},
    # Asked for by name (--only 3-hour): the file takes a while to make.
    {'name': '3-hour FLAC, 4 s before its end', 'rows': [('hours3', 8, 9, 1, 1)], 'loop': True, 'seconds': 5.5,
     'replay': 2.5, 'crossfade': 0, 'offset': HOURS3_LEAD, 'asked': True},
    {'name': 'video, key frames 2 s', 'rows': [('video', 5, 6, 1, 1)], 'loop': True, 'seconds': 5.5,
     'replay': 2.5},
    # The same video from a key frame: nothing to decode before the start.
    {'name': 'video, from a key frame', 'rows': [('video', 4, 5, 1, 1)], 'loop': True, 'seconds': 3.5,
     'replay': 2.0},
]


class BusyLoops:
    """Processes that spin at the players' own priority for as long as a case plays."""

    def __init__(self, count):
        self.procs = [subprocess.Popen(['sh', '-c', 'while :; do :; done']) for _ in range(count)]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            p.kill()
            p.wait()


def against_render(case, pcm, clock, events, first, render, workdir):
    """Each play of a chirp case against chirp_offline's render of the same loop: the
    largest difference past each play's first 20 ms, the seams that span covers, and how
    many plays were exact from their first frame."""
    _, start, stop, rate, _ = case['rows'][0]
    path = os.path.join(workdir, 'render-%g.raw' % rate)
    if not os.path.exists(path):
        with open(path, 'wb') as fh:
            subprocess.run([render, str(rate), str(case['seconds'] + 1), str(start), str(stop)], stdout=fh, check=True)
    off = sl.read_pcm(path)[0::2]
    left = pcm[0::2]
    worst, seams, exact, n = 0, 0, 0, 0
    plays = []
    for key, seconds, until in (('play_new', case['seconds'], 'stop'), ('play_loaded', case.get('replay', 0), None)):
        if key not in events or first.get(key) is None:
            continue
        guess = clock.frame_at(events[key] + first[key] / 1000.0)
        end = clock.frame_at(events[until] if until else events[key] + seconds) or len(left)
        r = compare_offline.compare_play(off, left, guess, end - guess)
        plays.append({'play': key, **r})
        n += 1
        worst = max(worst, r['worst'] if r['worst'] is not None else 1 << 16)
        seams += int((r['seconds'] + 0.02) * rate / (stop - start))
        exact += r['start'] == 'exact'
    text = '%d (%d seams; %d of %d starts exact)' % (worst, seams, exact, n) if n else None
    return text, plays


def analyse(case, pcm, chunks, events, cpu, render=None, workdir=None):
    clock = sl.Clock(chunks)
    spread = sorted((t - frames / sl.RATE - clock.t0) * 1000 for frames, t in chunks)
    positions = events.pop('positions', None)
    commands = [events[k] for k in ('stop', 'play_loaded') if k in events]
    result = {'cpu': cpu, 'events': events, 'rss_mb': events.pop('rss_mb', None),
              'clock_spread_ms': [spread[len(spread) // 2], spread[int(len(spread) * 0.95)]]}
    begin = clock.frame_at(events['play_new'])
    if begin is None:
        raise SystemExit('the recording began after the play command in ' + case['name'])
    if case.get('tone'):
        # From the first sound to just before the player is told to end: any silence in
        # between is a dropout or a hole at a seam.
        end = clock.frame_at(events['play_new'] + case['seconds'] - 0.1) or len(pcm) // 2
        first = begin
        while first < end and abs(pcm[2 * first]) <= 2:
            first += 1
        heard = pcm[2 * (first + int(0.05 * sl.RATE)):2 * end]
        result['click'] = sl.click_figure(heard, 0)
        result['dip_db'] = sl.deepest_dip_db(heard, 0)
        gaps = sl.silent_stretches(heard)
        result['seams'] = []
        result['longest_silence_ms'] = max((g[1] * 1000.0 / sl.RATE for g in gaps), default=0.0)
        return result
    if case.get('chirp'):
        _, start, stop, _, _ = case['rows'][0]
        seams = sl.chirp_seams(pcm[2 * begin:], start, stop, commands,
                               _Shifted(clock, begin))
        result['first_new'] = sl.chirp_first_sound(pcm, clock, events['play_new'], start)
        if 'play_loaded' in events:
            result['first_loaded'] = sl.chirp_first_sound(pcm, clock, events['play_loaded'], start)
        if render:
            first = {'play_new': result['first_new'], 'play_loaded': result.get('first_loaded')}
            result['render'], result['render_plays'] = against_render(case, pcm, clock, events, first, render, workdir)
    else:
        starts = [(TAGS[case['rows'][0][0]], case['rows'][0][1])]
        entries = [sl.Entry(TAGS[r[0]], r[1], r[2]) for r in case['rows']]
        runs = sl.runs_of(pcm, begin)
        seams = sl.index_seams(pcm, runs, entries, commands, clock)
        result['first_new'] = sl.first_sound(pcm, clock, events['play_new'], starts)
        lost = [sl.first_sound_lost(pcm, clock, events['play_new'], starts)]
        if 'play_loaded' in events:
            result['first_loaded'] = sl.first_sound(pcm, clock, events['play_loaded'], starts)
            lost.append(sl.first_sound_lost(pcm, clock, events['play_loaded'], starts))
        result['first_lost'] = max((v for v in lost if v is not None), default=None)
        if positions:
            errors = []
            for tag in sorted({TAGS[r[0]] for r in case['rows']}):
                errors += sl.position_errors(pcm, clock, positions, tag)
            result['position_ms'] = errors
    result['seams'] = seams
    return result


class _Shifted:
    """A clock for a recording cut at `begin`."""

    def __init__(self, clock, begin):
        self.clock, self.begin = clock, begin

    def time_of(self, frame):
        return self.clock.time_of(frame + self.begin)


def summarise(seams):
    kinds = {}
    for s in seams:
        kinds.setdefault(s['kind'], []).append(s)
    out = {}
    for kind, ss in kinds.items():
        def span(key):
            lo, hi = min(s[key] for s in ss), max(s[key] for s in ss)
            return '%.2f' % lo if abs(hi - lo) < 0.005 else '%.2f..%.2f' % (lo, hi)
        out[kind] = {
            'n': len(ss),
            'overrun': span('overrun_ms'),
            'silence': '%.2f' % max(s['silence_ms'] for s in ss),
            'landing': span('landing_ms'),
            'lost': '%.2f' % max(s['lost_ms'] for s in ss),
        }
    return out


def fmt(v):
    return '-' if v is None else '%.1f' % v


def fmt_errors(errors):
    """The median of reported minus heard, and the 95th percentile of its size."""
    if not errors:
        return '-'
    s = sorted(errors)
    a = sorted(abs(e) for e in errors)
    return '%.1f / %.1f' % (s[len(s) // 2], a[min(len(a) - 1, int(len(a) * 0.95))])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--driver', required=True)
    ap.add_argument('--render', help="chirp_offline, to set Vamplet's chirp recordings against")
    ap.add_argument('--only', help='run only the cases whose name contains this')
    ap.add_argument('--keep', help='keep recordings in this folder')
    ap.add_argument('--json', help='write the figures here too')
    ap.add_argument('--players', default='Vamplet,mpv',
                    help='comma-separated: Vamplet, Vamplet-mpv (the program on mpv alone), mpv')
    ap.add_argument('--mpv-opt', action='append', default=[], help='an extra option for the mpv command')
    args = ap.parse_args()

    workdir = args.keep or tempfile.mkdtemp(prefix='seam-')
    os.makedirs(workdir, exist_ok=True)
    files = make_media(workdir)
    if any(c.get('offset') and args.only and args.only in c['name'] for c in CASES):
        files['hours3'] = make_hours3(workdir)
    rows, raw = [], []
    for case in CASES:
        if (args.only and args.only not in case['name']) or (case.get('asked') and not args.only):
            continue
        for player in args.players.split(','):
            player = {'vamplet': 'Vamplet', 'vamplet-mpv': 'Vamplet-mpv', 'mpv': 'mpv'}.get(player.strip().lower())
            if player is None:
                raise SystemExit('--players takes Vamplet, Vamplet-mpv and mpv')
            with BusyLoops(case.get('busy', 0)):
                if player == 'Vamplet':
                    rec = run_vamplet(args.driver, case, files, workdir)
                elif player == 'Vamplet-mpv':
                    rec = run_vamplet(args.driver, case, files, workdir, 'mpv')
                else:
                    rec = run_mpv(case, files, workdir, args.mpv_opt)
            res = analyse(case, *rec, render=args.render if player == 'Vamplet' else None, workdir=workdir)
            raw.append({'case': case['name'], 'player': player, **res})
            summary = summarise(res['seams'])
            if 'click' in res:
                summary = {'tone': {'n': '-', 'overrun': '-', 'silence': fmt(res.get('longest_silence_ms')),
                                    'landing': '-', 'lost': '-'}}
            if not summary:
                summary = {'(none)': {'n': 0, 'overrun': '-', 'silence': '-', 'landing': '-', 'lost': '-'}}
            for kind, s in summary.items():
                rows.append((case['name'], kind, player, s['n'], s['overrun'], s['silence'], s['landing'], s['lost'],
                             fmt(res.get('first_new')), fmt(res.get('first_loaded')),
                             '-' if res.get('first_lost') is None else '%.2f' % res['first_lost'],
                             fmt_errors(res.get('position_ms')), fmt(res['cpu']), fmt(res.get('rss_mb')),
                             '-' if res.get('click') is None else '%.2f' % res['click'],
                             fmt(res.get('dip_db')), res.get('render') or '-'))
            sys.stderr.write('.')
            sys.stderr.flush()
    sys.stderr.write('\n')
    head = ('case', 'seam', 'player', 'n', 'overrun ms', 'silence ms', 'landing ms', 'lost ms',
            'first sound new file ms', 'first sound loaded ms', 'start lost ms', 'reported - heard ms', 'CPU %', 'peak resident MB',
            'click (1 = 1.5 x own step)', 'deepest dip dB', 'heard - render: largest (seams; starts)')
    print('| ' + ' | '.join(head) + ' |')
    print('|' + '---|' * len(head))
    for r in rows:
        print('| ' + ' | '.join(str(v) for v in r) + ' |')
    if args.json:
        with open(args.json, 'w') as fh:
            json.dump(raw, fh, indent=1)
    if not args.keep:
        for name in os.listdir(workdir):
            os.unlink(os.path.join(workdir, name))
        os.rmdir(workdir)


if __name__ == '__main__':
    main()
