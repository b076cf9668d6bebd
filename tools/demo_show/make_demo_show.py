#!/usr/bin/env python3
"""Writes the bundled demo show into data/ (or --out DIR).

The show is authored here as code: every scene is a function from frame
number to a list of closed rings in drawing units, evaluated only at key
frames. Key frames are stored as outline commands; every frame between two
keys is a list of tween commands pointing at the outlines of its neighbours,
so most of the show costs seven integers per stroke and frame.

Deterministic: no randomness, fixed formatting, so regenerating gives the
same bytes. Run with --check to re-read the output with the independent
reader in show_reader.py and print a summary.
"""

import argparse
import math
import os
import sys

FPS = 25
CX = 2047.0  # the effects scale and measure about this centre
CY = 2150.0  # rows start at y = 409.5, so the reachable area sits a little low
FLOOR_Y = 3750.0

OUTLINE_CODE = 0xD0
TWEEN_CODES = (0xE6, 0xE7, 0xE8, 0xF2)  # all decode alike; cycling them keeps every one in use
MAX_ROW = 229  # row 229 maps to y = 4087.6; row 230 would leave the drawing space
MAX_COL = 255


# ---------------------------------------------------------------- geometry

def to_grid(point):
    """Drawing units -> stored (row, column) pair, the inverse of the decoder's mapping."""
    x, y = point
    col = round(x * 255.0 / 4095.0)
    row = round(y * 255.0 / 4095.0 - 25.5)
    if not (0 <= row <= MAX_ROW and 0 <= col <= MAX_COL):
        raise ValueError(f"point ({x:.0f}, {y:.0f}) lies outside the stored grid")
    return (row, col)


def rotate(point, angle, centre=(CX, CY)):
    c, s = math.cos(angle), math.sin(angle)
    dx, dy = point[0] - centre[0], point[1] - centre[1]
    return (centre[0] + c * dx - s * dy, centre[1] + s * dx + c * dy)


def scale_about(points, sx, sy, centre=(CX, CY)):
    return [(centre[0] + (x - centre[0]) * sx, centre[1] + (y - centre[1]) * sy) for x, y in points]


def translate(points, dx, dy):
    return [(x + dx, y + dy) for x, y in points]


def circle(centre, radius, count, phase=0.0, rx_scale=1.0, ry_scale=1.0):
    return [(centre[0] + radius * rx_scale * math.sin(phase + 2 * math.pi * k / count),
             centre[1] - radius * ry_scale * math.cos(phase + 2 * math.pi * k / count))
            for k in range(count)]


def resample_ring(points, count):
    """Evenly spaced points along a closed ring, starting at its first point.

    Rings that morph into each other need the same point count so that the
    tweens pair point k with point k and neighbouring frames stay blendable."""
    closed = points + [points[0]]
    seg = [math.dist(closed[i], closed[i + 1]) for i in range(len(points))]
    total = sum(seg)
    out, i, walked = [], 0, 0.0
    for k in range(count):
        target = total * k / count
        while walked + seg[i] < target and i < len(seg) - 1:
            walked += seg[i]
            i += 1
        f = 0.0 if seg[i] == 0 else (target - walked) / seg[i]
        a, b = closed[i], closed[i + 1]
        out.append((a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f))
    return out


def star(centre, outer, inner, angle, tips=5):
    pts = []
    for k in range(2 * tips):
        r = outer if k % 2 == 0 else inner
        a = angle + math.pi * k / tips
        pts.append((centre[0] + r * math.sin(a), centre[1] - r * math.cos(a)))
    return pts


def heart(centre, size, count):
    # Classic parametric heart, sampled densely then evenly by arc length,
    # starting at the dip between the lobes and running clockwise on screen.
    dense = []
    for k in range(720):
        t = 2 * math.pi * k / 720
        hx = 16 * math.sin(t) ** 3
        hy = 13 * math.cos(t) - 5 * math.cos(2 * t) - 2 * math.cos(3 * t) - math.cos(4 * t)
        dense.append((centre[0] + size * hx, centre[1] - size * (hy + 2.5)))
    return resample_ring(dense, count)


def smoothstep(a, b, x):
    u = min(max((x - a) / (b - a), 0.0), 1.0)
    return u * u * (3 - 2 * u)


def lerp(a, b, u):
    return a + (b - a) * u


def lerp_pt(p, q, u):
    return (lerp(p[0], q[0], u), lerp(p[1], q[1], u))


# ---------------------------------------------------------------- subjects

def opening(f):
    """A big five-pointed star grows, turns slowly and shrinks away; a ball drifts through it.

    Its first ring at 2.039 s becomes the mask of the masked stretch."""
    grow = smoothstep(0, 45, f) * (1 - 0.8 * smoothstep(178, 199, f))
    size = lerp(0.15, 1.0, grow) * (1 + 0.03 * math.sin(2 * math.pi * f / 60))
    turn = math.radians(0.3 * f) + (1 - grow) * 1.2
    frame = star((CX, CY), 1650 * size, 760 * size, turn)
    reach = lerp(0.3, 1.0, grow)
    ball_c = (CX + 950 * reach * math.sin(2 * math.pi * f / 130),
              CY + 650 * reach * math.sin(2 * math.pi * f / 87 + 1))
    ball = circle(ball_c, 260 * reach, 20, phase=0.05 * f)
    inner = star((CX, CY), 420 * size, 300 * size, -turn * 2, tips=5)
    return [frame, ball, inner]


def two_bone(root, target, l1, l2, outward):
    """Joint and end of a two-segment limb reaching from root towards target.

    Of the two possible joints the one further to the side given by outward
    (-1 left, +1 right) is taken, so elbows and knees never fold across the body."""
    dx, dy = target[0] - root[0], target[1] - root[1]
    d = math.hypot(dx, dy)
    d = min(max(d, abs(l1 - l2) + 1.0), l1 + l2 - 1.0)
    ux, uy = (dx / d, dy / d) if d > 0 else (0.0, 1.0)
    cos_a = (l1 * l1 + d * d - l2 * l2) / (2 * l1 * d)
    joints = []
    for bend in (1, -1):
        a = bend * math.acos(min(max(cos_a, -1.0), 1.0))
        joints.append((root[0] + l1 * (ux * math.cos(a) - uy * math.sin(a)),
                       root[1] + l1 * (ux * math.sin(a) + uy * math.cos(a))))
    joint = max(joints, key=lambda j: outward * j[0])
    end = (root[0] + ux * d, root[1] + uy * d)
    return joint, end


TORSO, HEAD_R, NECK_GAP, SHOULDER_DROP = 700.0, 175.0, 225.0, 110.0
UPPER_ARM, FOREARM, THIGH, SHIN = 380.0, 360.0, 480.0, 470.0


def pose_neutral(f):
    return {"px": CX, "py": 2860.0, "lean": 0.0,
            "hand_a": (-300.0, 620.0), "hand_b": (300.0, 620.0),
            "foot_a": (CX - 200, FLOOR_Y), "foot_b": (CX + 200, FLOOR_Y), "spin": 0.0}


def pose_groove(f):
    w = 2 * math.pi * f / 50
    bounce = 0.5 - 0.5 * math.cos(2 * math.pi * f / 12.5)
    pump = 0.5 + 0.5 * math.sin(2 * math.pi * f / 25)
    return {"px": CX + 150 * math.sin(w), "py": 2840 + 90 * bounce, "lean": 7 * math.sin(w),
            "hand_a": lerp_pt((-380.0, 200.0), (-430.0, -520.0), pump),
            "hand_b": lerp_pt((380.0, 200.0), (430.0, -520.0), 1 - pump),
            "foot_a": (CX - 260, FLOOR_Y), "foot_b": (CX + 260, FLOOR_Y), "spin": 0.0}


def pose_disco(f):
    step = math.sin(2 * math.pi * f / 50)
    px = CX + 320 * step
    lift_a = max(0.0, math.cos(2 * math.pi * f / 50)) * 130
    lift_b = max(0.0, -math.cos(2 * math.pi * f / 50)) * 130
    point = 0.5 - 0.5 * math.cos(2 * math.pi * f / 25)
    return {"px": px, "py": 2850 + 40 * abs(step), "lean": -6 + 4 * point,
            "hand_a": lerp_pt((-330.0, 560.0), (-260.0, 700.0), point),
            "hand_b": lerp_pt((560.0, -560.0), (-360.0, 480.0), point),
            "foot_a": (px - 240, FLOOR_Y - lift_a), "foot_b": (px + 240, FLOOR_Y - lift_b), "spin": 0.0}


def pose_jacks(f):
    u = (f % 25) / 25.0
    air = math.sin(math.pi * u)
    jump = 4 * u * (1 - u) * 240
    spin = smoothstep(640, 660, f) * (1 - smoothstep(735, 749, f)) * 2 * math.pi * (f - 640) / 95
    return {"px": CX, "py": 2860 - jump, "lean": 0.0,
            "hand_a": lerp_pt((-320.0, 600.0), (-260.0, -640.0), air),
            "hand_b": lerp_pt((320.0, 600.0), (260.0, -640.0), air),
            "foot_a": (CX - 200 - 230 * air, FLOOR_Y - 0.85 * jump),
            "foot_b": (CX + 200 + 230 * air, FLOOR_Y - 0.85 * jump), "spin": spin}


def blend_pose(p, q, u):
    out = {}
    for key in p:
        if isinstance(p[key], tuple):
            out[key] = lerp_pt(p[key], q[key], u)
        else:
            out[key] = lerp(p[key], q[key], u)
    return out


def dance_pose(f):
    # Three moves of 250 frames each, cross-faded so that the parts join
    # without a jump, starting and ending in the neutral stance so the whole
    # dance loops.
    moves = [(0, pose_groove), (250, pose_disco), (500, pose_jacks)]
    pose = pose_groove(f)
    for start, move in moves[1:]:
        pose = blend_pose(pose, move(f), smoothstep(start - 10, start + 10, f))
    pose = blend_pose(pose_neutral(f), pose, smoothstep(0, 12, f))
    return blend_pose(pose, pose_neutral(f), smoothstep(737, 749, f))


def dancer(f):
    p = dance_pose(f)
    pelvis = (p["px"], p["py"])
    lean = math.radians(p["lean"])
    neck = (pelvis[0] + TORSO * math.sin(lean), pelvis[1] - TORSO * math.cos(lean))
    head_c = (neck[0] + NECK_GAP * math.sin(lean), neck[1] - NECK_GAP * math.cos(lean))
    shoulder = (neck[0] - SHOULDER_DROP * math.sin(lean), neck[1] + SHOULDER_DROP * math.cos(lean))
    hand_a_t = (neck[0] + p["hand_a"][0], neck[1] + p["hand_a"][1])
    hand_b_t = (neck[0] + p["hand_b"][0], neck[1] + p["hand_b"][1])
    elbow_a, hand_a = two_bone(shoulder, hand_a_t, UPPER_ARM, FOREARM, -1)
    elbow_b, hand_b = two_bone(shoulder, hand_b_t, UPPER_ARM, FOREARM, +1)
    knee_a, foot_a = two_bone(pelvis, p["foot_a"], THIGH, SHIN, -1)
    knee_b, foot_b = two_bone(pelvis, p["foot_b"], THIGH, SHIN, +1)
    toe_a = (foot_a[0] - 130, foot_a[1])
    toe_b = (foot_b[0] + 130, foot_b[1])
    # One closed walk over the whole skeleton, out and back along each limb;
    # the closing stroke runs from the pelvis back up to the neck.
    body = [neck, shoulder, elbow_a, hand_a, elbow_a, shoulder, elbow_b, hand_b, elbow_b, shoulder,
            pelvis, knee_a, foot_a, toe_a, foot_a, knee_a, pelvis,
            knee_b, foot_b, toe_b, foot_b, knee_b]
    spin = math.cos(p["spin"])
    if spin != 1.0:
        body = scale_about(body, spin, 1.0, centre=(p["px"], 0.0))
    head = circle(head_c, HEAD_R, 14)
    # Posed at a comfortable size, then enlarged about the floor to fill the picture.
    return [scale_about(ring, 1.2, 1.2, centre=(CX, FLOOR_Y)) for ring in (head, body)]


def heart_star(f):
    """Heart beats, morphs into a spinning star and back (two parts of 125 frames)."""
    count = 40
    centre = (CX, CY - 60)

    def beating_heart(g):
        beat = math.exp(-((g % 25) / 4.0) ** 2) + 0.5 * math.exp(-(((g % 25) - 7) / 3.0) ** 2)
        return heart(centre, 70 * (1 + 0.08 * beat), count)

    def spinning_star(g):
        turn = 2 * math.pi * (g - 70) / 110
        s = resample_ring(star(centre, 1350, 570, 0.0), count)
        return [rotate(pt, turn, centre) for pt in s]

    if f <= 25 or f >= 224:
        outer = beating_heart(f)
    elif 70 <= f <= 180:
        outer = spinning_star(f)
    elif f < 70:  # only keys at 25 and 70: the tweens make the morph
        outer = beating_heart(25)
    else:
        outer = beating_heart(224)
    inner = [rotate(pt, -0.8 * math.sin(2 * math.pi * f / 250), centre)
             for pt in scale_about(outer, 0.42, 0.42, centre=centre)]
    return [outer, inner]


def heart_star_keys(total):
    keys = set(range(0, 26, 2)) | set(range(70, 181, 2)) | set(range(224, total, 2))
    keys |= {25, 70, 180, 224, total - 1}
    return keys


CUBE_VERTS = [(-1, -1, -1), (1, -1, -1), (1, 1, -1), (-1, 1, -1),
              (-1, -1, 1), (1, -1, 1), (1, 1, 1), (-1, 1, 1)]
# A closed walk over all twelve edges; four of them are travelled twice
# since every corner has three edges.
CUBE_WALK = [0, 1, 2, 3, 0, 4, 5, 1, 5, 6, 2, 6, 7, 3, 7, 4]


def cube(f):
    half, dist = 560.0, 3600.0
    yaw = 2 * math.pi * 2 * f / 300
    pitch = 2 * math.pi * f / 300 + 0.45
    roll = 0.35 * math.sin(2 * math.pi * f / 300)
    pts = []
    for x, y, z in CUBE_VERTS:
        x, y, z = x * half, y * half, z * half
        x, z = x * math.cos(yaw) + z * math.sin(yaw), -x * math.sin(yaw) + z * math.cos(yaw)
        y, z = y * math.cos(pitch) - z * math.sin(pitch), y * math.sin(pitch) + z * math.cos(pitch)
        x, y = x * math.cos(roll) - y * math.sin(roll), x * math.sin(roll) + y * math.cos(roll)
        k = dist / (dist + z)
        pts.append((CX + x * k, CY + y * k))
    return [[pts[i] for i in CUBE_WALK]]


def bouncing_ring(f):
    """A ball bounces from left to right over a floor, squashing at each landing.

    Played backwards it bounces from right to left, which looks just as right."""
    period, height, radius = 50.0, 1900.0, 300.0
    u = (f % period) / period
    lift = 4 * u * (1 - u) * height
    near = min(f % period, period - f % period)  # frames from the nearest landing
    squash = 0.22 * max(0.0, 1 - near / 3.0)
    rx, ry = radius * (1 + squash), radius * (1 - squash)
    cx = 700 + 2700 * f / 149
    cy = FLOOR_Y - 20 - ry - lift
    ring = circle((cx, cy), 1.0, 24, phase=0.12 * f, rx_scale=rx, ry_scale=ry)
    floor = [(250.0, FLOOR_Y), (3850.0, FLOOR_Y)]
    shade = 1.0 - 0.6 * lift / height
    shadow = circle((cx, FLOOR_Y + 60), 1.0, 10, rx_scale=380 * shade, ry_scale=40 * shade)
    return [ring, floor, shadow]


def logo(f):
    """A hexagon badge with a prism splitting a beam; it spins in, then pulses."""
    spin = math.cos(2 * math.pi * smoothstep(0, 80, f)) if f < 80 else 1.0
    turn = math.radians(30) * smoothstep(80, 199, f)
    pulse = 1 + 0.12 * math.sin(2 * math.pi * max(0, f - 80) / 40)
    centre = (CX, CY)
    hexagon = [rotate((CX + 1250 * math.sin(math.pi * k / 3), CY - 1250 * math.cos(math.pi * k / 3)),
                      turn, centre) for k in range(6)]
    tri = [(CX, CY - 520), (CX + 450, CY + 260), (CX - 450, CY + 260)]
    beam = [(CX - 1000, CY + 120), (CX - 230, CY - 20)]
    exit_pt = (CX + 230, CY - 20)
    rays = []
    for k, a in enumerate((-0.32, 0.0, 0.32)):
        length = 720 * pulse * (1 + 0.1 * math.sin(2 * math.pi * f / 20 + k))
        rays += [exit_pt, (exit_pt[0] + length * math.cos(a), exit_pt[1] + length * math.sin(a) + 80)]
    shapes = [hexagon, tri, beam, rays]
    return [scale_about(s, spin, 1.0) for s in shapes]


# ---------------------------------------------------------------- encoding

def every(step, total):
    return set(range(0, total, step)) | {total - 1}


SCENES = [
    # base name, shape function, frames, key frames, split lengths
    ("1A", opening, 200, every(4, 200), [200]),
    ("2B", dancer, 750, every(2, 750), [250, 250, 250]),
    ("3C", heart_star, 250, heart_star_keys(250), [125, 125]),
    ("4D", cube, 300, every(3, 300), [300]),
    ("5E", bouncing_ring, 150, every(2, 150), [150]),
    ("6F", logo, 200, every(4, 200), [200]),
]


def grid_rings(rings, name, frame):
    out = []
    for ring in rings:
        g = [to_grid(p) for p in ring]
        # A stored last point equal to the first would make the tweens skip
        # their closing point and the outlines keep it: the frames would no
        # longer share a structure and could not be blended.
        if len(g) < 2 or g[-1] == g[0]:
            raise ValueError(f"scene {name} frame {frame}: ring starts where it ends")
        out.append(g)
    return out


def encode_scene(name, shape, total, keys):
    keys = sorted(keys)
    key_rings = {k: grid_rings(shape(k), name, k) for k in keys}
    # First pass: where every frame's command list starts and where each
    # outline command of a key frame sits, so tweens can point forwards.
    offsets, outline_pos, pos = [], {}, 0
    prev_key = {}
    next_key = {}
    ki = 0
    for fr in range(total):
        while keys[ki] < fr:
            ki += 1
        if keys[ki] == fr:
            offsets.append(pos)
            positions, p = [], pos + 1
            for ring in key_rings[fr]:
                positions.append(p)
                p += 2 + 2 * len(ring)
            outline_pos[fr] = positions
            pos = p
        else:
            prev_key[fr], next_key[fr] = keys[ki - 1], keys[ki]
            a, b = key_rings[keys[ki - 1]], key_rings[keys[ki]]
            if len(a) != len(b) or any(len(x) != len(y) for x, y in zip(a, b)):
                raise ValueError(f"scene {name}: keys {keys[ki - 1]} and {keys[ki]} differ in structure")
            offsets.append(pos)
            pos += 1 + 7 * len(a)
    data = []
    lines = []
    for fr in range(total):
        start = len(data)
        assert start == offsets[fr]
        if fr in key_rings:
            data.append(len(key_rings[fr]))
            for idx, ring in enumerate(key_rings[fr]):
                data += [OUTLINE_CODE | (idx & 0xF), len(ring)]
                for row, col in ring:
                    data += [row, col]
        else:
            a, b = prev_key[fr], next_key[fr]
            data.append(len(key_rings[a]))
            for idx in range(len(key_rings[a])):
                i = len(data)
                back = (i + 1) - outline_pos[a][idx]
                ahead = outline_pos[b][idx] - (i + 1)
                assert back > 0 and ahead > 0
                data += [TWEEN_CODES[idx % len(TWEEN_CODES)], back // 256, back % 256,
                         ahead // 256, ahead % 256, fr - a, b - a]
        lines.append(data[start:])
    return offsets, lines


def scene_json(offsets, lines):
    # One frame's command list per line keeps the files readable and diffable.
    body = ",\n".join(", ".join(str(v) for v in line) for line in lines)
    return '{\n"indices": [' + ", ".join(str(o) for o in offsets) + '],\n"data": [\n' + body + "\n]\n}\n"


# ---------------------------------------------------------------- the show

# (start ms, base name, part, from, to) or (start ms, "scene") / (start ms, "options", [names]).
# Comments name the effect that the show timeline runs over each stretch.
SEQUENCE = [
    (0, "scene", "opening"),
    (0, "1A", 0, 0, 199),            # blue, then the mask from 2.04 s (its outline is this star)
    (7400, "2B", 0, 0, 249),         # overlaps the star for 0.6 s; plain blue from 7.72 s
    (17400, "options", ["flip_horizontal"]),
    (17400, "2B", 1, 0, 249),        # mirrored disco; the titles and the tunnel draw over it
    (27400, "scene", "ball"),
    (27400, "5E", 0, 0, 149),
    (33400, "4D", 0, 0, 299),        # rings of colour over the turning cube
    (45400, "3C", 0, 0, 124),        # heart to star inside the audio circle
    (50400, "3C", 1, 0, 124),
    (55400, "3C", 0, 0, 64),
    (58000, "5E", 0, 0, 149),        # the waveform is cut around the ball
    (64000, "5E", 0, 149, 0),        # ... and the ball bounces back
    (70000, "6F", 0, 0, 199),        # the logo spins in
    (78000, "options", ["flip_horizontal", "flip_vertical"]),
    (78000, "5E", 0, 0, 149),        # upside-down ball on the ceiling
    (84000, "scene", "dance"),
    (84000, "2B", 2, 0, 249),        # jumping jacks and a spin
    (94000, "4D", 0, 0, 299),
    (106000, "3C", 1, 124, 0),       # morph played backwards under the disturbance
    (111000, "6F", 0, 0, 199),
    (119000, "options", ["flip_vertical"]),
    (119000, "5E", 0, 0, 149),
    (125000, "5E", 0, 149, 0),
    (131000, "scene", "stars"),
    (131000, "1A", 0, 40, 199),
    (137400, "3C", 0, 0, 124),
    (142400, "2B", 0, 0, 249),       # plasma colours over the dance
    (147000, "options", ["flip_vertical"]),
    (147000, "5E", 0, 0, 149),       # a ball bouncing on the ceiling above the dancer
    (152400, "scene", "dance"),
    (152400, "2B", 1, 0, 249),
    (162400, "4D", 0, 0, 299),
    (174400, "3C", 0, 0, 124),
    (179400, "options", ["flip_horizontal"]),
    (179400, "2B", 2, 0, 249),
    (189400, "scene", "dance"),
    (189400, "2B", 0, 0, 249),
    (199400, "5E", 0, 0, 149),
    (205400, "4D", 0, 0, 299),
    (217400, "1A", 0, 100, 199),
    (221400, "6F", 0, 0, 199),       # the logo closes the show under the waveform
    (229400, "5E", 0, 0, 74),
]

# (show frame, clock frame) at 60 per second, counted from 1. Clock 60 s to
# 80 s is bent: the show runs at 0.9 speed for 10 s, then at 1.1 speed back
# into step. Both columns rise, so the map stays monotonic.
REMAP = [(1, 1), (3601, 3601), (4141, 4201), (4801, 4801)]


def sequence_text():
    out = []
    for item in SEQUENCE:
        start = item[0]
        if item[1] == "scene":
            out.append(f"{start} ('scene', {{'name': '{item[2]}'}})")
        elif item[1] == "options":
            names = ", ".join(f"'{n}'" for n in item[2])
            out.append(f"{start} ('scene_options', [{names}])")
        else:
            _, base, part, first, last = item
            out.append(f"{start} ('anim', {{'name': '{base}-{part}', 'from': {first}, 'to': {last}}})")
    return "\n".join(out) + "\n"


def split_map_text():
    entries = [f'"{name}": [' + ", ".join(str(n) for n in parts) + "]"
               for name, _, _, _, parts in SCENES]
    return "{\n" + ",\n".join(entries) + "\n}\n"


def remap_text():
    return "".join(f"{a} {b}\n" for a, b in REMAP)


def build_files():
    """All output files as {file name: text}."""
    files = {}
    for name, shape, total, keys, parts in SCENES:
        assert sum(parts) == total, name
        offsets, lines = encode_scene(name, shape, total, keys)
        files[f"script{name}.json"] = scene_json(offsets, lines)
    files["split_map.json"] = split_map_text()
    files["Sequence.txt"] = sequence_text()
    files["remap.txt"] = remap_text()
    return files


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(os.path.dirname(here))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(repo, "data"), help="output folder (default: data/)")
    ap.add_argument("--check", action="store_true", help="re-read the output and print a summary")
    ap.add_argument("--render", metavar="PNG", help="with --check: also write a contact sheet")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    files = build_files()
    for fname, text in sorted(files.items()):
        with open(os.path.join(args.out, fname), "w", encoding="ascii", newline="\n") as fh:
            fh.write(text)
    print(f"wrote {len(files)} files to {args.out}")
    if args.check:
        sys.path.insert(0, here)
        import check_demo_show
        return check_demo_show.run(args.out, render=args.render)
    return 0


if __name__ == "__main__":
    sys.exit(main())
