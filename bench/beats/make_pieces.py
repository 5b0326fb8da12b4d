#!/usr/bin/env python3
"""Writes the test pieces: MIDI files of several metres, tempi and textures, each with its
beats as they sound (seconds, 1 for a downbeat) computed here from the tempo map.

    make_pieces.py OUTDIR            # the pieces of the accuracy table
    make_pieces.py OUTDIR --long     # one 5-minute piece, for the analysis time
"""
import random
import struct
import sys
from pathlib import Path

PPQ = 480


def var_len(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append(0x80 | (v & 0x7F))
        v >>= 7
    return bytes(reversed(out))


def smf(events):
    """events: (tick, bytes) in any order; one track (format 0)."""
    events.sort(key=lambda e: (e[0], e[1][0] & 0xF0 != 0x80))  # note-offs first at a tick
    data, last = b"", 0
    for tick, msg in events:
        data += var_len(tick - last) + msg
        last = tick
    data += var_len(0) + b"\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, PPQ) + b"MTrk" + struct.pack(">I", len(data)) + data


def tempo_msg(bpm_quarter):
    return b"\xff\x51\x03" + struct.pack(">I", round(60e6 / bpm_quarter))[1:]


CHORDS = [(0, 4, 7), (9, 12, 16), (5, 9, 12), (7, 11, 14)]  # I vi IV V in C


class Piece:
    def __init__(self, num, den, style, tempo, bars, seed):
        self.num, self.den, self.style, self.tempo, self.bars = num, den, style, tempo, bars
        self.rng = random.Random(seed)
        self.compound = den == 8 and num % 3 == 0
        self.per_bar = num // 3 if self.compound else num
        self.beat_ticks = PPQ * 4 // den * (3 if self.compound else 1)
        self.events = []

    def note(self, tick, length, ch, key, vel):
        self.events.append((tick, bytes([0x90 | ch, key, vel])))
        self.events.append((tick + length, bytes([0x80 | ch, key, 0])))

    def beat_bpm(self, beat):
        """The tempo (beats a minute) of beat number `beat` from the piece's profile."""
        kind, a, b = self.tempo
        total = self.bars * self.per_bar
        if kind == "steady":
            return a
        if kind == "step":
            return a if beat < total // 2 else b
        return a + (b - a) * beat / max(1, total - 1)  # ramp, a tempo event every beat

    def build(self):
        quarter_per_beat = self.beat_ticks / PPQ
        self.events.append((0, b"\xff\x58\x04" + bytes([self.num, {4: 2, 8: 3}[self.den], 24, 8])))
        beats, seconds, last_bpm = [], 0.0, None
        for beat in range(self.bars * self.per_bar):
            tick = beat * self.beat_ticks
            bpm = self.beat_bpm(beat)
            if bpm != last_bpm:
                self.events.append((tick, tempo_msg(bpm * quarter_per_beat)))
                last_bpm = bpm
            beats.append((seconds, beat % self.per_bar == 0))
            seconds += 60.0 / bpm
        for bar in range(self.bars):
            self.bar(bar, bar * self.per_bar * self.beat_ticks)
        # Songs end on a downbeat: a last chord, a beat of its own.
        end = self.bars * self.per_bar * self.beat_ticks
        for k in (36, 48, 60, 64, 67):
            self.note(end, self.beat_ticks * 2, 0, k, 100)
        beats.append((seconds, True))
        return smf(self.events), beats

    def bar(self, bar, start):
        root = 48 + CHORDS[bar % 4][0]
        chord = [60 + i for i in CHORDS[bar % 4]]
        sub = self.beat_ticks // (3 if self.compound else 2)  # eighths
        subs = self.per_bar * (3 if self.compound else 2)
        rng = self.rng
        if self.style == "band":
            self.events.append((start, bytes([0xC0, 0])))   # piano
            self.events.append((start, bytes([0xC1, 33])))  # fingered bass
            for s in range(subs):
                t = start + s * sub
                beat, on_beat = divmod(s, subs // self.per_bar)
                self.note(t, sub // 2, 9, 42, 70 + rng.randint(-8, 8))  # closed hi-hat
                if on_beat == 0:
                    if beat == 0 or (self.per_bar == 4 and beat == 2):
                        self.note(t, sub, 9, 36, 110)  # kick
                    elif self.per_bar != 3 or beat == 1:
                        self.note(t, sub, 9, 38, 95)   # snare
                    self.note(t, self.beat_ticks - 20, 1, root - 12 + (7 if beat % 2 else 0), 100)
            for k in chord:
                self.note(start, self.beat_ticks * self.per_bar - 30, 0, k, 72)
        else:
            self.events.append((start, bytes([0xC0, 0])))
            for beat in range(self.per_bar):
                t = start + beat * self.beat_ticks
                if beat == 0:
                    self.note(t, self.beat_ticks * self.per_bar - 20, 0, root - 12, 100)
                else:
                    for k in chord:
                        self.note(t, self.beat_ticks // 2, 0, k - 12, 62)
            for s in range(subs):
                if rng.random() < 0.3 and s % 2:
                    continue
                strong = s == 0
                key = rng.choice(chord) + 12 + rng.choice([0, 2, -1, 0])
                self.note(start + s * sub, sub - 10, 0, key, 96 if strong else 70 + rng.randint(-10, 6))


def pieces():
    tempi = {
        (4, 4): [("steady", 92, 92), ("steady", 128, 128), ("step", 100, 140), ("ramp", 84, 116)],
        (3, 4): [("steady", 84, 84), ("steady", 150, 150), ("step", 120, 96), ("ramp", 100, 140)],
        (6, 8): [("steady", 60, 60), ("steady", 80, 80), ("step", 70, 90), ("ramp", 56, 76)],
    }
    seed = 1
    for (num, den), profiles in tempi.items():
        for style in ("band", "piano"):
            for profile in profiles:
                mean_bpm = (profile[1] + profile[2]) / 2
                per_bar = num // 3 if den == 8 else num
                bars = max(8, round(40 * mean_bpm / 60 / per_bar))  # about 40 s
                name = f"{num}-{den}_{style}_{profile[0]}{profile[1]}" + (f"-{profile[2]}" if profile[0] != "steady" else "")
                yield name, Piece(num, den, style, profile, bars, seed)
                seed += 1


def write(out, name, piece):
    data, beats = piece.build()
    (out / f"{name}.mid").write_bytes(data)
    (out / f"{name}.beats").write_text("".join(f"{t:.4f} {int(d)}\n" for t, d in beats))


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    if "--long" in sys.argv:
        write(out, "long_4-4_band", Piece(4, 4, "band", ("step", 110, 122), 140, 99))  # 5 min
        return
    for name, piece in pieces():
        write(out, name, piece)


if __name__ == "__main__":
    main()
