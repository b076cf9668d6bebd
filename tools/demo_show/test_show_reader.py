"""Tests of the show reader against the file formats, and of the generator's encoding.

The checker's verdict on the demo show is only worth as much as its reader,
so the reader is held here to the worked examples of the formats.
"""

import json
import math
import os
import tempfile
import unittest

import make_demo_show
from check_demo_show import blend_problem, coverage_gaps
from make_demo_show import encode_scene, grid_rings, to_grid
from show_reader import DataError, Entry, Show


def write_show(folder, sequence, scenes=None, split_map=None, remap="1 1\n"):
    with open(os.path.join(folder, "Sequence.txt"), "w") as fh:
        fh.write(sequence)
    if split_map is not None:
        with open(os.path.join(folder, "split_map.json"), "w") as fh:
            json.dump(split_map, fh)
    for name, doc in (scenes or {}).items():
        with open(os.path.join(folder, f"script{name}.json"), "w") as fh:
            json.dump(doc, fh)
    with open(os.path.join(folder, "remap.txt"), "w") as fh:
        fh.write(remap)


def square_scene(frames):
    """A scene of one-outline frames; frame k is a square whose corners move by k grid steps."""
    data, indices = [], []
    for k in range(frames):
        indices.append(len(data))
        data += [1, 0xD0, 4, 10 + k, 10, 10 + k, 20, 20 + k, 20, 20 + k, 10]
    return {"indices": indices, "data": data}


class SequenceGrammar(unittest.TestCase):
    def load(self, sequence, **kw):
        with tempfile.TemporaryDirectory() as tmp:
            scenes = kw.pop("scenes", {"1F": square_scene(200)})
            write_show(tmp, sequence, scenes=scenes, **kw)
            return Show(tmp)

    def test_part_offsets_come_from_the_split_map(self):
        show = self.load("2040 ('anim', {'name': '1F-2', 'from': 0, 'to': 9})\n",
                         split_map={"1F": [30, 40, 50]})
        e = show.entries[0]
        self.assertEqual((e.start, e.first, e.last), (2.04, 70, 79))

    def test_part_without_split_lengths_stops_loading(self):
        with self.assertRaises(DataError):
            self.load("0 ('anim', {'name': '1F-1', 'from': 0, 'to': 9})\n")

    def test_flags_follow_the_last_options_line(self):
        show = self.load(
            "0 ('scene_options', ['flip_vertical'])\n"
            "0 ('anim', {'name': '1F-0', 'from': 0, 'to': 9})\n"
            "0 ('scene_options', ['flip_horizontal'])\n"
            "0 ('anim', {'name': '1F-0', 'from': 0, 'to': 9})\n"
            "0 ('scene_options', ['upside_down'])\n"
            "0 ('anim', {'name': '1F-0', 'from': 0, 'to': 9})\n"
            "0 ('scene_options', ['flip_vertical', 'flip_horizontal'])\n"
            "0 ('scene', {'name': 'x'})\n"
            "0 ('anim', {'name': '1F-0', 'from': 0, 'to': 9})\n")
        self.assertEqual([(e.flip_v, e.flip_h) for e in show.entries],
                         [(True, False), (False, True), (False, False), (False, False)])

    def test_loose_lines(self):
        show = self.load("# comment\n"
                         "-500 ('anim', {'name': '1F-0', 'from': 3, 'to': 7})\n"
                         "10 ('anim', {'nam': '1F-0', 'from': 5, 'to': 1})")
        self.assertEqual([(e.start, e.first, e.last) for e in show.entries], [(-0.5, 3, 7), (0.01, 5, 1)])
        self.assertEqual(show.messages, ["'name' expected"])
        self.assertEqual(len(show.scenes), 1)

    def test_remap_interpolates_and_runs_on_at_clock_rate(self):
        show = self.load("", remap="1 1\n61 121\n")
        self.assertEqual(show.remap, [(0.0, 0.0), (1.0, 2.0)])
        self.assertEqual([show.remap_time(x) for x in (0.0, 1.0, 2.0, 3.0)], [0.0, 0.5, 1.0, 2.0])


class Decoding(unittest.TestCase):
    def decode(self, data, offset=0):
        show = Show.__new__(Show)
        show.messages, show.stats = [], {"outlines": 0, "tweens": 0}
        return show.decode_frame(data, offset), show.messages

    def test_outline_mapping_and_closing(self):
        frame, msgs = self.decode([2, 0xD3, 2, 0, 0, 204, 255, 0xDF, 1, 5, 5])
        self.assertEqual(frame[0], [(0.0, 409.5), (4095.0, 3685.5), (0.0, 409.5)])
        self.assertEqual(len(frame[1]), 2)
        self.assertEqual(frame[1][0], frame[1][1])
        self.assertEqual(msgs, [])

    def test_tween_resamples_the_smaller_outline(self):
        square = [0xD0, 4, 0, 0, 0, 100, 100, 100, 100, 0]
        octagon = [0xD0, 8] + [0, 0] * 8
        data = [1] + square + [1, 0xE6, 0, 12, 0, 7, 0, 5] + [1] + octagon
        frame, msgs = self.decode(data, 11)
        self.assertEqual(msgs, [])
        expected = [(0, 0), (0, 50), (0, 100), (50, 100), (100, 100), (100, 50), (100, 0), (50, 0), (0, 0)]
        self.assertEqual(frame[0], [Show.grid_point(r, c) for r, c in expected])

    def test_tween_from_larger_outline_takes_floor_points(self):
        big = [0xD0, 4, 0, 0, 0, 100, 100, 100, 100, 0]
        small = [0xD0, 2, 50, 50, 60, 60]
        data = [1] + big + [1, 0xF2, 0, 12, 0, 7, 1, 1] + [1] + small
        frame, _ = self.decode(data, 11)
        expected = [(50, 50), (50, 50), (60, 60), (60, 60), (50, 50)]
        self.assertEqual(frame[0], [Show.grid_point(r, c) for r, c in expected])

    def test_faults_are_reported_and_decoding_goes_on(self):
        frame, msgs = self.decode([3, 0xD0, 1, 1, 1, 0xE5, 0xD0, 1, 2, 2])
        self.assertEqual((len(frame), msgs), (1, ["unexpected draw cmd E5"]))
        frame, msgs = self.decode([2, 0xE7, 0, 2, 0, 7, 1, 2, 0xD0, 1, 2, 2])
        self.assertEqual(msgs, ["Unexpected tween idx (from) 2"])
        self.assertEqual(len(frame), 1)


class Sampling(unittest.TestCase):
    def load(self, sequence):
        with tempfile.TemporaryDirectory() as tmp:
            write_show(tmp, sequence, scenes={"1F": square_scene(20)})
            return Show(tmp)

    def test_forward_and_backward_clips_blend_towards_the_next_frame(self):
        show = self.load("1000 ('anim', {'name': '1F-0', 'from': 10, 'to': 12})\n"
                         "5000 ('anim', {'name': '1F-0', 'from': 12, 'to': 10})\n")
        self.assertEqual(show.sample(1.0), [])
        self.assertEqual(show.sample(1.12), [])
        frames = show.scenes[0]
        halfway = [((a[0] + b[0]) / 2, (a[1] + b[1]) / 2) for a, b in zip(frames[10][0], frames[11][0])]
        for got, want in zip(show.sample(1.02)[0], halfway):
            self.assertAlmostEqual(got[1], want[1], places=3)
        mid = [((a[0] + b[0]) / 2, (a[1] + b[1]) / 2) for a, b in zip(frames[11][0], frames[12][0])]
        for got, want in zip(show.sample(5.02)[0], mid):
            self.assertAlmostEqual(got[1], want[1], places=3)

    def test_mirroring_and_overlap_order(self):
        show = self.load("1000 ('anim', {'name': '1F-0', 'from': 0, 'to': 5})\n"
                         "1000 ('scene_options', ['flip_horizontal'])\n"
                         "1000 ('anim', {'name': '1F-0', 'from': 0, 'to': 5})\n")
        plain, mirrored = show.sample(1.04)
        self.assertEqual([(4095 - x, y) for x, y in plain], mirrored)


class Encoding(unittest.TestCase):
    def test_grid_round_trip_stays_within_half_a_step(self):
        for x in range(0, 4096, 97):
            for y in range(420, 4080, 89):
                back = Show.grid_point(*to_grid((x, y)))
                self.assertLessEqual(abs(back[0] - x), 8.1)
                self.assertLessEqual(abs(back[1] - y), 8.1)

    def test_tween_frames_interpolate_between_keys(self):
        def shape(f):
            return [[(1000 + 40 * f, 1000), (2000, 1000 + 40 * f), (1500, 3000)]]
        offsets, lines = encode_scene("T", shape, 9, {0, 4, 8})
        data = [v for line in lines for v in line]
        show = Show.__new__(Show)
        show.messages, show.stats = [], {"outlines": 0, "tweens": 0}
        frames = [show.decode_frame(data, o) for o in offsets]
        self.assertEqual(show.messages, [])
        self.assertEqual(show.stats, {"outlines": 3, "tweens": 6})
        for f in range(9):
            want = [Show.grid_point(r, c) for r, c in grid_rings(shape(f), "T", f)[0]]
            for got, exp in zip(frames[f][0], want):
                self.assertLess(math.dist(got, exp), 17.0, f"frame {f}")
            self.assertEqual(len(frames[f][0]), 4)

    def test_points_beyond_the_grid_are_refused(self):
        for p in ((-20.0, 1000.0), (1000.0, 300.0), (4200.0, 1000.0), (1000.0, 4100.0)):
            with self.assertRaises(ValueError):
                to_grid(p)

    def test_ring_that_ends_where_it_starts_is_refused(self):
        with self.assertRaises(ValueError):
            grid_rings([[(100, 500), (900, 900), (101, 501)]], "T", 0)


class ShowPlan(unittest.TestCase):
    def test_sequence_reads_back_as_planned(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name, text in (("Sequence.txt", make_demo_show.sequence_text()),
                               ("split_map.json", make_demo_show.split_map_text())):
                with open(os.path.join(tmp, name), "w") as fh:
                    fh.write(text)
            show = Show(tmp)
        splits = {name: parts for name, _, _, _, parts in make_demo_show.SCENES}
        planned, flips = [], (False, False)
        for item in make_demo_show.SEQUENCE:
            if item[1] == "scene":
                flips = (False, False)
            elif item[1] == "options":
                flips = ("flip_vertical" in item[2], "flip_horizontal" in item[2])
            else:
                start, base, part, first, last = item
                offset = sum(splits[base][:part])
                planned.append((start / 1000.0, base, first + offset, last + offset) + flips)
        got = [(e.start, e.base, e.first, e.last, e.flip_v, e.flip_h) for e in show.entries]
        self.assertEqual(got, planned)
        self.assertEqual(show.messages, [])
        self.assertTrue(make_demo_show.remap_text().startswith("1 1\n"))

    def test_coverage_gaps(self):
        def clip(start, frames):
            return Entry(start, 0, 0, frames - 1, False, False, "1A", 0)
        gaps, end = coverage_gaps([clip(0.0, 25), clip(1.0, 25), clip(3.0, 50)], 6.0)
        self.assertEqual([(round(a, 6), round(b, 6)) for a, b in gaps], [(2.0, 3.0), (5.0, 6.0)])
        self.assertAlmostEqual(end, 5.0)

    def test_blend_problem_matches_the_sampler_limit(self):
        a = [[(0.0, 0.0), (100.0, 0.0)]]
        self.assertIsNone(blend_problem(a, [[(0.0, 699.9), (100.0, 0.0)]]))
        self.assertIn("moves", blend_problem(a, [[(0.0, 700.0), (100.0, 0.0)]]))
        self.assertIn("points", blend_problem(a, [[(0.0, 0.0), (100.0, 0.0), (5.0, 5.0)]]))
        self.assertIn("polylines", blend_problem(a, a + a))


if __name__ == "__main__":
    unittest.main()
