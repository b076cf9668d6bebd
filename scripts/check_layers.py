#!/usr/bin/env python3
"""Checks that every include between folders of src/ points down the frame's road.

The folders, lowest first; a file may include from its own folder and those before it.
Prints every include that points up, and the project headers a file pulls in (with
--closure FILE). Exits non-zero when one points up.
"""
import os
import re
import sys

ORDER = ["core", "net", "audio", "clock", "anim", "effects", "show", "laser", "output",
         "status", "preview", "export", "app"]
INCLUDE = re.compile(r'#include "([a-z_]+)/([a-z_0-9]+\.hpp)"')


def includes(src, path):
    with open(os.path.join(src, path), encoding="utf-8") as f:
        return [m.group(1) + "/" + m.group(2) for m in INCLUDE.finditer(f.read())]


def closure(src, path):
    seen, todo = set(), [path]
    while todo:
        for inc in includes(src, todo.pop()):
            if inc not in seen and os.path.exists(os.path.join(src, inc)):
                seen.add(inc)
                todo.append(inc)
    return sorted(seen - {path.replace(".cpp", ".hpp")})


def main():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    if len(sys.argv) == 3 and sys.argv[1] == "--closure":
        headers = closure(src, sys.argv[2])
        print("\n".join(headers))
        print(f"{len(headers)} project headers")
        return 0
    upward = 0
    for folder in sorted(os.listdir(src)):
        if folder not in ORDER:
            print(f"src/{folder}: not a known folder (add it to ORDER)")
            upward += 1
            continue
        for name in sorted(os.listdir(os.path.join(src, folder))):
            for inc in includes(src, f"{folder}/{name}"):
                other = inc.split("/")[0]
                if other not in ORDER or ORDER.index(other) > ORDER.index(folder):
                    print(f"src/{folder}/{name} includes {inc}: up the road")
                    upward += 1
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main())
