#!/usr/bin/python3
"""Time and memory of vlmstruct.replay (or analyze, or a Stream's load) on a bar file, beside what
reading it takes.

    /usr/bin/time -v /usr/bin/python3 bench/python_replay.py BARS [replay|analyze|load|read] [BUILD_DIR]

BARS is a bar file, e.g. one made by `tools/make_sample_bars.py intraday /tmp/bars.csv 4167`
(about 1,000,000 one-minute bars). Reads it with vlmstruct.read_bars, then runs the face once and
prints the bars, the seconds the call took, the resident memory when the call starts (the reader's
freed memory handed back), the peak resident memory during the call and what it adds per bar, and
the result's own size per bar. `time -v` adds the peak of the whole run, reading included. `read` stops after reading: its peak is the baseline of the file.
"""
import os
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def status_bytes(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def start_peak():
    """Hands the reader's freed memory back and restarts the peak: what the call adds is then its own."""
    import ctypes

    ctypes.CDLL("libc.so.6").malloc_trim(0)
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets VmHWM to the current resident size
    return status_bytes("VmRSS")


def frame_bytes(frame):
    """The columns' arrays, and each Python object they hold counted once (memory_usage(deep=True)
    counts a string shared by many rows once per row)."""
    total, seen = 0, set()
    for name in frame.columns:
        values = frame[name].to_numpy()
        total += values.nbytes
        if values.dtype == object:
            for o in values:
                if id(o) not in seen:
                    seen.add(id(o))
                    total += sys.getsizeof(o)
    return total


def main(path, face="replay", build=ROOT / "build" / "default"):
    sys.path.insert(0, str(Path(build).resolve() / "python"))
    import vlmstruct

    start = time.perf_counter()
    df = vlmstruct.read_bars(path)
    read_seconds = time.perf_counter() - start
    after_read = start_peak()
    n = len(df)
    print(f"bars                 {n:,}")
    print(f"read_bars            {read_seconds:.2f} s, resident after {after_read / 2**20:.0f} MiB")
    if face == "read":
        return
    start = time.perf_counter()
    faces = {"replay": vlmstruct.replay, "analyze": vlmstruct.analyze,
             "load": lambda bars: (vlmstruct.Stream().load(bars),)}
    result = faces[face](df)
    seconds = time.perf_counter() - start
    peak = status_bytes("VmHWM")
    frames = [r for r in result if hasattr(r, "memory_usage")]
    own = sum(frame_bytes(f) for f in frames)
    print(f"{face:<20} {seconds:.2f} s")
    print(f"peak resident        {peak / 2**20:.0f} MiB during the call, {(peak - after_read) / n:.0f} bytes per bar "
          "beyond what was resident before it (interpreter, modules, the read frame)")
    print(f"result frames        {own / 2**20:.0f} MiB, {own / n:.0f} bytes per bar"
          + "".join(f"; {len(f):,} rows" for f in frames))


if __name__ == "__main__":
    main(*sys.argv[1:])
