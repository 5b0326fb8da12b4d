#!/usr/bin/env python3
"""A ten-line drill, its media and the analysis of what was heard.

  drill.py media DIR INI [video]  the chirp (as a sound file, or as a video with it), the
                                  ten cues as an .srt, and the playlist the import makes of
                                  them: 2 passes at 0.8, pause "1.5x", margins 0.15 and 0.25 s
  drill.py analyse RAW            the table of passes, pauses and seams, positions read on
                                  the time of the media beside RAW

The chirp's frequency tells the position in the file (300 Hz + 150 Hz a second), so what is
heard tells where in the file it comes from at any rate; the analysis is list-play's."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "listplay"))
import listplay as lp  # noqa: E402

lp.FILES = {"a": 300.0}
lp.SLOPE = 150.0
lp.SPAN = 150.0 * 13
LEAD, TAIL, RATE, PASSES, FACTOR = 0.15, 0.25, 0.8, 2, 1.5
# Ten cues of 0.6-1.1 s, as subtitles time them: a gap between most, two that touch.
CUES = [(1.0 + i * 1.05, 1.0 + i * 1.05 + 0.6 + (i % 3) * 0.2) for i in range(10)]
LINES = ["Bonjour, ça va ?", "Привет, как дела?", "こんにちは、元気ですか？", "مرحبا، كيف حالك؟",
         "Grüß Gott", "Hola, ¿qué tal?", "Dzień dobry", "Καλημέρα", "Merhaba", "Hej då"]
lp.ENTRIES = [("a", max(0.0, a - LEAD), b + TAIL, RATE, PASSES, {"FilePause": f"{FACTOR:g}x"}) for a, b in CUES]


def model():
    """Each pass with the silence before it: 1.5 times its own heard length."""
    return [(f, a, b, r, FACTOR * (b - a) / r) for f, a, b, r, n, _ in lp.ENTRIES for _ in range(n)]


lp.model = model


def srt(path):
    def t(s):
        ms = round(s * 1000)
        return f"{ms // 3600000:02}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02},{ms % 1000:03}"
    with open(path, "w", encoding="utf-8") as out:
        for n, ((a, b), line) in enumerate(zip(CUES, LINES), 1):
            out.write(f"{n}\n{t(a)} --> {t(b)}\n{line}\n\n")


def media(folder, ini, video):
    wav = os.path.join(folder, "a.wav")
    import array, math, wave  # noqa: E401
    with wave.open(wav, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(lp.RATE)
        a, ph = array.array("h"), 0.0
        for i in range(lp.RATE * 13):
            ph += 2 * math.pi * (300.0 + lp.SLOPE * i / lp.RATE) / lp.RATE
            v = int(lp.AMP * math.sin(ph))
            a.extend((v, v))
        w.writeframes(a.tobytes())
    path = wav
    if video:
        path = os.path.join(folder, "a.mpg")
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=640x360:rate=25",
                        "-i", wav, "-t", "13", "-c:v", "mpeg1video", "-q:v", "4", "-c:a", "mp2", "-b:a", "256k",
                        path], check=True)
    srt(os.path.join(folder, "a.srt"))
    lines = ["[Main]", "PlayListCount=1", "PlayList1=Drill", "LastPlayList=Drill", "[Drill]",
             f"FileCount={len(lp.ENTRIES)}"]
    for n, ((f, start, stop, rate, loops, keys), text) in enumerate(zip(lp.ENTRIES, LINES), 1):
        lines += [f"FileName{n}={path}", f"FileStart{n}={start:g}", f"FileStop{n}={stop:g}",
                  f"FileRate{n}={rate:g}", f"FileLoop{n}={loops}", f"FileText{n}={text}"]
        lines += [f"{k}{n}={v}" for k, v in keys.items()]
    with open(ini, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


def timeline_shift(media_file):
    """Seconds by which the file's own time (what the player shows and seeks by) runs ahead
    of the chirp's: a video's time begins with its first packet, and its MP2 sound begins
    with the encoder's delay (481 samples, 10.9 ms), so its first packet lies that far before
    the first picture, with which the chirp begins. 0 for the sound file."""
    if not media_file.endswith(".mpg"):
        return 0.0
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=start_time:stream=codec_type,start_time",
                          "-of", "compact", media_file], check=True, capture_output=True, text=True).stdout
    video = next(float(l.split("start_time=")[1]) for l in out.splitlines() if "codec_type=video" in l)
    first = next(float(l.split("start_time=")[1]) for l in out.splitlines() if l.startswith("format|"))
    return video - first


def onset_position(s, left):
    """Where in the file a pass after silence begins, to the sample: its first sample, placed
    on the line fitted through its windows' positions (each a window's centre). The window
    it begins in is often too short of sound to be told, so the first window kept can lie
    up to 10 ms after the sound's start."""
    mt, mp, slope = lp.fit(s["pts"][2:-2])
    # Back from the first window kept to the last 2 ms of silence before it: a scrap of
    # sound before that silence is not the pass's.
    onset, quiet = s["pts"][0][0] * lp.WIN, 0
    while onset > 0 and quiet < 88:
        onset -= 1
        quiet = quiet + 1 if abs(left[onset]) <= 300 else 0
    return mp + slope * ((onset + quiet) / lp.WIN - 0.5 - mt)


def on_timeline(shift):
    """Passes read on the file's own time, where the stretches' starts and stops are, those
    after silence from their first sample."""
    passes = lp.passes_of

    def shifted(left):
        segs, tail = passes(left)
        for k, s in enumerate(segs):
            if k == 0 or (s["silent"] >= 3 and s["other"] <= 2):
                s["from"] = onset_position(s, left)
            s["from"] += shift
            s["to"] += shift
        return segs, tail
    lp.passes_of = shifted


if __name__ == "__main__":
    if sys.argv[1] == "media":
        media(sys.argv[2], sys.argv[3], len(sys.argv) > 4 and sys.argv[4] == "video")
    else:
        folder = os.path.dirname(os.path.abspath(sys.argv[2]))
        media_file = next((os.path.join(folder, n) for n in ("a.mpg", "a.wav") if os.path.exists(os.path.join(folder, n))), "")
        shift = timeline_shift(media_file)
        print(f"\nPositions read on the file's own time: the chirp's plus {shift * 1000:.1f} ms")
        on_timeline(shift)
        lp.list_table(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "Drill")
