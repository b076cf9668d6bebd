#!/usr/bin/env python3
"""Turns Google Benchmark JSON output into the report's Markdown tables.

usage: summarise.py timeline BENCH.json   (laser frame cost per timeline entry)
       summarise.py load BENCH.json       (data load time and its growth)
Prints the table; the last line of `timeline` is 'WORST <microseconds> <name>'.
"""
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


if __name__ == "__main__":
    {"timeline": timeline, "load": load}[sys.argv[1]](sys.argv[2])
