#!/usr/bin/env python3
"""Prints Google Benchmark JSON (stdin) as one table in ns per bar."""
import json
import sys

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

report = json.load(sys.stdin)
rows = {}
sizes = []
for b in report["benchmarks"]:
    if b.get("run_type") == "aggregate":
        continue
    name, size = b["name"].rsplit("/", 1)
    size = int(size)
    if size not in sizes:
        sizes.append(size)
    rows.setdefault(name, {})[size] = b["real_time"] * SCALE[b["time_unit"]] / b["bars"]
sizes.sort()
print("ns per bar".ljust(24) + "".join(f"{s:>14,}" for s in sizes))
for name, cells in rows.items():
    print(name.ljust(24) + "".join(f"{cells[s]:>14.2f}" if s in cells else " " * 14 for s in sizes))
