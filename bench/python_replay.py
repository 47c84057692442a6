#!/usr/bin/python3
"""Time and memory of vlmstruct.replay (or analyze) on a bar file, beside what reading it takes.

    /usr/bin/time -v /usr/bin/python3 bench/python_replay.py BARS [replay|analyze|read] [BUILD_DIR]

BARS is a bar file, e.g. one made by `tools/make_sample_bars.py intraday /tmp/bars.csv 4167`
(about 1,000,000 one-minute bars). Reads it with vlmstruct.read_bars, then runs the face once and
prints the bars, the seconds the call took, the resident memory after reading, the peak resident
memory of the whole run (as `time -v` reports it) and the peak beyond the read frame per bar, and
the result's own size per bar. `read` stops after reading: its peak is the baseline of the file.
"""
import os
import resource
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def main(path, face="replay", build=ROOT / "build" / "default"):
    sys.path.insert(0, str(Path(build).resolve() / "python"))
    import vlmstruct

    start = time.perf_counter()
    df = vlmstruct.read_bars(path)
    read_seconds = time.perf_counter() - start
    after_read = resident_bytes()
    n = len(df)
    print(f"bars                 {n:,}")
    print(f"read_bars            {read_seconds:.2f} s, resident after {after_read / 2**20:.0f} MiB")
    if face == "read":
        return
    start = time.perf_counter()
    result = vlmstruct.replay(df) if face == "replay" else vlmstruct.analyze(df)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    frames = [r for r in result if hasattr(r, "memory_usage")]
    own = sum(int(f.memory_usage(deep=True, index=False).sum()) for f in frames)
    print(f"{face:<20} {seconds:.2f} s")
    print(f"peak resident        {peak / 2**20:.0f} MiB, {(peak - after_read) / n:.0f} bytes per bar beyond the read frame")
    print(f"result frames        {own / 2**20:.0f} MiB, {own / n:.0f} bytes per bar"
          + "".join(f"; {len(f):,} rows" for f in frames))


if __name__ == "__main__":
    main(*sys.argv[1:])
