#!/usr/bin/env python3
"""The companion plug-in's functions against what each is held to, from
points_bench's Google Benchmark JSON (stdin):

    build/default/bench/points_bench --benchmark_filter=companion/ \\
        --benchmark_repetitions=5 --benchmark_format=json | /usr/bin/python3 bench/companion_ratios.py

Function 2 within 3 times the streaming engine alone, 1 and 7 within 2 times
analyze's trading points, 3 to 6 within 1.5 times the streaming engine. With
repetitions the medians are compared."""
import json
import sys

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
BASES = {"engine": "companion/engine", "points": "companion/analyze_points"}
TARGETS = {1: ("points", 2.0), 2: ("engine", 3.0), 3: ("engine", 1.5), 4: ("engine", 1.5),
           5: ("engine", 1.5), 6: ("engine", 1.5), 7: ("points", 2.0)}

report = json.load(sys.stdin)
times = {}
for b in report["benchmarks"]:
    repeated = b.get("run_type") == "aggregate"
    if repeated and b.get("aggregate_name") != "median":
        continue
    name = "/".join(b.get("run_name", b["name"]).split("/")[:2])  # companion/function2/1000000/min_time:...
    if repeated or name not in times:
        times[name] = b["cpu_time"] * SCALE[b["time_unit"]] / 1e6  # ms of processor time
print(f"{'':26}{'ms':>10}{'against':>26}{'ratio':>8}{'target':>8}")
for base, name in BASES.items():
    print(f"{name:26}{times[name]:10.1f}")
failed = 0
for number, (base, target) in TARGETS.items():
    name = f"companion/function{number}"
    ratio = times[name] / times[BASES[base]]
    failed += ratio > target
    print(f"{name:26}{times[name]:10.1f}{BASES[base]:>26}{ratio:8.2f}{target:8.1f}{'' if ratio <= target else '  over'}")
sys.exit(1 if failed else 0)
