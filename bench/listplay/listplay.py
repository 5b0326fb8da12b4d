#!/usr/bin/env python3
"""The list of the list-play benchmark, its media, and the analysis of its recordings.

  listplay.py media DIR INI   the three chirps and the playlist file
  listplay.py mpv DIR         mpv's arguments for the same list (no practice settings)
  listplay.py analyse RUN     the tables, from RUN/list.raw, back.raw, moved.raw, mpv.raw

Each file is a chirp, 12000 in amplitude, whose frequency tells the file and the position in
it (base + 300 Hz a second); a stretch keeps the pitch, so the frequency heard tells the
source position at any rate. Recordings are s16le stereo at 44.1 kHz."""
import array
import math
import os
import statistics
import sys
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import silence  # noqa: E402

RATE = 44100
AMP = 12000
SLOPE = 300.0
FILES = {"a": 300.0, "b": 1900.0, "c": 3500.0}
SPAN = 1400.0  # each file's band: base to base + 4 s * SLOPE, with room
# file, start, stop, rate, loops, practice keys
ENTRIES = [
    ("a", 1.0, 2.0, 1.0, 2, {}),
    ("b", 1.0, 2.0, 0.75, 2, {"FilePause": "0.5"}),
    ("c", 1.0, 1.8, 0.6, 1, {"FileCountIn": "2 120 first"}),
    ("a", 2.0, 3.0, 0.5, 2, {"FileTrainer": "0.4 0.05 1"}),
]
WIN = 441  # 10 ms


def media(folder, ini):
    for name, base in FILES.items():
        with wave.open(os.path.join(folder, name + ".wav"), "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(RATE)
            a = array.array("h")
            ph = 0.0
            for i in range(RATE * 4):
                ph += 2 * math.pi * (base + SLOPE * i / RATE) / RATE
                v = int(AMP * math.sin(ph))
                a.extend((v, v))
            w.writeframes(a.tobytes())
    lines = ["[Main]", "PlayListCount=1", "PlayList1=Bench", "LastPlayList=Bench", "[Bench]",
             f"FileCount={len(ENTRIES)}"]
    for n, (f, start, stop, rate, loops, keys) in enumerate(ENTRIES, 1):
        lines += [f"FileName{n}={os.path.join(folder, f + '.wav')}", f"FileStart{n}={start:g}",
                  f"FileStop{n}={stop:g}", f"FileRate{n}={rate:g}", f"FileLoop{n}={loops}"]
        lines += [f"{k}{n}={v}" for k, v in keys.items()]
    with open(ini, "w") as out:
        out.write("\n".join(lines) + "\n")


def mpv_args(folder):
    args = ["--loop-playlist=inf"]
    for f, start, stop, rate, loops, _ in ENTRIES:
        # Its A-B loop repeats the stretch (loop-file would start again at the file's start).
        args += ["--{", f"--start={start:g}", f"--end={stop:g}", f"--speed={rate:g}",
                 f"--ab-loop-a={start:g}", f"--ab-loop-b={stop:g}", f"--ab-loop-count={loops - 1}",
                 os.path.join(folder, f + ".wav"), "--}"]
    print(" ".join(args))


def model():
    """The passes in order, one round of the list: file, start, stop, rate, silence before."""
    passes = []
    for f, start, stop, rate, loops, keys in ENTRIES:
        trainer = keys.get("FileTrainer")
        for k in range(loops):
            r = rate
            if trainer:
                r0, step, per = (float(x) for x in trainer.split())
                r = min(rate, r0 + step * (k // int(per)))
            before = float(keys.get("FilePause", 0))
            if "FileCountIn" in keys and (k == 0 or keys["FileCountIn"].endswith("every")):
                clicks, tempo, _ = keys["FileCountIn"].split()
                before += int(clicks) * 60.0 / float(tempo)
            passes.append((f, start, stop, r, before))
    return passes


def read(path):
    a = array.array("h")
    with open(path, "rb") as fh:
        a.frombytes(fh.read())
    return a[0::2]


def windows(left):
    """Per 10 ms: rms, and the frequency from interpolated zero crossings (0: none)."""
    out = []
    for w in range(0, len(left) - WIN, WIN):
        x = left[w:w + WIN]
        rms = math.sqrt(sum(v * v for v in x[::3]) / len(x[::3]))
        cross = []
        for i in range(1, WIN):
            if x[i - 1] < 0 <= x[i]:
                cross.append(i - 1 + x[i - 1] / (x[i - 1] - x[i]))
        f = (len(cross) - 1) * RATE / (cross[-1] - cross[0]) if len(cross) > 2 else 0.0
        out.append((rms, f))
    return out


def classify(rms, f):
    if rms < 150:
        return None, 0.0
    if rms > 1500:
        for name, base in FILES.items():
            if base - 50 <= f <= base + SPAN:
                return name, (f - base) / SLOPE
    return "?", 0.0


def fit(pts):
    """Position against window: least squares, once more without the windows far off."""
    for _ in range(2):
        n = len(pts)
        mt = sum(p[0] for p in pts) / n
        mp = sum(p[1] for p in pts) / n
        var = sum((p[0] - mt) ** 2 for p in pts) or 1
        slope = sum((p[0] - mt) * (p[1] - mp) for p in pts) / var
        near = [p for p in pts if abs(mp + slope * (p[0] - mt) - p[1]) < 0.03]
        if len(near) >= 5:
            pts = near
    return mt, mp, slope


def passes_of(left):
    """Passes: runs of one file whose position goes on; a jump back, another file or 30 ms
    of silence begins the next. Windows not told apart (blends, clicks) are counted between."""
    segs, cur, gap_silent, gap_other = [], None, 0, 0
    kinds = []
    for i, (rms, f) in enumerate(windows(left)):
        name, pos = classify(rms, f)
        kinds.append(name)
        if name in FILES:
            last = cur["pts"][-1][1] if cur else 0
            if cur and cur["file"] == name and gap_silent < 3 and last - 0.3 < pos < last + 0.3:
                cur["pts"].append((i, pos))
                cur["rms"].append(rms)
                gap_silent = gap_other = 0
                continue
            cur = {"file": name, "pts": [(i, pos)], "rms": [rms], "silent": gap_silent, "other": gap_other}
            segs.append(cur)
            gap_silent = gap_other = 0
        elif name is None:
            gap_silent += 1
        else:
            gap_other += 1
    tail = gap_silent
    segs = [s for s in segs if len(s["pts"]) >= 8]
    for k, s in enumerate(segs):
        # Between the passes kept: silence, and sound not told apart (blends, clicks, a
        # scrap of a pass too short to count).
        a = segs[k - 1]["pts"][-1][0] + 1 if k else s["pts"][0][0]
        between = kinds[a:s["pts"][0][0]]
        s["silent"] = sum(1 for x in between if x is None)
        s["other"] = len(between) - s["silent"]
        mt, mp, slope = fit(s["pts"][2:-2])
        s["rate"] = slope * 100
        s["from"] = mp + slope * (s["pts"][0][0] - mt)
        s["to"] = mp + slope * (s["pts"][-1][0] + 1 - mt)
        s["t0"], s["t1"] = s["pts"][0][0] / 100, (s["pts"][-1][0] + 1) / 100
    return segs, tail / 100


BLEND = 0.030  # seconds of the source a seam blends over, as the model and the engine have it


def stretch(base, at, seconds, rate):
    """The file's chirp from source second `at` on, for `seconds` heard at `rate`, the pitch kept."""
    out, ph = [], 0.0
    for i in range(int(seconds * RATE)):
        ph += 2 * math.pi * (base + SLOPE * (at + rate * i / RATE)) / RATE
        out.append(AMP * math.sin(ph))
    return out


def gains(i, n):
    """The blend's gains at frame i of n for two unrelated sounds (their power kept), rising
    and falling: the engine's and the model's (audio::blendGains at correlation 0)."""
    o = 0.5 * math.sin(math.pi / 2 * (2 * (i + 0.5) / n - 1))
    e = math.sqrt(max(0.0, 0.5 - o * o))
    return e + o, e - o


def model_change(a, b):
    """What the analysis reads of a change as the model renders it: the sound lost at the end
    of pass `a` and at the start of pass `b` (plan tuples). Passes of one rate blend, the
    stretch of `a` going on past its stop under the start of `b`; a pause, a count-in or
    another rate fades `a` out and `b` in instead (the due silence between)."""
    (fa, _, stop_a, ra, _), (fb, start_b, _, rb, before) = a, b
    head = stretch(FILES[fa], stop_a - 0.4 * ra, 0.4, ra)
    tail = stretch(FILES[fb], start_b, 0.4, rb)
    # The blend reads source frames: heard at a rate, it lasts as long over that rate.
    na, nb = int(BLEND / ra * RATE), int(BLEND / rb * RATE)
    if before > 0 or ra != rb:
        for i in range(na):
            head[-na + i] *= math.cos(math.pi / 2 * (i + 0.5) / na)
        for i in range(nb):
            tail[i] *= gains(i, nb)[0]
        sig = head + [0.0] * int(before * RATE) + tail
    else:
        past = stretch(FILES[fa], stop_a, BLEND / ra, ra)
        for i in range(nb):
            g = gains(i, nb)
            tail[i] = tail[i] * g[0] + past[i] * g[1]
        sig = head + tail
    zeros = [0] * (RATE // 10)
    segs, _ = passes_of(array.array("h", zeros + [int(v) for v in sig] + zeros))
    if len(segs) != 2:
        return 0.0, 0.0
    return (stop_a - segs[0]["to"]) / ra * 1000, (segs[1]["from"] - start_b) / rb * 1000


def list_table(path, title, practice=True):
    left = read(path)
    segs, tail = passes_of(left)
    plan = model()
    if not practice:
        plan = [(f, a, b, r, 0.0) for f, a, b, r, _ in plan]
    print(f"\n{title}: {len(left) / RATE:.1f} s recorded, {len(segs)} passes heard")
    print("The first pass's silence is the start; the due silence is the pause and count-in (whose"
          " clicks count as other sound); a pass matches the list's next one of its file and start.\n")
    if practice:
        print("Lost: against what the same analysis reads of the model's blended (or faded) change"
              " from the pass heard before; in brackets as read.\n")
    print("| # | file | at s | silence before ms (due) | lost at its start ms | lost at its end ms"
          " | rate heard (due) | level dB |")
    print("|---|---|---|---|---|---|---|---|")
    at = 0
    matched = [None] * len(segs)
    rows, rows_end = [], []
    for k, s in enumerate(segs):
        # The list's next pass this one can be: passes of the list not heard are skipped.
        match = next((j for j in range(at, at + len(plan))
                      if plan[j % len(plan)][0] == s["file"] and abs(s["from"] - plan[j % len(plan)][1]) < 0.1), None)
        note = ""
        if match is None:
            f, start, stop, rate, before = s["file"], s["from"], s["to"], s["rate"], 0.0
            note = " (no start of a pass: the rest of one after a break)"
        else:
            if match > at and k:
                note = f" ({match - at} of the list's passes not heard before it)"
            f, start, stop, rate, before = plan[match % len(plan)]
            at = match + 1
            matched[k] = match
        due_before = before * 1000 if k else 0
        head = (s["from"] - start) / rate * 1000
        end = (stop - s["to"]) / rate * 1000
        # The model's change from the pass heard before, where it is the list's pass before.
        if practice and k and matched[k] is not None and matched[k - 1] == matched[k] - 1:
            end_before, head_model = model_change(plan[matched[k - 1] % len(plan)], plan[matched[k] % len(plan)])
            rows[-1] = rows[-1].replace("END", f"{rows_end[-1] - end_before:.0f} ({rows_end[-1]:.0f})")
            head_text = f"{head - head_model:.0f} ({head:.0f})"
        else:
            head_text = f"({head:.0f})"
        if rows:
            rows[-1] = rows[-1].replace("END", f"({rows_end[-1]:.0f})")
        level = 20 * math.log10(statistics.median(s["rms"]) / (AMP / math.sqrt(2)))
        rows.append(f"| {k + 1} | {s['file']}{note} | {s['t0']:.2f} | {s['silent'] * 10} ({due_before:.0f})"
                    f"{' +' + str(s['other'] * 10) + ' other' if s['other'] else ''} | {head_text} | END"
                    f" | {s['rate']:.3f} ({rate:.3g}) | {level:+.1f} |")
        rows_end.append(end)
    if rows:
        rows[-1] = rows[-1].replace("END", f"({rows_end[-1]:.0f})")
    print("\n".join(rows))
    if tail > 3:
        print(f"The sound stopped {tail:.1f} s before the recording's end, after pass {len(segs)}"
              " (the list did not go on).")


def onset(path):
    left = read(path)
    for w in range(0, len(left) - 44, 44):
        if max(abs(v) for v in left[w:w + 44]) > 3000:
            return w / RATE, left
    return None, left


def analyse(run):
    list_table(os.path.join(run, "list.raw"), "Play the List (the program)")
    if os.path.exists(os.path.join(run, "mpv.raw")):
        list_table(os.path.join(run, "mpv.raw"), "mpv (playlist, start/end, A-B loop with a count)", practice=False)
    back = os.path.join(run, "back.raw")
    if os.path.exists(back):
        t, _ = onset(back)
        print("\nServer killed and started again: " + (
            f"sound {t:.2f} s after the new server's sink began" if t is not None else "no sound after the restart"))
    moved = os.path.join(run, "moved.raw")
    if os.path.exists(moved):
        t, left = onset(moved)
        if t is None:
            print("Sink unloaded: no sound reached the other sink")
        else:
            # Digital silence, as every benchmark counts a hole.
            got = silence.holes(moved, min_frames=RATE // 500)
            h = got[1] if got else []
            print(f"Sink unloaded: sound on the other sink {len(left) / RATE - t:.1f} s; holes of 2 ms and more: "
                  + (", ".join(f"{n:.0f} ms at +{at:.2f} s" for at, n in h) or "none"))


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "media":
        media(sys.argv[2], sys.argv[3])
    elif cmd == "mpv":
        mpv_args(sys.argv[2])
    else:
        analyse(sys.argv[2])
