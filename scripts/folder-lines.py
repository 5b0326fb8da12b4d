#!/usr/bin/env python3
"""Lines moved, added and removed per folder between two commits, from git's numstat with
renames found (-M).

  scripts/folder-lines.py [FROM [TO]]   (default b9207fe and HEAD; src and tests)

A renamed file's lines that git does not count as added came along with it: they are moved,
and counted in the folder they went to; added and removed lines count where the file is (or
was, for a file removed). Folders are the file's own (src/engine/sample, tests/support)."""
import subprocess
import sys
from collections import defaultdict
from pathlib import PurePosixPath


def git(*args):
    return subprocess.run(["git", *args], check=True, capture_output=True).stdout


def rows(old, new):
    """(added, removed, path before, path after) for each file changed; binary files skipped."""
    fields = git("diff", "-M", "--numstat", "-z", f"{old}..{new}", "--", "src", "tests").split(b"\0")
    i = 0
    while i < len(fields) - 1:
        added, removed, path = fields[i].split(b"\t", 2)
        i += 1
        before = after = path.decode()
        if not path:  # a rename: the two paths follow
            before, after = fields[i].decode(), fields[i + 1].decode()
            i += 2
        if added != b"-":
            yield int(added), int(removed), before, after


def line_count(rev, path):
    return git("show", f"{rev}:{path}").count(b"\n")


def main():
    old = sys.argv[1] if len(sys.argv) > 1 else "b9207fe"
    new = sys.argv[2] if len(sys.argv) > 2 else "HEAD"
    table = defaultdict(lambda: [0, 0, 0])
    for added, removed, before, after in rows(old, new):
        folder = str(PurePosixPath(after).parent)
        if before != after:
            table[folder][0] += line_count(new, after) - added
        table[folder][1] += added
        table[folder][2] += removed
    print(f"| folder ({old}..{new}) | moved | added | removed |")
    print("|---|---|---|---|")
    for folder in sorted(table):
        print(f"| {folder} | {table[folder][0]} | {table[folder][1]} | {table[folder][2]} |")
    total = [sum(t[k] for t in table.values()) for k in range(3)]
    print(f"| all | {total[0]} | {total[1]} | {total[2]} |")


if __name__ == "__main__":
    main()
