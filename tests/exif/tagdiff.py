#!/usr/bin/python3
"""Prints the tags that differ between two `exiftool -a -G1 -s -n -j` dumps,
one per line: "+Group:Tag", "-Group:Tag" or "~Group:Tag". File-system and
composite values are left out; numbers equal within a relative 1e-6 (the
library keeps rationals as single-precision quotients) count as equal."""
import json
import sys

IGNORED_GROUPS = {"System", "ExifTool", "Composite"}
IGNORED_TAGS = {"File:FileSize"}


def load(p):
    with open(p) as f:
        d = json.load(f)[0]
    return {k: v for k, v in d.items()
            if k.split(":")[0] not in IGNORED_GROUPS and k not in IGNORED_TAGS and k != "SourceFile"}


def same(a, b):
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return abs(a - b) <= 1e-6 * max(1.0, abs(a), abs(b))
    if isinstance(a, str) and isinstance(b, str):
        pa, pb = a.split(), b.split()
        if len(pa) == len(pb) and len(pa) > 1:
            try:
                return all(same(float(x), float(y)) for x, y in zip(pa, pb))
            except ValueError:
                pass
    return a == b


before, after = load(sys.argv[1]), load(sys.argv[2])
for k in sorted(set(before) | set(after)):
    if k not in after:
        print("-" + k)
    elif k not in before:
        print("+" + k)
    elif not same(before[k], after[k]):
        print("~" + k)
