"""The seam analyser on recordings made up here, whose seams are known exactly."""
import array
import math
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_offline  # noqa: E402
import seamlib as sl  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import silence as holes  # noqa: E402

R = sl.RATE


def index_part(tag, first, count):
    out = array.array('h')
    for i in range(first, first + count):
        out.extend(sl.index_frame(tag, i))
    return out


def silence(frames):
    return array.array('h', [0] * (2 * frames))


def chirp_part(first, count, amplitude=16000):
    out = array.array('h')
    for i in range(first, first + count):
        t = i / R
        v = int(round(amplitude * math.sin(2 * math.pi * (sl.CHIRP_F0 * t + sl.CHIRP_K * t * t / 2))))
        out.extend((v, v))
    return out


def steady_clock(frames, t0=100.0, chunk=441):
    """Chunks as a recorder that reads every 10 ms would note them."""
    return sl.Clock([(f, t0 + f / R) for f in range(chunk, frames + chunk, chunk)])


class ReportedPositions(unittest.TestCase):
    def test_reports_are_set_against_the_sample_heard_then(self):
        # 1 s of file 3 from 2.0 s, then a jump back to 2.0 s: heard at t0 + frame / R.
        pcm = index_part(3, 2 * R, R) + index_part(3, 2 * R, R)
        clock = steady_clock(2 * R)
        samples = [(100.0 + 0.25, 2.25 + 0.010),  # 10 ms ahead
                   (100.0 + 0.50, 2.50 - 0.004),  # 4 ms behind
                   (100.0 + 0.999, 2.0),          # reported after the jump, heard before it
                   (100.0 + 1.25, 2.25),          # on time
                   (99.0, 2.0),                   # before the recording
                   (100.0 + 5.0, 3.0)]            # after it
        errors = sl.position_errors(pcm, clock, samples, 3)
        self.assertEqual(len(errors), 3)
        for got, want in zip(errors, (10.0, -4.0, 0.0)):
            self.assertAlmostEqual(got, want, delta=0.05)

    def test_silence_and_other_files_are_left_out(self):
        pcm = silence(R // 2) + index_part(1, 0, R // 2)
        clock = steady_clock(R)
        self.assertEqual(sl.position_errors(pcm, clock, [(100.1, 0.0), (100.75, 0.25)], 3), [])
        self.assertAlmostEqual(sl.position_errors(pcm, clock, [(100.75, 0.26)], 1)[0], 10.0, delta=0.05)


class IndexSignal(unittest.TestCase):
    def test_frames_name_their_file_and_index(self):
        for tag in (0, 1, 3):
            for i in (0, 1, sl.LOW_MASK, sl.LOW_MASK + 1, 12 * R, 20 * R + 7):
                left, right = sl.index_frame(tag, i)
                self.assertNotEqual((left, right), (0, 0))
                self.assertTrue(-32768 <= left <= 32767 and -32768 <= right <= 32767)
                self.assertEqual(sl.decode_frame(left, right), (tag, i))
        self.assertEqual(sl.decode_frame(0, 0), sl.SILENT)
        self.assertEqual(sl.decode_frame(-5, 3), sl.GARBLED)
        self.assertEqual(sl.decode_frame(100, 0), sl.GARBLED)

    def test_a_loop_seam_is_measured_to_the_sample(self):
        a, b = 2 * R, 3 * R
        pcm = index_part(0, a, b - a - 30)         # cut 30 samples before the stop
        pcm += silence(221)                        # 5.01 ms of nothing
        pcm += index_part(0, a + 44, 2000)         # lands 1 ms late
        runs = sl.runs_of(pcm)
        self.assertEqual(len(runs), 2)
        clock = steady_clock(len(pcm) // 2)
        seams = sl.index_seams(pcm, runs, [sl.Entry(0, 2, 3)], [], clock)
        self.assertEqual(len(seams), 1)
        s = seams[0]
        self.assertEqual(s['kind'], 'pass')
        self.assertAlmostEqual(s['overrun_ms'], -30 * 1000 / R)
        self.assertAlmostEqual(s['silence_ms'], 221 * 1000 / R)
        self.assertAlmostEqual(s['landing_ms'], 44 * 1000 / R)
        self.assertAlmostEqual(s['lost_ms'], 44 * 1000 / R)

    def test_seamless_overrun_and_early_landing(self):
        a, b = R, 2 * R
        pcm = index_part(0, a, b - a + 10) + index_part(0, a - 5, 1000)
        seams = sl.index_seams(pcm, sl.runs_of(pcm), [sl.Entry(0, 1, 2)], [], steady_clock(len(pcm) // 2))
        self.assertEqual(len(seams), 1)
        self.assertAlmostEqual(seams[0]['overrun_ms'], 10 * 1000 / R)
        self.assertEqual(seams[0]['silence_ms'], 0)
        self.assertAlmostEqual(seams[0]['landing_ms'], -5 * 1000 / R)
        self.assertEqual(seams[0]['lost_ms'], 0)

    def test_next_entries_garbled_frames_and_commanded_jumps(self):
        entries = [sl.Entry(0, 2, 3), sl.Entry(0, 6, 7), sl.Entry(1, 6, 7)]
        pcm = index_part(0, 2 * R + R // 2, R // 2)      # end of the first entry
        pcm += array.array('h', [7, -7] * 10)            # garbled
        pcm += index_part(0, 6 * R, R)                   # next entry, same file
        pcm += silence(441)
        pcm += index_part(1, 6 * R, 3000)                # next entry, other file
        gap_at = len(pcm) // 2
        pcm += silence(R // 4)                           # a stop and a play: commanded
        pcm += index_part(1, 6 * R, 3000)
        clock = steady_clock(len(pcm) // 2)
        command = clock.time_of(gap_at + R // 8)
        seams = sl.index_seams(pcm, sl.runs_of(pcm), entries, [command], clock)
        self.assertEqual([s['kind'] for s in seams], ['next-same', 'next-other'])
        self.assertAlmostEqual(seams[0]['silence_ms'], 10 * 1000 / R)
        self.assertAlmostEqual(seams[0]['garbled_ms'], 10 * 1000 / R)
        self.assertAlmostEqual(seams[1]['silence_ms'], 10.0)
        self.assertEqual(seams[1]['landing_ms'], 0)

    def test_first_sound_skips_stale_sound_and_counts_from_the_command(self):
        pcm = silence(R // 10)                           # 100 ms quiet
        pcm += index_part(0, 5 * R, 441)                 # stale: the old spot resuming
        pcm += silence(441)
        pcm += index_part(0, 2 * R, 2000)                # the start asked for
        clock = steady_clock(len(pcm) // 2)
        t_cmd = clock.time_of(R // 20)                   # 50 ms in
        ms = sl.first_sound(pcm, clock, t_cmd, [(0, 2.0)])
        self.assertAlmostEqual(ms, 50 + 20, places=3)
        self.assertIsNone(sl.first_sound(pcm, clock, t_cmd, [(1, 2.0)]))
        self.assertIsNone(sl.first_sound(pcm, clock, clock.t0 - 1, [(0, 2.0)]))


class RecordingClock(unittest.TestCase):
    def test_late_reads_do_not_move_the_line(self):
        for pace in (1.0, 1.0004, 0.9997):                # the sink's rate against the nominal one
            chunks = []
            for k in range(1, 2000):
                late = 0.030 if k % 10 == 0 else 0.0     # now and then the reader is late
                chunks.append((k * 441, 50.0 + k * 0.01 / pace + late))
            clock = sl.Clock(chunks)
            self.assertAlmostEqual(clock.t0, 50.0, places=6)
            self.assertAlmostEqual(clock.time_of(R * 10), 50.0 + 10 / pace, places=6)
            self.assertEqual(clock.frame_at(50.0 + 10 / pace + 1e-7), R * 10)
            self.assertIsNone(clock.frame_at(49.0))


class ChirpSignal(unittest.TestCase):
    def test_positions_follow_the_file(self):
        pcm = chirp_part(2 * R, R // 2)
        readings = [(f, p) for f, p in sl.chirp_positions(pcm) if p is not None]
        self.assertGreater(len(readings), 80)
        for f, p in readings:
            self.assertLess(abs(p - (2.0 + f / R)), 0.006)

    def test_a_loop_seam_of_the_chirp(self):
        # A hole at the seam, and a seam where both pitches sound for 30 ms (the reading glides).
        for hole, blend in ((132, 0), (0, R * 30 // 1000)):
            out, into = chirp_part(3 * R, blend), chirp_part(2 * R, blend)
            mixed = array.array('h', (int(a * (1 - i // 2 / blend) + b * (i // 2 / blend))
                                      for i, (a, b) in enumerate(zip(out, into))))
            pcm = chirp_part(2 * R + R // 2, R // 2) + silence(hole) + mixed + chirp_part(2 * R + blend, R // 2)
            seams = sl.chirp_seams(pcm, 2.0, 3.0, [], steady_clock(len(pcm) // 2))
            self.assertEqual([s['kind'] for s in seams], ['pass'])
            s = seams[0]
            self.assertAlmostEqual(s['silence_ms'], hole * 1000 / R, delta=0.1)
            self.assertLess(abs(s['overrun_ms']), 6)
            self.assertLess(abs(s['landing_ms']), 6)

    def test_readings_of_a_stretched_seam(self):
        # Readings every 5 ms of a loop 2-3 s at 0.75, the seam after 1.2 s of sound: as
        # the stretcher's smear gives them, with the glide bouncing back once or one window
        # read ahead of its neighbours (a phase reset). Each is one pass, or none.
        step, seam = R // 200, 240
        def readings(glide=(), spike_at=None):
            out = [(k * step, 2.1 + 0.75 * k * step / R) for k in range(seam)]
            out += [((seam + k) * step, p) for k, p in enumerate(glide)]
            begin = seam + len(glide)
            out += [((begin + k) * step, 2.0 + 0.75 * (len(glide) + k) * step / R) for k in range(60)]
            if spike_at is not None:
                out[spike_at] = (out[spike_at][0], out[spike_at][1] + 0.35)
            return out
        cases = (('a clean cut', readings(), ['pass']),
                 ('a glide that bounces back', readings((2.66, 2.71, 2.44, 2.09)), ['pass']),
                 ('one window read ahead', readings(spike_at=40), ['pass']),
                 ('one window read ahead after the seam', readings(spike_at=seam + 20), ['pass']))
        for name, pos, kinds in cases:
            with self.subTest(name):
                seams = sl.reading_seams(sl.steady_readings(pos), [], 2.0, 3.0, [], steady_clock(R * 2))
                self.assertEqual([s['kind'] for s in seams], kinds)
                self.assertLess(abs(seams[0]['landing_ms']), 8)
                self.assertLess(abs(seams[0]['overrun_ms']), 8)

    def test_first_sound_is_the_chirp_near_its_start(self):
        pcm = silence(R // 20) + index_part(2, 40, 30)   # a click of another file at the command
        pcm += silence(R // 50) + chirp_part(2 * R, R // 4)
        clock = steady_clock(len(pcm) // 2)
        ms = sl.chirp_first_sound(pcm, clock, clock.time_of(R // 20), 2.0)
        self.assertAlmostEqual(ms, (30 + R // 50) * 1000 / R, delta=0.5)
        self.assertIsNone(sl.chirp_first_sound(pcm, clock, clock.time_of(R // 20), 5.0))

    def test_a_jump_elsewhere_is_no_pass(self):
        pcm = chirp_part(2 * R + R // 2, R // 4) + chirp_part(2 * R, R // 4)
        seams = sl.chirp_seams(pcm, 2.0, 3.0, [], steady_clock(len(pcm) // 2))
        self.assertEqual([s['kind'] for s in seams], ['other'])

    def test_no_seam_without_a_jump(self):
        pcm = chirp_part(R, R)
        self.assertEqual(sl.chirp_seams(pcm, 1.0, 3.0, [], steady_clock(len(pcm) // 2)), [])
        self.assertEqual(sl.silent_stretches(pcm), [])


class AgainstRender(unittest.TestCase):
    def test_a_pass_landing_a_frame_off_is_told_from_an_exact_one(self):
        # A render of a 0.6 s loop over 1.5 s, and recordings of it after 0.1 s of silence.
        loop = chirp_part(2 * R, int(0.6 * R))[0::2]
        render = array.array('h', (loop[i % len(loop)] for i in range(int(1.5 * R))))
        late = array.array('h', render)
        late[len(loop):] = array.array('h', (loop[(i + 1) % len(loop)] for i in range(len(render) - len(loop))))
        gap = int(0.1 * R)
        for name, heard, worst_at_most, worst_above in (('exact', render, 1, -1), ('a frame late', late, None, 1000)):
            with self.subTest(name):
                rec = array.array('h', [0] * gap) + heard
                r = compare_offline.compare_play(render, rec, gap + 200, len(render))
                self.assertEqual(r['at'], gap)
                self.assertEqual(r['start'], 'exact')
                if worst_at_most is not None:
                    self.assertLessEqual(r['worst'], worst_at_most)
                self.assertGreater(r['worst'], worst_above)


class SilentRuns(unittest.TestCase):
    def test_holes_between_the_first_sound_and_the_last(self):
        # stereo frames as (left, right); a zero on one side only is sound
        rows = [
            ('none before the first sound or after the last', [(0, 0), (5, 5), (0, 0)], 1, (1, 1, [])),
            ('one side silent is sound', [(5, 5), (0, 3), (3, 0), (5, 5)], 1, (0, 3, [])),
            ('two holes', [(5, 5), (0, 0), (5, 5), (0, 0), (0, 0), (5, 5)], 1, (0, 5, [(1, 1), (3, 2)])),
            ('shorter than asked left out', [(5, 5), (0, 0), (5, 5), (0, 0), (0, 0), (5, 5)], 2, (0, 5, [(3, 2)])),
            ('no sound at all', [(0, 0), (0, 0)], 1, None),
        ]
        for name, frames, least, want in rows:
            pcm = array.array('h', [v for f in frames for v in f])
            self.assertEqual(holes.silent_runs(holes.quiet_frames(pcm), least), want, name)


if __name__ == '__main__':
    unittest.main()
