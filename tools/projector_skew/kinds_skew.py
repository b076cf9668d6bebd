#!/usr/bin/env python3
"""Skew between projector kinds: a LaserCube, an Ether Dream and an IDN unit, virtual,
played one show side by side.

Run it as root (it makes two network namespaces, joined by a veth pair in
10.213.0.0/24, and removes them); the build folder is the first argument:

    sudo tools/projector_skew/kinds_skew.py build/release [SECONDS]

The show is an ILDA file written here: a lit square and a dark frame, ten frames a
second, looped. Each virtual device logs the moment a lit sample plays after at least
5 ms of dark ones (the LaserCube's from its frame log and frame dump); the script pairs
those moments across the devices and prints mean, median, 95th percentile and worst
difference in milliseconds.
"""
import bisect
import json
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

RATE = 30000.0
PLAYER_NS, DEVICE_NS = "lrk-kinds-p", "lrk-kinds-d"


def run(command):
    subprocess.run(command, shell=True, check=True)


def make_namespaces():
    run(f"ip netns add {PLAYER_NS}")
    run(f"ip netns add {DEVICE_NS}")
    run(f"ip -n {PLAYER_NS} link add lrk0 type veth peer name lrk1 netns {DEVICE_NS}")
    for ns, dev, addr in ((PLAYER_NS, "lrk0", "10.213.0.1"), (DEVICE_NS, "lrk1", "10.213.0.2")):
        run(f"ip -n {ns} link set lo up")
        run(f"ip -n {ns} addr add {addr}/24 dev {dev}")
        run(f"ip -n {ns} link set {dev} up")
    run(f"ip -n {PLAYER_NS} route add default dev lrk0")


def inside(ns, argv, out):
    # The shell proves it is in the namespace before the program starts.
    check = f'test "$(ip netns identify)" = {ns} && exec "$@"'
    return subprocess.Popen(["ip", "netns", "exec", ns, "sh", "-c", check, "sh", *argv],
                            stdout=out, stderr=subprocess.STDOUT)


def write_show(path):
    def header(records, number, total):
        return (b"ILDA\0\0\0\x05" + b"skew".ljust(8, b"\0") + b"lumarok".ljust(8, b"\0") +
                struct.pack(">HHHBB", records, number, total, 0, 0))
    square = []
    for i in range(40):
        t = (i % 10) / 10
        square.append([(-8000 + 16000 * t, -8000), (8000, -8000 + 16000 * t),
                       (8000 - 16000 * t, 8000), (-8000, 8000 - 16000 * t)][i // 10])
    data = header(len(square), 0, 2)
    for k, (x, y) in enumerate(square):
        data += struct.pack(">hhBBBB", int(x), int(y), 0x80 if k == len(square) - 1 else 0,
                            255, 255, 255)
    data += header(1, 1, 2) + struct.pack(">hhBBBB", 0, 0, 0xC0, 0, 0, 0) + header(0, 2, 2)
    with open(path, "wb") as f:
        f.write(data)


def cube_starts(frame_log, dump):
    starts, dark = [], 0
    with open(frame_log) as log, open(dump) as frames:
        for line, frame in zip(log, frames):
            played = float(line.split()[4])
            for k, (_, _, r, g, b) in enumerate(json.loads(frame)["samples"]):
                lit = r or g or b
                if lit and dark >= RATE / 200:
                    starts.append(played + k / RATE)
                dark = 0 if lit else dark + 1
    return starts


def differences(a, b):
    out = []
    for t in a:
        j = bisect.bisect_left(b, t)
        near = [b[k] for k in (j - 1, j) if 0 <= k < len(b)]
        if near:
            d = min(near, key=lambda v: abs(v - t))
            if abs(d - t) < 0.05:
                out.append((t - d) * 1000)
    return out


def main():
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
    cube = os.path.join(build, "tools/lumarok_cube/lumarok-cube")
    with tempfile.TemporaryDirectory() as d:
        make_namespaces()
        try:
            show = os.path.join(d, "alt.ild")
            write_show(show)
            devnull = open(os.path.join(d, "output.txt"), "w")
            devices = [
                inside(DEVICE_NS, [cube, "--kind", "idn", "--lit-log", f"{d}/idn.log"], devnull),
                inside(DEVICE_NS, [cube, "--kind", "etherdream", "--lit-log", f"{d}/ed.log"],
                       devnull),
                inside(DEVICE_NS, [cube, "--frame-log", f"{d}/lc.log", "--dump", f"{d}/lc.dump",
                                   "--dump-frames", "1000000"], devnull),
            ]
            time.sleep(0.5)
            player = inside(PLAYER_NS, [os.path.join(build, "lumarok"), "-laser", "-i", "50",
                                        "--ilda", show, "--ilda-fps", "10", "--loop",
                                        "--projector", "idn:10.213.0.2", "--projector",
                                        "etherdream:10.213.0.2", "--projector", "10.213.0.2"],
                            devnull)
            time.sleep(seconds)
            player.terminate()
            player.wait(10)
            time.sleep(0.3)
            for device in devices:
                device.terminate()
                device.wait(10)
            if not os.path.exists(f"{d}/lc.log"):
                sys.exit(open(os.path.join(d, "output.txt")).read())
            lc = cube_starts(f"{d}/lc.log", f"{d}/lc.dump")
            ed = [float(x) for x in open(f"{d}/ed.log")]
            idn = [float(x) for x in open(f"{d}/idn.log")]
            print(f"lit starts: lasercube {len(lc)}, etherdream {len(ed)}, idn {len(idn)}")
            for name, a, b in (("etherdream - lasercube", ed, lc), ("idn - lasercube", idn, lc),
                               ("etherdream - idn", ed, idn)):
                s = differences(a, b)
                if not s:
                    print(f"{name}: no pairs")
                    continue
                m = sorted(abs(v) for v in s)
                print(f"{name}: {len(s)} pairs, mean {statistics.mean(s):.2f} ms, median |d| "
                      f"{statistics.median(m):.2f}, p95 {m[int(0.95 * (len(m) - 1))]:.2f}, "
                      f"worst {m[-1]:.2f} ms")
        finally:
            run(f"ip netns del {PLAYER_NS}")
            run(f"ip netns del {DEVICE_NS}")


if __name__ == "__main__":
    main()
