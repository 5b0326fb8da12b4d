#!/usr/bin/env python3
"""F-measure of found beats against true ones within +-70 ms, each true beat matched at most
once; beats in the first 5 s are left out of both (trackers need a few bars to settle).

    score.py TRUTH FOUND [--downbeats]   # prints precision, recall, F
    score.py TRUTH FOUND --timing        # median signed and mean distance (ms) of the beats
                                         # within the tolerance, and the share within 5 ms
Files hold one beat a line: seconds, optionally a second column of 1 for a downbeat."""
import sys

TOLERANCE = 0.070
SKIP = 5.0


def read(path, downbeats):
    out = []
    for line in open(path):
        cols = line.split()
        if not cols:
            continue
        if downbeats and (len(cols) < 2 or cols[1] != "1"):
            continue
        t = float(cols[0])
        if t >= SKIP:
            out.append(t)
    return out


def f_measure(truth, found):
    """Greedy in time order, which is exact while beats lie more than twice the tolerance apart."""
    if not truth or not found:
        return 0.0, 0.0, 0.0
    used, hits, j = [False] * len(truth), 0, 0
    for t in found:
        while j < len(truth) and truth[j] < t - TOLERANCE:
            j += 1
        for k in range(j, len(truth)):
            if truth[k] > t + TOLERANCE:
                break
            if not used[k]:
                used[k] = True
                hits += 1
                break
    p, r = hits / len(found), hits / len(truth)
    return p, r, (2 * p * r / (p + r) if hits else 0.0)


def timing(truth, found):
    """Each found beat against the nearest true one, where that lies within the tolerance."""
    errors = []
    for t in found:
        nearest = min(truth, key=lambda x: abs(x - t))
        if abs(nearest - t) <= TOLERANCE:
            errors.append(1000 * (t - nearest))
    if not errors:
        return 0.0, 0.0, 0.0
    errors.sort()
    return (errors[len(errors) // 2], sum(abs(e) for e in errors) / len(errors),
            sum(abs(e) <= 5 for e in errors) / len(errors))


if __name__ == "__main__":
    if "--timing" in sys.argv:
        median, mean, within = timing(read(sys.argv[1], False), read(sys.argv[2], False))
        print(f"{median:.1f} {mean:.1f} {within:.2f}")
        sys.exit(0)
    down = "--downbeats" in sys.argv
    p, r, f = f_measure(read(sys.argv[1], down), read(sys.argv[2], down))
    print(f"{p:.3f} {r:.3f} {f:.3f}")
