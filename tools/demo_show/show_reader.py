"""A small reader of show data folders, written from the file formats alone.

It shares no code with the generator, so a fault in the writer does not hide
in a matching fault here. Diagnostics that the player would print are
collected in Show.messages instead of being printed.
"""

import json
import math
import os
import struct

FRAME_SECONDS = 0.04
BLEND_LIMIT = 700.0
MIRROR = 4095.0


def f32(x):
    """Round to single precision, as the player computes coordinates."""
    return struct.unpack("f", struct.pack("f", x))[0]


class DataError(Exception):
    """Data that would make the player stop loading (it raises there)."""


# ---------------------------------------------------------------- Sequence.txt

class LineCursor:
    """The two reading primitives of the sequence grammar over one line."""

    def __init__(self, text):
        self.text, self.pos = text, 0

    def skip_to(self, c):
        i = self.text.find(c, self.pos)
        self.pos = len(self.text) if i < 0 else i + 1

    def read_upto(self, c):
        i = self.text.find(c, self.pos)
        if i < 0:
            out, self.pos = self.text[self.pos:], len(self.text)
        else:
            out, self.pos = self.text[self.pos:i], i + 1
        return out

    def read_upto_any(self, chars):
        ends = [i for i in (self.text.find(c, self.pos) for c in chars) if i >= 0]
        i = min(ends) if ends else -1
        if i < 0:
            out, self.pos = self.text[self.pos:], len(self.text)
        else:
            out, self.pos = self.text[self.pos:i], i + 1
        return out

    def read_int(self):
        """Formatted integer input: blanks, optional sign, decimal digits; None if none."""
        i = self.pos
        while i < len(self.text) and self.text[i] in " \t\r\v\f":
            i += 1
        j = i
        if j < len(self.text) and self.text[j] in "+-":
            j += 1
        k = j
        while k < len(self.text) and self.text[k].isdigit():
            k += 1
        if k == j:
            return None
        self.pos = k
        return int(self.text[i:k])


def stoi(text, base=10):
    """String-to-int as the player converts: prefix number or an error."""
    s = text.lstrip(" \t\n\r\v\f")
    i, sign = 0, 1
    if i < len(s) and s[i] in "+-":
        sign = -1 if s[i] == "-" else 1
        i += 1
    if base == 16 and s[i:i + 2] in ("0x", "0X") and i + 2 < len(s) and s[i + 2] in "0123456789abcdefABCDEF":
        i += 2
    digits = "0123456789abcdef"[:base]
    j = i
    while j < len(s) and s[j].lower() in digits:
        j += 1
    if j == i:
        raise DataError(f"invalid stoi argument: {text!r}")
    value = sign * int(s[i:j], base)
    if not -2**31 <= value < 2**31:
        raise DataError(f"stoi argument out of range: {text!r}")
    return value


class Entry:
    def __init__(self, start, scene, first, last, flip_v, flip_h, base, part):
        self.start, self.scene, self.first, self.last = start, scene, first, last
        self.flip_v, self.flip_h, self.base, self.part = flip_v, flip_h, base, part

    @property
    def direction(self):
        d = self.last - self.first
        return (d > 0) - (d < 0)

    @property
    def end(self):
        return self.start + (abs(self.last - self.first) + 1) * FRAME_SECONDS


class Show:
    def __init__(self, folder):
        self.folder = folder
        self.messages = []
        self.entries = []
        self.scenes = []  # list of frames; a frame is a list of polylines of (x, y)
        self.scene_names = []
        self.stats = {"outlines": 0, "tweens": 0, "scene_lines": 0, "option_lines": 0}
        self.remap = []
        self._load()

    # -------------------------------------------------- loading
    def _load(self):
        split_map = None
        try:
            with open(os.path.join(self.folder, "split_map.json"), encoding="ascii") as fh:
                split_map = json.load(fh)
        except FileNotFoundError:
            pass
        registry = {}
        flip_v = flip_h = False
        try:
            with open(os.path.join(self.folder, "Sequence.txt"), encoding="ascii", newline="") as fh:
                text = fh.read()
        except FileNotFoundError:
            text = ""
        lines = text.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        for line in lines:
            cur = LineCursor(line)
            start_ms = cur.read_int()
            if start_ms is None:
                continue
            cur.skip_to("(")
            cur.skip_to("'")
            keyword = cur.read_upto("'")
            if keyword == "scene":
                flip_v = flip_h = False
                self.stats["scene_lines"] += 1
            elif keyword == "scene_options":
                flip_v = flip_h = False
                self.stats["option_lines"] += 1
                while cur.pos < len(cur.text):
                    cur.skip_to("'")
                    if cur.pos >= len(cur.text):
                        break
                    option = cur.read_upto("'")
                    if option == "flip_vertical":
                        flip_v = True
                    elif option == "flip_horizontal":
                        flip_h = True
            elif keyword == "anim":
                self._clip(cur, start_ms, split_map, registry, flip_v, flip_h)
        self._load_remap()

    def _clip(self, cur, start_ms, split_map, registry, flip_v, flip_h):
        cur.skip_to("{")
        cur.skip_to("'")
        if cur.read_upto("'") != "name":
            self.messages.append("'name' expected")
        cur.skip_to("'")
        base = cur.read_upto("-")
        stoi(base, 16)
        part = stoi(cur.read_upto("'"))
        cur.skip_to("'")
        if cur.read_upto("'") != "from":
            self.messages.append("'from' expected")
        cur.skip_to(" ")
        first = stoi(cur.read_upto(","))
        cur.skip_to("'")
        if cur.read_upto("'") != "to":
            self.messages.append("'to' expected")
        cur.skip_to(" ")
        last = stoi(cur.read_upto_any(","))
        offset = 0
        if part > 0:
            lengths = (split_map or {}).get(base)
            if not isinstance(lengths, list) or len(lengths) < part:
                raise DataError(f"split map has no {part} lengths for {base}")
            for n in lengths[:part]:
                if not isinstance(n, int):
                    raise DataError(f"split length of {base} is not a number")
                offset += n
        if base not in registry:
            registry[base] = len(self.scenes)
            self.scene_names.append(base)
            self.scenes.append(self._load_scene(os.path.join(self.folder, f"script{base}.json")))
        self.entries.append(Entry(start_ms / 1000.0, registry[base], first + offset, last + offset,
                                  flip_v, flip_h, base, part))

    def _load_scene(self, path):
        try:
            with open(path, encoding="ascii") as fh:
                doc = json.load(fh)
        except FileNotFoundError:
            return []
        if not isinstance(doc, dict):
            raise DataError(f"{path}: top level is not an object")
        if "indices" not in doc:
            return []
        data = doc.get("data")
        if not isinstance(data, list):
            raise DataError(f"{path}: data is not an array")
        data = [int(v) for v in data]
        return [self.decode_frame(data, o) for o in doc["indices"]]

    def _load_remap(self):
        try:
            with open(os.path.join(self.folder, "remap.txt"), encoding="ascii") as fh:
                for line in fh:
                    a, b = (int(v) for v in line.split()[:2])
                    self.remap.append(((a - 1) / 60.0, (b - 1) / 60.0))
        except FileNotFoundError:
            pass

    # -------------------------------------------------- decoding
    @staticmethod
    def grid_point(row, col):
        return (f32(f32(col / 255.0) * 4095.0), f32(f32((row + 25.5) / 255.0) * 4095.0))

    def decode_frame(self, data, offset):
        count = data[offset]
        frame = []
        i = offset + 1
        for _ in range(max(count, 0)):
            code = data[i]
            if 0xD0 <= code <= 0xDF:
                n = data[i + 1]
                self.stats["outlines"] += 1
                if n > 0:
                    line = [self.grid_point(data[i + 2 + 2 * k], data[i + 3 + 2 * k]) for k in range(n)]
                    frame.append(line + [line[0]])
                i += 2 + 2 * n
            elif code in (0xE6, 0xE7, 0xE8, 0xF2):
                self.stats["tweens"] += 1
                src = (i + 1) - (256 * data[i + 1] + data[i + 2])
                dst = (i + 1) + (256 * data[i + 3] + data[i + 4])
                line = self.decode_tween(data, src, dst, data[i + 5], data[i + 6])
                if line:
                    frame.append(line)
                i += 7
            else:
                self.messages.append(f"unexpected draw cmd {code:X}")
                break
        return frame

    def decode_tween(self, data, src, dst, num, den):
        for pos in (src, dst):
            if not 0 <= pos < len(data) or (data[pos] & 0xD0) != 0xD0:
                self.messages.append(f"Unexpected tween idx (from) {data[pos] if 0 <= pos < len(data) else -1:X}")
                return []
        d, e = data[src + 1], data[dst + 1]
        count = max(d, e)
        m = f32(f32(num) / f32(den))
        step_from, step_to = f32(d / count), f32(e / count)

        def pair(base, k):
            return (data[base + 2 + 2 * k], data[base + 3 + 2 * k])

        out = []
        for j in range(count):
            fpos = f32(j * step_from)
            g = math.floor(fpos)
            t = f32(fpos - g)
            h = math.floor(f32(j * step_to))
            a0, a1 = pair(src, g), pair(src, (g + 1) % d)
            c0, c1 = pair(dst, h), pair(dst, (h + 1) % e)
            a = [f32((1 - t) * a0[c] + t * a1[c]) for c in (0, 1)]
            c = [f32((1 - t) * c0[k] + t * c1[k]) for k in (0, 1)]
            q = [f32((1 - m) * a[k] + m * c[k]) for k in (0, 1)]
            out.append(self.grid_point(q[0], q[1]))
        if math.dist(out[-1], out[0]) > 0.001:
            out.append(out[0])
        return out

    # -------------------------------------------------- sampling
    def frame_at(self, scene, s):
        frames = self.scenes[scene]
        p = s / FRAME_SECONDS
        k = int(p)
        t = f32(p - math.floor(p))
        if k == len(frames) - 1:
            return [list(line) for line in frames[k]]
        a, b = frames[k], frames[k + 1]
        if len(a) != len(b):
            return [list(line) for line in a]
        out = []
        for la, lb in zip(a, b):
            if len(la) == len(lb) and max((math.dist(p, q) for p, q in zip(la, lb)), default=0.0) < BLEND_LIMIT:
                out.append([((1 - t) * p[0] + t * q[0], (1 - t) * p[1] + t * q[1]) for p, q in zip(la, lb)])
            else:
                out.append(list(la))
        return out

    def active(self, t):
        return [e for e in self.entries if e.start < t < e.end]

    def sample(self, t):
        result = []
        for e in self.active(t):
            s = (t - e.start) * e.direction + e.first * FRAME_SECONDS
            for line in self.frame_at(e.scene, s):
                result.append([(MIRROR - x if e.flip_h else x, MIRROR - y if e.flip_v else y) for x, y in line])
        return result

    def remap_time(self, x):
        later = [i for i, (_, second) in enumerate(self.remap) if second > x]
        if later and later[0] >= 1:
            i = later[0]
            (f0, s0), (f1, s1) = self.remap[i - 1], self.remap[i]
            u = (x - s0) / (s1 - s0)
            return (1 - u) * f0 + u * f1
        first, second = self.remap[later[0] if later else -1]
        return x - second + first
