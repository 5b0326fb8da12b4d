"""The largest step between samples over the whole of each recording the hear bench kept
(HEAR_KEEP), and where the left channel's level first moves: the change table's own search
starts 1 s after the first loud sample, past a change heard at once when the recorder
started late."""
import array
import glob
import sys

RATE = 44100
for f in sorted(glob.glob(sys.argv[1] + '/*.raw')):
    pcm = array.array('h', open(f, 'rb').read())
    left = pcm[0::2]
    loud = [i for i, x in enumerate(left) if abs(x) > 300]
    a, b = loud[0] + 200, loud[-1] - 200
    step, at = max((abs(left[i] - left[i - 1]) / 32768, i) for i in range(a, b))
    n = RATE // 100
    peaks = [max(abs(x) for x in left[k:k + n]) for k in range(a, b - n, n)]
    moves = [round((a + k * n) / RATE, 2) for k in range(1, len(peaks)) if abs(peaks[k] - peaks[k - 1]) > 300]
    print(f'| {f.split("/")[-1][:-4]} | {step:.4f} at {at / RATE:.3f} s | {a / RATE:.2f}-{b / RATE:.2f} s | {moves[:1]} |')
