"""Runs of digital silence in a recording of the sound server's output (raw s16le stereo, as
parec or a pipe sink writes it): the holes between the first sound and the last. One finder
for every benchmark, so a hole means the same frames everywhere.

    python3 bench/silence.py FILE [MIN_FRAMES]   # prints the holes, s after the first sound: ms
"""
import array
import sys

RATE = 44100


def read(path):
    """The recording's samples, interleaved stereo."""
    a = array.array('h')
    with open(path, 'rb') as f:
        a.frombytes(f.read())
    return a


def quiet_frames(samples):
    """For each stereo frame: whether both channels are exactly 0."""
    return [samples[i] == 0 and samples[i + 1] == 0 for i in range(0, len(samples) - 1, 2)]


def silent_runs(quiet, min_frames=1):
    """(first, last, runs): the first and last frame with sound, and each run of silent frames
    between them, as (frame, length), at least `min_frames` long. None without any sound."""
    sound = [i for i, q in enumerate(quiet) if not q]
    if not sound:
        return None
    first, last = sound[0], sound[-1]
    runs, i = [], first
    while i <= last:
        j = i
        while j <= last and quiet[j]:
            j += 1
        if j - i >= max(1, min_frames):
            runs.append((i, j - i))
        i = j + 1
    return first, last, runs


def holes(path, min_frames=3, rate=RATE):
    """The holes of a recording file as (seconds after its first sound, ms long), with the
    seconds of sound from the first to the last; None without any sound."""
    found = silent_runs(quiet_frames(read(path)), min_frames)
    if found is None:
        return None
    first, last, runs = found
    return (last - first) / rate, [((at - first) / rate, n * 1000.0 / rate) for at, n in runs]


if __name__ == '__main__':
    got = holes(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 3)
    if got is None:
        print('no sound')
    else:
        print('sound %.2f s; holes (s after the first sound: ms): %s'
              % (got[0], ', '.join('%.3f: %.2f' % h for h in got[1]) or 'none'))
