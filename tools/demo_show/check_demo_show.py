#!/usr/bin/env python3
"""Re-reads a show folder (default: data/) and checks that it plays well.

Prints a summary and exits non-zero when a check fails. With --render PNG it
also draws a contact sheet of sampled frames; with --fresh it regenerates the
show into a temporary folder and fails when data/ differs from it.
"""

import argparse
import filecmp
import math
import os
import struct
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from show_reader import BLEND_LIMIT, FRAME_SECONDS, DataError, Show  # noqa: E402

MASK_TIME = 2.039
COMFORT_LENGTH = 18000.0  # the path builder starts spacing points wider above this
MAX_LENGTH = 30000.0
COORD_LIMITS = (-500.0, 4600.0)
MAX_BYTES = 5 * 1024 * 1024

# Stretches of the show timeline, by the kind of effect that runs from each start.
EFFECT_STRETCHES = [
    (0.0, "colour"), (2.04, "mask"), (7.72, "colour"), (19.57, "text"), (23.17, "tunnel"),
    (33.99, "rings"), (43.63, "text"), (46.83, "circle"), (58.03, "line"), (66.67, "circle"),
    (73.87, "text"), (76.67, "rings"), (91.51, "circle"), (105.55, "disturb"),
    (138.07, "plasma"), (154.75, "circle"), (175.59, "plasma"), (203.31, "rings"),
    (217.63, "line"),
]


def effect_at(t):
    name = EFFECT_STRETCHES[0][1]
    for start, kind in EFFECT_STRETCHES:
        if t >= start:
            name = kind
    return name


def path_length(frame):
    return sum(math.dist(a, b) for line in frame for a, b in zip(line, line[1:]))


def touched_frames(e):
    """Scene frames that sampling an entry reads, including its blend partners."""
    if e.direction >= 0:
        lo, hi = max(e.first - 1, 0), e.last + 1
    else:
        lo, hi = max(e.last - 1, 0), e.first
    return lo, hi


def blend_problem(a, b):
    """Why frames a and b would not blend, or None."""
    if len(a) != len(b):
        return f"{len(a)} vs {len(b)} polylines"
    for i, (la, lb) in enumerate(zip(a, b)):
        if len(la) != len(lb):
            return f"polyline {i}: {len(la)} vs {len(lb)} points"
        d = max((math.dist(p, q) for p, q in zip(la, lb)), default=0.0)
        if d >= BLEND_LIMIT:
            return f"polyline {i}: moves {d:.0f}"
    return None


def coverage_gaps(entries, until):
    spans = sorted((e.start, e.end) for e in entries)
    gaps, reach = [], 0.0
    for start, end in spans:
        if start > reach + 1e-9:
            gaps.append((reach, start))
        reach = max(reach, end)
    if reach < until:
        gaps.append((reach, until))
    return gaps, reach


class Report:
    def __init__(self):
        self.failures = []

    def check(self, ok, what):
        if not ok:
            self.failures.append(what)
        return ok


def run(folder, render=None, fresh=False):
    rep = Report()
    try:
        show = Show(folder)
    except DataError as err:
        print(f"FAIL: loading stops: {err}")
        return 1
    files = sorted(os.listdir(folder))
    total_bytes = sum(os.path.getsize(os.path.join(folder, f)) for f in files)
    print(f"files: {len(files)}, {total_bytes} bytes ({', '.join(files)})")
    rep.check(total_bytes < MAX_BYTES, f"files total {total_bytes} bytes")
    rep.check(not show.messages, f"loading prints: {show.messages[:5]}")
    print(f"loader messages: {len(show.messages)}")

    frames_total = sum(len(s) for s in show.scenes)
    print(f"scenes: {len(show.scenes)} ({', '.join(f'{n}: {len(s)} frames' for n, s in zip(show.scene_names, show.scenes))}),"
          f" {frames_total} frames; {show.stats['outlines']} outline and {show.stats['tweens']} tween commands")
    entries = show.entries
    overlaps = sum(1 for i, a in enumerate(entries) for b in entries[i + 1:]
                   if a.start < b.end and b.start < a.end)
    print(f"clips: {len(entries)}; split parts > 0: {sum(e.part > 0 for e in entries)};"
          f" backward: {sum(e.direction < 0 for e in entries)}; mirrored: {sum(e.flip_h or e.flip_v for e in entries)};"
          f" overlapping pairs: {overlaps}")
    rep.check(show.stats["outlines"] > 0 and show.stats["tweens"] > 0, "outline and tween commands both used")
    rep.check(any(e.part > 0 for e in entries), "a clip addressed through the split map")
    rep.check(any(e.flip_h for e in entries) and any(e.flip_v for e in entries), "both flips used")
    rep.check(any(e.direction < 0 for e in entries), "a backward clip")
    rep.check(overlaps > 0, "overlapping clips")

    # Every clip stays inside its scene and moves smoothly.
    bad_pairs = 0
    for n, e in enumerate(entries):
        frames = show.scenes[e.scene]
        lo, hi = touched_frames(e)
        if not rep.check(hi < len(frames) or (hi == len(frames) and e.direction >= 0 and e.last == len(frames) - 1),
                         f"clip {n} ({e.base}-{e.part}) reads frame {hi} of {len(frames)}"):
            continue
        # Pairs at the very ends are only shown for an instant or one frame
        # duration; inside the clip every pair must blend.
        for k in range(min(e.first, e.last), max(e.first, e.last)):
            why = blend_problem(frames[k], frames[k + 1])
            if why:
                bad_pairs += 1
                rep.check(False, f"clip {n} ({e.base}-{e.part}): frames {k}/{k + 1} do not blend: {why}")
    print(f"unblendable neighbour frames inside clips: {bad_pairs}")

    gaps, show_end = coverage_gaps(entries, 0.0)
    real_gaps = [(a, b) for a, b in gaps if b - a > 1e-6]
    print(f"duration covered: 0.000 s to {show_end:.3f} s; empty stretches: "
          + (", ".join(f"{a:.2f}-{b:.2f} s" for a, b in real_gaps) or "none"))
    rep.check(show_end >= 225.0, f"show ends at {show_end:.1f} s")
    rep.check(sum(b - a for a, b in real_gaps) < 1.0, "clips cover the show")

    # Sample the whole show at mid-frame times, as a 25 fps player would.
    lengths, lines_max, points_max, empties = [], 0, 0, 0
    lo_xy, hi_xy = [math.inf, math.inf], [-math.inf, -math.inf]
    per_effect = {}
    steps = int(show_end / FRAME_SECONDS)
    for k in range(steps):
        t = FRAME_SECONDS * k + FRAME_SECONDS / 2
        frame = show.sample(t)
        length = path_length(frame)
        lengths.append(length)
        lines_max = max(lines_max, len(frame))
        points_max = max(points_max, sum(len(line) for line in frame))
        empties += not frame
        kind = per_effect.setdefault(effect_at(t), [0, 0.0, 0])
        kind[0] += 1
        kind[1] = max(kind[1], length)
        kind[2] = max(kind[2], len(frame))
        for line in frame:
            for x, y in line:
                lo_xy = [min(lo_xy[0], x), min(lo_xy[1], y)]
                hi_xy = [max(hi_xy[0], x), max(hi_xy[1], y)]
    over = sum(v > COMFORT_LENGTH for v in lengths)
    print(f"sampled frames: {len(lengths)}; empty: {empties}; polylines per frame <= {lines_max};"
          f" points per frame <= {points_max}")
    print(f"path length per frame: mean {sum(lengths) / len(lengths):.0f}, max {max(lengths):.0f};"
          f" above {COMFORT_LENGTH:.0f}: {over} frames ({100.0 * over / len(lengths):.1f} %)")
    print(f"coordinates: x {lo_xy[0]:.1f} .. {hi_xy[0]:.1f}, y {lo_xy[1]:.1f} .. {hi_xy[1]:.1f}")
    for kind, (count, longest, most) in sorted(per_effect.items()):
        print(f"  under {kind:8s}: {count:5d} frames, longest path {longest:6.0f}, polylines <= {most}")
    rep.check(max(lengths) < MAX_LENGTH, f"a frame of path length {max(lengths):.0f}")
    rep.check(over <= 0.1 * len(lengths), f"{over} frames above {COMFORT_LENGTH:.0f}")
    rep.check(empties <= 2, f"{empties} empty frames")
    rep.check(COORD_LIMITS[0] <= min(lo_xy) and max(hi_xy) <= COORD_LIMITS[1], "coordinates in range")

    mask_frame = show.sample(MASK_TIME)
    if rep.check(bool(mask_frame), "a frame at the mask time"):
        mask = mask_frame[0]
        xs, ys = [p[0] for p in mask], [p[1] for p in mask]
        closed = math.dist(mask[0], mask[-1]) < 1e-3
        print(f"mask at {MASK_TIME} s: {len(mask)} points, closed: {closed}, "
              f"box {min(xs):.0f}..{max(xs):.0f} x {min(ys):.0f}..{max(ys):.0f}")
        rep.check(closed and max(xs) - min(xs) > 2000 and max(ys) - min(ys) > 2000, "a large closed mask")

    remap_ok = (len(show.remap) >= 2 and show.remap[0] == (0.0, 0.0)
                and all(b[0] > a[0] and b[1] > a[1] for a, b in zip(show.remap, show.remap[1:])))
    slopes = [(b[0] - a[0]) / (b[1] - a[1]) for a, b in zip(show.remap, show.remap[1:])]
    print(f"remap: {len(show.remap)} points, slopes {', '.join(f'{s:.3f}' for s in slopes)};"
          f" clock 70 s plays show {show.remap_time(70.0):.2f} s")
    rep.check(remap_ok, "remap starts at 1 1 and rises")
    rep.check(any(abs(s - 1) > 0.01 for s in slopes) and all(0.8 <= s <= 1.25 for s in slopes),
              "remap bends the clock gently")

    if render:
        times = contact_sheet(show, render)
        print(f"contact sheet {render}: " + ", ".join(f"{t:.2f}" for t in times))
    if fresh:
        rep.check(matches_generator(folder), "data matches a fresh run of the generator")

    for failure in rep.failures:
        print(f"FAIL: {failure}")
    print("demo show check: " + ("passed" if not rep.failures else f"{len(rep.failures)} failed"))
    return 0 if not rep.failures else 1


def matches_generator(folder):
    import make_demo_show
    with tempfile.TemporaryDirectory() as tmp:
        for name, text in make_demo_show.build_files().items():
            with open(os.path.join(tmp, name), "w", encoding="ascii", newline="\n") as fh:
                fh.write(text)
        same = sorted(os.listdir(tmp)) == sorted(os.listdir(folder))
        match, mismatch, errors = filecmp.cmpfiles(tmp, folder, os.listdir(tmp), shallow=False)
        print(f"fresh generator run: {len(match)} files equal, differing: {mismatch + errors}")
        return same and not mismatch and not errors


# ---------------------------------------------------------------- pictures

def inside(p, ring):
    hit = False
    for a, b in zip(ring, ring[1:] + ring[:1]):
        if (a[1] > p[1]) != (b[1] > p[1]):
            x = a[0] + (p[1] - a[1]) * (b[0] - a[0]) / (b[1] - a[1])
            hit ^= x > p[0]
    return hit


def clip_inside(polyline, ring):
    """Pieces of a polyline inside a closed ring (even-odd rule), for previews only."""
    pieces, current = [], []
    for a, b in zip(polyline, polyline[1:]):
        cuts = [0.0, 1.0]
        for c, d in zip(ring, ring[1:] + ring[:1]):
            den = (d[1] - c[1]) * (b[0] - a[0]) - (d[0] - c[0]) * (b[1] - a[1])
            if den == 0:
                continue
            ua = ((d[0] - c[0]) * (a[1] - c[1]) - (d[1] - c[1]) * (a[0] - c[0])) / den
            ub = ((b[0] - a[0]) * (a[1] - c[1]) - (b[1] - a[1]) * (a[0] - c[0])) / den
            if 0 < ua < 1 and 0 <= ub <= 1:
                cuts.append(ua)
        cuts.sort()
        for u, v in zip(cuts, cuts[1:]):
            p = (a[0] + (b[0] - a[0]) * u, a[1] + (b[1] - a[1]) * u)
            q = (a[0] + (b[0] - a[0]) * v, a[1] + (b[1] - a[1]) * v)
            if inside(((p[0] + q[0]) / 2, (p[1] + q[1]) / 2), ring):
                if not current:
                    current = [p]
                current.append(q)
            elif current:
                pieces.append(current)
                current = []
    if current:
        pieces.append(current)
    return pieces


def contact_sheet(show, path, columns=6, cell=256):
    """Draws sampled frames in a grid: polyline 0 in yellow, the rest in cyan."""
    times = [0.5, 2.039, 3.0, 4.5, 6.0, 7.6, 9.0, 12.5, 16.0, 20.0, 25.0, 30.0, 35.0, 38.0, 47.0, 49.0, 52.5,
             57.0, 60.0, 66.0, 72.0, 75.0, 80.0, 88.0, 92.0, 96.0, 108.0, 113.0, 120.0, 134.0,
             145.0, 150.0, 158.0, 185.0, 193.0, 210.0, 219.0, 225.0, 231.0]
    mask_frame = show.sample(MASK_TIME)
    mask = mask_frame[0] if mask_frame else None
    rows = (len(times) + columns - 1) // columns
    width, height = columns * cell, rows * cell
    pix = bytearray(width * height * 3)

    def plot(x, y, colour):
        if 0 <= x < width and 0 <= y < height:
            o = (y * width + x) * 3
            pix[o:o + 3] = bytes(colour)

    def line(p, q, colour):
        n = int(max(abs(q[0] - p[0]), abs(q[1] - p[1]))) + 1
        for i in range(n + 1):
            u = i / n
            plot(int(p[0] + (q[0] - p[0]) * u), int(p[1] + (q[1] - p[1]) * u), colour)

    for n, t in enumerate(times):
        ox, oy = (n % columns) * cell, (n // columns) * cell
        for i in range(cell):
            for p, q in (((ox + i, oy), (ox + i, oy)), ((ox, oy + i), (ox, oy + i))):
                plot(p[0], p[1], (60, 60, 60))
        k = cell / 4096.0
        strokes = [((255, 230, 60) if idx == 0 else (80, 220, 255), pl) for idx, pl in enumerate(show.sample(t))]
        if effect_at(t) == "mask" and mask:
            # Drawn as the masked stretch shows it: the frozen outline, and the
            # animation shrunk a little and kept inside that outline.
            shrunk = [[((x - 2047) * 0.95 + 2047, (y - 2047) * 0.95 + 2047) for x, y in pl] for _, pl in strokes]
            strokes = [((60, 90, 255), mask)] + [((60, 255, 90), piece) for pl in shrunk
                                                   for piece in clip_inside(pl, mask)]
        for colour, pl in strokes:
            for a, b in zip(pl, pl[1:]):
                line((ox + a[0] * k, oy + a[1] * k), (ox + b[0] * k, oy + b[1] * k), colour)
    raw = b"".join(b"\x00" + bytes(pix[y * width * 3:(y + 1) * width * 3]) for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as fh:
        fh.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                 + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    return times


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder", nargs="?", default=os.path.join(os.path.dirname(os.path.dirname(here)), "data"))
    ap.add_argument("--render", metavar="PNG", help="write a contact sheet of sampled frames")
    ap.add_argument("--fresh", action="store_true", help="also compare with a fresh generator run")
    args = ap.parse_args()
    return run(args.folder, render=args.render, fresh=args.fresh)


if __name__ == "__main__":
    sys.exit(main())
