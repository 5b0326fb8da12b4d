#!/usr/bin/env python3
"""The share of test lines against code lines, per source folder.

A test file counts for the folder its name names (test_panel: panel), else for the folder whose
headers it includes most, the bottom folder app only when it includes nothing else. Lines are those that are
neither blank nor only a // comment, in .cpp and .h files.
"""
import re
from collections import Counter
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.M)
COMMENT_OR_BLANK = re.compile(r"^\s*(//.*)?$")


def lines(path):
    return sum(1 for line in path.read_text(errors="replace").splitlines() if not COMMENT_OR_BLANK.match(line))


def sources(folder):
    return [p for p in sorted(folder.rglob("*")) if p.suffix in (".cpp", ".h")]


def main():
    code = Counter()
    for path in sources(ROOT / "src"):
        parts = path.relative_to(ROOT / "src").parts
        code[parts[0] if len(parts) > 1 else "main"] += lines(path)
    tests = Counter()
    for path in sources(ROOT / "tests"):
        named = [f for f in code if f != "main" and f in path.stem.split("_")]
        included = Counter(f for f in INCLUDE.findall(path.read_text(errors="replace")) if f in code)
        if len(included) > 1:
            included.pop("app", None)
        folder = named[0] if named else included.most_common(1)[0][0] if included else "support"
        tests[folder] += lines(path)
    print(f"{'folder':<10} {'code':>6} {'tests':>6} {'share':>6}")
    for folder in sorted(set(code) | set(tests)):
        c, t = code[folder], tests[folder]
        share = f"{100 * t / c:5.0f}%" if c else "     -"
        print(f"{folder:<10} {c:6d} {t:6d} {share}")
    total_c, total_t = sum(code.values()), sum(tests.values())
    print(f"{'all':<10} {total_c:6d} {total_t:6d} {100 * total_t / max(total_c, 1):5.0f}%")


if __name__ == "__main__":
    main()
