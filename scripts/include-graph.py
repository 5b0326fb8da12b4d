#!/usr/bin/env python3
"""Which source folders include which, read from the sources.

    scripts/include-graph.py          # the graph, one arrow a line, upward arrows marked
    scripts/include-graph.py --check  # exit 1 when any arrow points upward

Folders are layered from the bottom: an arrow may only point to a folder of a lower layer
or to its own. A sub-folder (engine/mpv) is a folder of its own.
"""
import re
import sys
from collections import Counter
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
# Bottom first; folders of one layer must not include each other.
LAYERS = [
    ["app"], ["services"], ["storage"],
    ["audio"], ["midi"], ["beats"], ["engine"], ["engine/sample", "engine/mpv", "engine/midi", "waveform"],
    ["playback"], ["offline", "desktop"], ["windows"],
]
LAYER = {folder: i for i, names in enumerate(LAYERS) for folder in names}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z/]+)/[^/"]+"', re.M)


def edges():
    found = Counter()
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in (".cpp", ".h") or path.parent == SRC:
            continue
        source = path.parent.relative_to(SRC).as_posix()
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            if target != source:
                found[(source, target)] += 1
    return found


def upward(source, target):
    s, t = LAYER.get(source), LAYER.get(target)
    if s is None or t is None:
        return True  # a folder outside the layers is not placed yet
    return t >= s


def main():
    found = edges()
    bad = 0
    for (source, target), count in sorted(found.items(), key=lambda e: (LAYER.get(e[0][0], 99), e[0])):
        up = upward(source, target)
        bad += up
        print(f"{source:>13} -> {target:<13} {count:3d}{'   UPWARD' if up else ''}")
    print(f"{bad} upward arrow(s) of {len(found)}")
    if "--check" in sys.argv[1:] and bad:
        sys.exit(1)


if __name__ == "__main__":
    main()
