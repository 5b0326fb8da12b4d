"""Test signals whose samples say where they come from, and the reading of a recording
of them: where playback jumped, how much silence lay between, and when sound began.

Index signal (rate 1): stereo 16-bit; left = (i & 0x3FFF) + 1, right = (tag << 10 |
i >> 14) + 1 for sample index i of file `tag`. No sample of it is (0, 0), so digital
silence is told from sound exactly, and each sample names its file and index.

Chirp signal (other rates): a sine whose frequency rises linearly with the file position,
so a time-stretched recording still tells the position by its local frequency.
"""
import array
import math
import os
import sys
import statistics
import struct
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import silence  # noqa: E402  (one reader of recordings for every bench)

RATE = 44100
LOW_BITS = 14
LOW_MASK = (1 << LOW_BITS) - 1
TAG_SHIFT = 10

CHIRP_F0 = 200.0   # Hz at position 0
CHIRP_K = 250.0    # Hz per second of file


# ---- writing ----

def index_frame(tag, i):
    return (i & LOW_MASK) + 1, ((tag << TAG_SHIFT) | (i >> LOW_BITS)) + 1


def index_samples(tag, seconds, rate=RATE):
    out = array.array('h')
    for i in range(int(round(seconds * rate))):
        left, right = index_frame(tag, i)
        out.append(left)
        out.append(right)
    return out


def chirp_samples(seconds, rate=RATE, amplitude=16000):
    out = array.array('h')
    for i in range(int(round(seconds * rate))):
        t = i / rate
        v = int(round(amplitude * math.sin(2 * math.pi * (CHIRP_F0 * t + CHIRP_K * t * t / 2))))
        out.append(v)
        out.append(v)
    return out


def tone_samples(seconds, hz=440.0, rate=RATE, amplitude=16000):
    out = array.array('h')
    for i in range(int(round(seconds * rate))):
        v = int(round(amplitude * math.sin(2 * math.pi * hz * i / rate)))
        out.append(v)
        out.append(v)
    return out


def click_figure(pcm, begin, hz=440.0, rate=RATE, amplitude=16000):
    """The largest step between two recorded samples against 1.5 times the tone's own
    largest step: above 1 is a click."""
    own = 2 * math.pi * hz / rate * amplitude
    left = pcm[2 * begin::2]
    step = max((abs(left[i + 1] - left[i]) for i in range(len(left) - 1)), default=0)
    return step / (1.5 * own)


def deepest_dip_db(pcm, begin, rate=RATE, window_ms=10.0):
    """The quietest 10 ms window against the median one, in dB, where there is sound."""
    n = int(rate * window_ms / 1000)
    left = pcm[2 * begin::2]
    levels = []
    for i in range(0, len(left) - n, n):
        w = left[i:i + n]
        levels.append(math.sqrt(sum(v * v for v in w) / n))
    # Trailing silence after the player stopped is not a dip.
    while levels and levels[-1] < 1:
        levels.pop()
    while levels and levels[0] < 1:
        levels.pop(0)
    if not levels:
        return None
    med = sorted(levels)[len(levels) // 2]
    return 20 * math.log10(max(min(levels), 1e-9) / med)


def write_wav(path, samples, rate=RATE, channels=2):
    with wave.open(path, 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())


# ---- reading the index signal ----

SILENT = -1
GARBLED = -2


def decode_frame(left, right):
    """(tag, index), or SILENT for digital silence, or GARBLED for anything else."""
    if left == 0 and right == 0:
        return SILENT
    if 1 <= left <= LOW_MASK + 1 and right >= 1:
        hi = right - 1
        return hi >> TAG_SHIFT, ((hi & ((1 << TAG_SHIFT) - 1)) << LOW_BITS) | (left - 1)
    return GARBLED


class Run:
    """Consecutive recorded frames that play consecutive samples of one file."""
    __slots__ = ('tag', 'first', 'last', 'rec_first', 'rec_last')

    def __init__(self, tag, index, rec):
        self.tag, self.first, self.last, self.rec_first, self.rec_last = tag, index, index, rec, rec

    def __repr__(self):
        return 'Run(tag=%d, %d..%d at %d..%d)' % (self.tag, self.first, self.last, self.rec_first, self.rec_last)


def runs_of(pcm, start_frame=0):
    """Splits interleaved stereo samples into runs; frames between runs are silence or
    garbled."""
    runs = []
    cur = None
    n = len(pcm) // 2
    for f in range(start_frame, n):
        d = decode_frame(pcm[2 * f], pcm[2 * f + 1])
        if not isinstance(d, tuple):
            cur = None
            continue
        tag, idx = d
        if cur is not None and tag == cur.tag and idx == cur.last + 1 and f == cur.rec_last + 1:
            cur.last = idx
            cur.rec_last = f
        else:
            cur = Run(tag, idx, f)
            runs.append(cur)
    return runs


def count_between(pcm, a, b):
    """(silent, garbled) frames strictly between recorded frames a and b."""
    silent = garbled = 0
    for f in range(a + 1, b):
        d = decode_frame(pcm[2 * f], pcm[2 * f + 1])
        if d == SILENT:
            silent += 1
        elif d == GARBLED:
            garbled += 1
    return silent, garbled


# ---- the recording's clock ----

class Clock:
    """Maps recorded frames to the monotonic clock. The recorder notes when each chunk
    arrived; the sink renders at a steady pace, so a line at that pace through the
    arrivals maps frames to times. The pace is the sink's own, read off the arrivals: a
    null sink runs some 400 ppm off the monotonic clock, and a line at the nominal rate
    drifts from the sound by 0.4 ms a second."""

    def __init__(self, chunks, rate=RATE):
        # chunks: (frames recorded so far, monotonic seconds when they had arrived)
        self.rate = rate
        half = len(chunks) // 2
        if half >= 10:
            # Median of slopes between arrivals half a recording apart: late reads move
            # a few of them only.
            slopes = sorted((chunks[i + half][0] - chunks[i][0]) / (chunks[i + half][1] - chunks[i][1])
                            for i in range(half) if chunks[i + half][1] > chunks[i][1])
            if slopes:
                self.rate = slopes[len(slopes) // 2]
        offsets = sorted(t - frames / self.rate for frames, t in chunks)
        # The median arrival, not the earliest: a first sound is not read as sooner than
        # it typically reaches the recorder (the spread is a few ms).
        self.t0 = offsets[len(offsets) // 2] if offsets else 0.0

    def time_of(self, frame):
        return self.t0 + frame / self.rate

    def frame_at(self, t):
        """The frame heard at t; None before the recording began."""
        f = int(math.floor((t - self.t0) * self.rate))
        return f if f >= 0 else None


# ---- seams of the index signal ----

class Entry:
    def __init__(self, tag, start, stop):
        self.tag, self.start, self.stop = tag, start, stop


def _nearest(entries, tag, value, attr):
    best = None
    for i, e in enumerate(entries):
        if e.tag != tag:
            continue
        d = abs(getattr(e, attr) * RATE - value)
        if best is None or d < best[0]:
            best = (d, i)
    return None if best is None else best[1]


def index_seams(pcm, runs, entries, commands, clock, rate=RATE, min_run=64):
    """Every jump between runs that no command caused, measured against the entries it
    leaves and enters. Tiny runs (stray fragments) are merged into the gap."""
    runs = [r for r in runs if r.rec_last - r.rec_first + 1 >= min_run]
    seams = []
    for a, b in zip(runs, runs[1:]):
        t_end, t_begin = clock.time_of(a.rec_last), clock.time_of(b.rec_first)
        if any(t_end - 0.5 <= c <= t_begin for c in commands):
            continue
        left = _nearest(entries, a.tag, a.last + 1, 'stop')
        into = _nearest(entries, b.tag, b.first, 'start')
        if left is None or into is None:
            continue
        silent, garbled = count_between(pcm, a.rec_last, b.rec_first)
        gap = b.rec_first - a.rec_last - 1
        stop_s = round(entries[left].stop * rate)
        start_s = round(entries[into].start * rate)
        if left == into:
            kind = 'pass'
        elif entries[left].tag == entries[into].tag:
            kind = 'next-same'
        else:
            kind = 'next-other'
        seams.append({
            'kind': kind,
            'at': t_end,
            'overrun_ms': (a.last + 1 - stop_s) * 1000.0 / rate,
            'silence_ms': gap * 1000.0 / rate,
            'garbled_ms': garbled * 1000.0 / rate,
            'landing_ms': (b.first - start_s) * 1000.0 / rate,
            'lost_ms': max(0, b.first - start_s) * 1000.0 / rate,
        })
    return seams


def position_errors(pcm, clock, samples, tag, rate=RATE, jump=0.4):
    """Milliseconds by which each reported position ((monotonic seconds, position) pairs)
    lies ahead of the sample of file `tag` heard at that moment. Moments of silence, of
    another file, or around a jump (a difference over `jump` seconds: the report and the
    sound on either side of a loop's seam) are left out."""
    n = len(pcm) // 2
    out = []
    for t, reported in samples:
        f = clock.frame_at(t)
        if f is None or f >= n:
            continue
        d = decode_frame(pcm[2 * f], pcm[2 * f + 1])
        if not isinstance(d, tuple) or d[0] != tag:
            continue
        err = reported - d[1] / rate
        if abs(err) <= jump:
            out.append(err * 1000.0)
    return out


def first_sound(pcm, clock, t_command, starts, rate=RATE, near=0.1):
    """Milliseconds from a command to the first sample after it that lies within `near`
    seconds of one of `starts` ((tag, seconds) pairs), or None. Sound left over from
    before the command (a paused output resuming before its seek) does not count."""
    found = _first_at_start(pcm, clock, t_command, starts, rate, near)
    return None if found is None else (clock.time_of(found[0]) - t_command) * 1000.0


def first_sound_lost(pcm, clock, t_command, starts, rate=RATE, near=0.1):
    """Milliseconds of the start never heard: the first sample's place after the start."""
    found = _first_at_start(pcm, clock, t_command, starts, rate, near)
    return None if found is None else found[1] * 1000.0 / rate


def _first_at_start(pcm, clock, t_command, starts, rate, near):
    n = len(pcm) // 2
    f = clock.frame_at(t_command)
    if f is None:
        return None
    targets = [(tag, round(s * rate)) for tag, s in starts]
    while f < n:
        d = decode_frame(pcm[2 * f], pcm[2 * f + 1])
        if isinstance(d, tuple):
            for tag, s in targets:
                if d[0] == tag and abs(d[1] - s) <= near * rate:
                    return f, d[1] - s
        f += 1
    return None


# ---- the chirp ----

def chirp_positions(pcm, rate=RATE, window_ms=5.0, channel=0):
    """(recorded frame, file position in seconds) every window: the position read off the
    median frequency of the half periods that end in the window; None where it is silent."""
    n = len(pcm) // 2
    x = pcm[channel::2]
    crossings = []
    prev = x[0] if n else 0
    for i in range(1, n):
        cur = x[i]
        if (prev < 0) != (cur < 0):
            crossings.append(i - 1 + prev / (prev - cur))
        prev = cur
    step = int(rate * window_ms / 1000)
    out = []
    j = 0
    for w in range(0, n, step):
        freqs = []
        while j + 1 < len(crossings) and crossings[j + 1] < w + step:
            if crossings[j] >= w:
                half = crossings[j + 1] - crossings[j]
                if half > 0:
                    freqs.append(rate / (2 * half))
            j += 1
        out.append((w, (statistics.median(freqs) - CHIRP_F0) / CHIRP_K if len(freqs) >= 3 else None))
    return out


def silent_stretches(pcm, rate=RATE, threshold=2, min_ms=0.5, channel=0):
    """(first frame, length in frames) of runs of near-zero samples at least min_ms long."""
    x = pcm[channel::2]
    out = []
    start = None
    min_len = int(rate * min_ms / 1000)
    for i, v in enumerate(x):
        if -threshold <= v <= threshold:
            if start is None:
                start = i
        elif start is not None:
            if i - start >= min_len:
                out.append((start, i - start))
            start = None
    if start is not None and len(x) - start >= min_len:
        out.append((start, len(x) - start))
    return out


def steady_readings(readings):
    """A reading that stands out from two neighbours which agree with each other more
    than with it takes their median. A stretcher's phase reset can shorten a few half
    periods in one window, which then reads a third of a second ahead with the windows on
    either side on course: one window is no position. A step (a seam) is left alone."""
    out = list(readings)
    for k in range(1, len(readings) - 1):
        (_, a), (f, p), (_, b) = readings[k - 1:k + 2]
        mid = statistics.median((a, p, b))
        if abs(a - b) < abs(p - mid):
            out[k] = (f, mid)
    return out


def chirp_seams(pcm, start, stop, commands, clock, rate=RATE, window_ms=5.0, glide_ms=60.0):
    """Backward jumps of the chirp's position that no command caused, read off the
    recording (see reading_seams); silence in between is exact (runs of near-zero
    samples)."""
    pos = steady_readings([(f, p) for f, p in chirp_positions(pcm, rate, window_ms) if p is not None])
    return reading_seams(pos, silent_stretches(pcm, rate), start, stop, commands, clock, rate, window_ms, glide_ms)


def reading_seams(pos, quiet, start, stop, commands, clock, rate=RATE, window_ms=5.0, glide_ms=60.0):
    """Backward jumps of the readings ((frame, position) pairs) that no command caused:
    how far past the stop the last window before reached, where the first window after
    landed, and the silence in between (`quiet`: (frame, length) runs). A stretcher that
    does not reset its phases at the seam sounds both pitches for a window's length, and
    the reading glides down over it, not always steadily: the jump is taken from the
    highest reading of the last `glide_ms` to the lowest of the `glide_ms` after the
    drop, and the landing is carried back from there to the seam at the playback rate."""
    glide = rate * glide_ms / 1000.0
    seams = []
    i, after = 1, 0  # readings before `after` belong to a seam already taken
    while i < len(pos):
        frame, p = pos[i]
        recent = [q for q in pos[max(after, i - 64):i] if q[0] >= frame - glide]
        if not recent:
            i += 1
            continue
        last = max(recent, key=lambda q: q[1])
        if p >= last[1] - 0.3 * (stop - start):
            i += 1
            continue
        # Where the reading settles: the lowest within the glide after the drop.
        j = i
        for k in range(i + 1, len(pos)):
            if pos[k][0] > frame + glide:
                break
            if pos[k][1] < pos[j][1]:
                j = k
        settled = pos[j]
        t_end, t_begin = clock.time_of(last[0]), clock.time_of(settled[0])
        if not any(t_end - 0.5 <= c <= t_begin for c in commands):
            gap = sum(length for q, length in quiet if last[0] - rate * 0.02 <= q <= settled[0] + rate * 0.02)
            guess = _rate_guess(pos, last)
            landing = settled[1] - ((settled[0] - last[0] - gap) / rate - window_ms / 2000.0) * guess
            # A jump that neither leaves from near the stop nor lands near the start
            # is no loop seam; it is listed apart rather than mixed into the passes.
            near = abs(last[1] - stop) < 0.1 and abs(landing - start) < 0.1
            seams.append({
                'kind': 'pass' if near else 'other',
                'at': t_end,
                'overrun_ms': (last[1] + window_ms / 2000.0 * guess - stop) * 1000.0,
                'silence_ms': gap * 1000.0 / rate,
                'garbled_ms': 0.0,
                'landing_ms': (landing - start) * 1000.0,
                'lost_ms': max(0.0, landing - start) * 1000.0,
            })
        i = after = j + 1
    return seams


def _rate_guess(pos, last):
    """Playback rate near a window, from the readings just before it."""
    pts = [(f, p) for f, p in pos if p is not None and last[0] - RATE * 0.2 <= f <= last[0]]
    if len(pts) < 2 or pts[-1][0] == pts[0][0]:
        return 1.0
    return max(0.0, (pts[-1][1] - pts[0][1]) / ((pts[-1][0] - pts[0][0]) / RATE))


def chirp_first_sound(pcm, clock, t_command, start, rate=RATE, threshold=64, near=0.1, within=2.0):
    """Milliseconds from a command to the first sound of the chirp near `start` seconds
    (other sound, such as a click of the file played before, does not count), or None."""
    f0 = clock.frame_at(t_command)
    if f0 is None:
        return None
    part = pcm[2 * f0:2 * (f0 + int(within * rate))]
    for frame, p in chirp_positions(part, rate):
        if p is not None and -0.02 <= p - start <= near:
            # The window's first sample above the quiet, read back a window at most.
            f = max(0, frame - int(rate * 0.005))
            while f < frame + int(rate * 0.005) and abs(part[2 * f]) <= threshold:
                f += 1
            return (clock.time_of(f0 + f) - t_command) * 1000.0
    return None


def read_pcm(path):
    return silence.read(path)


def read_chunks(path):
    out = []
    with open(path) as fh:
        for line in fh:
            frames, t = line.split()
            out.append((int(frames), float(t)))
    return out
