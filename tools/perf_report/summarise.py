#!/usr/bin/env python3
"""Turns Google Benchmark JSON output into the report's Markdown tables.

usage: summarise.py timeline BENCH.json   (laser frame cost per timeline entry)
       summarise.py load BENCH.json       (data load time and its growth)
       summarise.py pipeline DIR          (the frame pipeline before and after; DIR holds
                                           before_N.json, after_N.json, allocs.md, renders.txt
                                           and laser_cpu.txt)
       summarise.py renders BEFORE_DIR AFTER_DIR   (compares N.json renders sample by sample)
Prints the table; the last line of `timeline` is 'WORST <microseconds> <name>'.
"""
import glob
import os
import json
import statistics
import sys
from collections import defaultdict


def runs(path):
    with open(path) as f:
        data = json.load(f)
    by_name = defaultdict(list)
    counters = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        name = b.get("run_name", b["name"])
        by_name[name].append(to_us(b["real_time"], b["time_unit"]))
        counters[name] = b
    return by_name, counters


def to_us(value, unit):
    return value * {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[unit]


def timeline(path):
    by_name, counters = runs(path)
    print("| entry | effect | samples | median µs | worst µs |")
    print("|---:|---|---:|---:|---:|")
    worst = (0.0, "")
    for name in sorted(by_name):
        times = by_name[name]
        entry, _, effect = name.split("/", 1)[1].partition("_")
        samples = int(counters[name].get("samples", 0))
        top = max(times)
        worst = max(worst, (top, name))
        print(f"| {int(entry)} | {effect} | {samples} | {statistics.median(times):.1f} | {top:.1f} |")
    print(f"WORST {worst[0]:.1f} {worst[1]}")


def load(path):
    by_name, counters = runs(path)
    print("| data | frames | median ms | ms per 1000 frames |")
    print("|---|---:|---:|---:|")
    for name in sorted(by_name, key=lambda n: int(n.split("/")[-1])):
        times = by_name[name]
        frames = counters[name].get("frames", 0)
        ms = statistics.median(times) / 1000.0
        per = ms / frames * 1000.0 if frames else 0.0
        print(f"| demo show × {name.split('/')[-1]} | {int(frames)} | {ms:.1f} | {per:.2f} |")


def medians(paths):
    """Per benchmark name: (median real µs, median CPU µs, last counters) over the files."""
    times = defaultdict(list)
    last = {}
    for path in paths:
        with open(path) as f:
            for b in json.load(f)["benchmarks"]:
                if b.get("run_type") != "iteration" or b.get("error_occurred"):
                    continue
                times[b["name"]].append((to_us(b["real_time"], b["time_unit"]),
                                         to_us(b["cpu_time"], b["time_unit"])))
                last[b["name"]] = b
    return {n: (statistics.median(t[0] for t in v), statistics.median(t[1] for t in v), last[n])
            for n, v in times.items()}


def verdict(ok):
    return "met" if ok else "missed"


def pipeline(directory):
    before = medians(sorted(glob.glob(os.path.join(directory, "before_*.json"))))
    after = medians(sorted(glob.glob(os.path.join(directory, "after_*.json"))))
    rounds = len(glob.glob(os.path.join(directory, "after_*.json")))
    frames = lambda m: {n: v for n, v in m.items() if n.startswith("LaserFrame/")}
    fb, fa = frames(before), frames(after)
    worst = lambda m, i: max(m.items(), key=lambda kv: kv[1][i])
    med = lambda m, i: statistics.median(v[i] for v in m.values())
    # The counter is stored as seconds per sample.
    per_sample = lambda name: after[name][2]["ns_per_sample"] * 1e9 if name in after else float("nan")

    rows = []
    for label, name in (("the demo show's 120 drawn frames", "BM_PathBuilderDemoShow/original:{}"),
                        ("40 circles of 64 points", "BM_PathBuilderCircles/circles:40/original:{}")):
        old, new = per_sample(name.format(1)), per_sample(name.format(0))
        rows.append(f"| path builder ≥ 2× the original, byte-identical: {label}, CPU ns per sample "
                    f"| {old:.1f} | {new:.1f} ({old / new:.2f}×) | {verdict(old / new >= 2.0)} |")
    wb_r, wa_r = worst(fb, 0), worst(fa, 0)
    wb_c, wa_c = worst(fb, 1), worst(fa, 1)
    short = lambda n: n.split("/", 1)[1]
    rows.append(f"| worst timeline entry ≤ 40 µs per laser frame, wall | {wb_r[1][0]:.1f} "
                f"({short(wb_r[0])}) | {wa_r[1][0]:.1f} ({short(wa_r[0])}) | "
                f"{verdict(wa_r[1][0] <= 40.0)} |")
    rows.append(f"| the same, CPU time | {wb_c[1][1]:.1f} ({short(wb_c[0])}) | {wa_c[1][1]:.1f} "
                f"({short(wa_c[0])}) | {verdict(wa_c[1][1] <= 40.0)} |")
    rows.append(f"| median timeline entry, wall / CPU µs | {med(fb, 0):.1f} / {med(fb, 1):.1f} | "
                f"{med(fa, 0):.1f} / {med(fa, 1):.1f} | |")
    clip_b = before.get("BM_ClipPolylineToMask", (float("nan"),) * 2)[0] / 1000.0
    clip_a = after.get("BM_ClipPolylineToMask", (float("nan"),) * 2)[0] / 1000.0
    clip_p = after.get("BM_ClipPolylineToMaskPrepared", (float("nan"),) * 2)[0] / 1000.0
    rows.append(f"| clip 2,000 points against a 200-point mask ≤ 0.25 ms (mask as points / "
                f"prepared) | {clip_b:.3f} | {clip_a:.3f} / {clip_p:.3f} | {verdict(clip_a <= 0.25)} |")

    allocs = open(os.path.join(directory, "allocs.md")).read()
    summary = [line for line in allocs.splitlines() if line.startswith("fresh frames:")]
    status = [line for line in allocs.splitlines() if line.startswith("laser status line:")]
    table = [line for line in allocs.splitlines() if line.startswith("| ") and line[2].isdigit()]
    steady = [int(line.split("|")[5]) for line in table]
    fresh = sorted(float(line.split("|")[3]) for line in table)
    status_count = int(status[0].split(":")[1].split()[0]) if status else -1
    rows.append(f"| 0 heap allocations per frame in steady state, all 120 entries | "
                f"{statistics.median(fresh):.1f} per frame (fresh frames, median) | worst steady "
                f"frame {max(steady)}; {sum(1 for n in steady if n)} entries allocate; status line "
                f"{status_count} in 100 | {verdict(max(steady) == 0 and status_count == 0)} |")
    cpu = open(os.path.join(directory, "laser_cpu.txt")).read().strip() or "?"
    try:
        ok = verdict(float(cpu) <= 1.0)
    except ValueError:
        ok = "not measured"
    rows.append(f"| laser-mode CPU ≤ 1 % of a core at 30000 samples/s (`lumarok-laser-measure`) | | {cpu} % | {ok} |")

    print(f"Medians of {rounds} alternating runs of each build.\n")
    print("| goal | before | after | verdict |\n|---|---:|---:|---|")
    print("\n".join(rows))
    print("\nThe ten entries that cost most before (µs per laser frame, median wall / CPU):\n")
    print("| entry | before | after |\n|---|---:|---:|")
    for name, (real, cpu_us, _) in sorted(fb.items(), key=lambda kv: -kv[1][0])[:10]:
        new = fa.get(name, (float("nan"), float("nan")))
        print(f"| {short(name)} | {real:.1f} / {cpu_us:.1f} | {new[0]:.1f} / {new[1]:.1f} |")
    print("\nThe ten entries that cost most after:\n")
    print("| entry | samples | wall µs | CPU µs |\n|---|---:|---:|---:|")
    for name, (real, cpu_us, b) in sorted(fa.items(), key=lambda kv: -kv[1][1])[:10]:
        print(f"| {short(name)} | {int(b.get('samples', 0))} | {real:.1f} | {cpu_us:.1f} |")
    print("\nHeap allocations per frame (`lumarok_frame_allocs`): " + " ".join(summary + status) + ".")
    renders = os.path.join(directory, "renders.txt")
    if os.path.exists(renders):
        print("\n" + open(renders).read().strip())


def renders(before_dir, after_dir):
    same, changed = 0, []
    names = sorted(glob.glob(os.path.join(after_dir, "*.json")),
                   key=lambda p: int(os.path.basename(p).split(".")[0]))
    for path in names:
        index = os.path.basename(path).split(".")[0]
        with open(path) as f:
            new = json.load(f)["samples"]
        with open(os.path.join(before_dir, os.path.basename(path))) as f:
            old = json.load(f)["samples"]
        if new == old:
            same += 1
            continue
        if len(new) != len(old):
            changed.append(f"{index} ({len(old)} → {len(new)} samples)")
            continue
        differing = [(a, b) for a, b in zip(old, new) if a != b]
        largest = max(abs(a[k] - b[k]) for a, b in differing for k in a)
        changed.append((index, len(differing), len(new), largest))
    text = f"Renders of the demo show at 0.1 s after each entry's start: {same} of {len(names)} identical"
    grown = [c for c in changed if isinstance(c, str)]
    moved = [c for c in changed if not isinstance(c, str)]
    if moved:
        text += (f"; in {len(moved)} entries ({', '.join(c[0] for c in moved)}) at most "
                 f"{max(c[1] for c in moved)} samples of a frame differ, by at most "
                 f"{max(c[3] for c in moved)} (projector unit or colour step)")
    if grown:
        text += f"; sample counts changed in {', '.join(grown)}"
    print(text + ".")


if __name__ == "__main__":
    {"timeline": timeline, "load": load, "pipeline": pipeline,
     "renders": renders}[sys.argv[1]](*sys.argv[2:])
