#!/usr/bin/python3
"""The tools at scale, in one run: a random walk of BARS bars (default 1,000,000) and FILES files of
5,000 bars for the scan, then every stage and command timed with its peak memory.

    /usr/bin/python3 bench/tools_scale.py [BARS] [FILES] [BUILD_DIR]      (./run scale tools)

Prints a markdown table: wall and processor seconds (user + system), bars per second and peak
resident memory in bytes per bar, then the ratios the tools are held to. On a machine shared with
other work, processor seconds are the steadier measure; the ratios use them.
- engine: bench/tool_stages (the nine functions as a host calls them, the streaming engine, the
  replay with trading points, reading the file), best of three, in processor seconds;
- read floor: `cat FILE > /dev/null` with the file in the page cache;
- commands: `vlmstruct analyze -o --json`, `analyze --html`, `replay -o --events`, `evaluate -o --summary`,
  `scan -j 1` and `evaluate -j 1` over the files, each started by bench/measure_run (its peak memory is its maximum resident set), writing into a
  fresh folder, best of three;
- scan: `vlmstruct scan -j 1` over the 5,000-bar files, and bench/distributed_scan.py's timings
  (tool with 1 and 2 jobs, Dask with 1 and 2 workers);
- Python: vlmstruct.analyze and vlmstruct.replay on the file's DataFrame, imported from the build
  tree, each in a process of its own (the time is the call's; the memory is the process's peak
  up to the end of the call, DataFrame and pandas included), with what the process held before
  the call and the size of replay's result (its arrays and each distinct text once).
"""
import datetime
import json
import os
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))


def random_walk(path, bars, seed=1):
    """Minute bars, 240 a weekday, prices in cents as a random walk: about 51 bytes a bar."""
    rng = random.Random(seed)
    cents = 10000
    day = datetime.date(2000, 1, 3)
    lines = ["date,open,high,low,close,volume\n"]
    while len(lines) <= bars:
        if day.weekday() < 5:
            stamp = day.isoformat()
            for minute in range(min(240, bars + 1 - len(lines))):
                first = max(100, cents + rng.randint(-30, 30))
                cents = max(100, cents + rng.randint(-100, 100))
                high = max(first, cents) + rng.randint(0, 60)
                low = max(1, min(first, cents) - rng.randint(0, 60))
                t = 9 * 60 + 30 + minute
                lines.append(f"{stamp} {t // 60:02d}:{t % 60:02d},{first / 100:.2f},{high / 100:.2f},"
                             f"{low / 100:.2f},{cents / 100:.2f},{rng.randint(1, 2000000)}\n")
        day += datetime.timedelta(days=1)
    Path(path).write_text("".join(lines))


def run_child(measure, args):
    """(wall s, processor s, peak resident bytes, stdout) of one command, started by measure_run."""
    with tempfile.NamedTemporaryFile("r", suffix=".json") as result:
        done = subprocess.run([str(measure), result.name] + [str(a) for a in args], capture_output=True)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(map(str, args))} failed: {done.stderr.decode()}")
        usage = json.loads(Path(result.name).read_text())
    return usage["wall"], usage["cpu"], usage["peak_bytes"], done.stdout.decode()


def best(run, repeats=3):
    """The run of least processor time among `repeats`: other work on the machine only adds to it."""
    return min((run() for _ in range(repeats)), key=lambda r: r[1])


PYTHON_CALL = """
import sys, time, json, resource
sys.path.insert(0, sys.argv[1])
import numpy as np, pandas as pd, vlmstruct
df = pd.read_csv(sys.argv[2], index_col="date", parse_dates=True)
def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096
before = resident()
start = time.perf_counter(); cpu = time.process_time()
result = getattr(vlmstruct, sys.argv[3])(df)
took = {"wall": time.perf_counter() - start, "cpu": time.process_time() - cpu, "before": before,
        "peak": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024}
# What the result holds, counted after the peak is taken: its arrays, and each distinct text once.
frames = [r for r in result if isinstance(r, pd.DataFrame)]
size = sum(int(f.memory_usage(index=True, deep=False).sum()) for f in frames)
for column in (f[c].to_numpy() for f in frames for c in f.columns if f[c].dtype == object):
    ids = np.fromiter(map(id, column), dtype=np.int64, count=len(column))
    size += sum(sys.getsizeof(column[i]) for i in np.unique(ids, return_index=True)[1])
took["result"] = size
print(json.dumps(took))
"""


def main(bars=1_000_000, files=200, build=ROOT / "build" / "default"):
    build = Path(build).resolve()
    tool = build / "tools" / "vlmstruct" / "vlmstruct"
    stages_tool = build / "bench" / "tool_stages"
    measure = build / "bench" / "measure_run"
    for needed in (tool, stages_tool, measure):
        if not needed.exists():
            sys.exit(f"tools_scale: {needed} is missing: build the default preset first")
    rows = []  # (what, wall, cpu, bars, peak bytes or None)
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        big = work / "walk.csv"
        market = work / "market"
        market.mkdir()
        # Made by a child process: this one stays small, as the commands it starts count from it.
        subprocess.run([sys.executable, __file__, "--make", str(big), str(bars), str(market), str(files)], check=True)
        size = big.stat().st_size

        stages = {}
        for line in run_child(measure, [str(stages_tool), str(big), "3"])[3].splitlines():
            stage = json.loads(line)
            stages[stage["stage"]] = stage["seconds"]
        for name in ("read", "nine functions", "analyse", "streaming engine", "structures replay",
                     "replay with points"):
            rows.append((f"stage: {name}", None, stages[name], bars, None))

        subprocess.run(["cat", str(big)], stdout=subprocess.DEVNULL, check=True)  # into the page cache
        start = time.perf_counter()
        subprocess.run(f"cat '{big}' > /dev/null", shell=True, check=True)
        floor = time.perf_counter() - start
        rows.append((f"read floor: cat FILE > /dev/null ({size / 1e6:.0f} MB)", floor, None, bars, None))

        commands = {
            "vlmstruct analyze -o --json": ["analyze", str(big), "-o", "{out}/a.csv", "--json", "{out}/a.json"],
            "vlmstruct analyze --html": ["analyze", str(big), "--html", "{out}/a.html"],
            "vlmstruct replay -o --events": ["replay", str(big), "-o", "{out}/r.csv", "--events", "{out}/e.csv"],
            "vlmstruct evaluate -o --summary": ["evaluate", str(big), "-o", "{out}/s.csv", "--summary",
                                                "{out}/summary.csv"],
        }
        measured, peaks, written = {}, {}, {}
        for name, args in commands.items():
            out = work / f"out-{len(measured)}"
            out.mkdir()

            def once():
                for f in out.iterdir():  # into a fresh folder: no old file to replace
                    f.unlink()
                return run_child(measure, [str(tool)] + [a.format(out=out) for a in args])
            wall, cpu, peak, _ = best(once)
            measured[name] = cpu
            peaks[name] = peak
            rows.append((name, wall, cpu, bars, peak))
            written[name] = sum(f.stat().st_size for f in out.iterdir())

        # Writing the replay's bytes and nothing else: what no formatting can go below.
        replay_bytes = written["vlmstruct replay -o --events"]
        floor_file = work / "floor.bin"
        dd = ["dd", "if=/dev/zero", f"of={floor_file}", "bs=1M", f"count={max(1, replay_bytes >> 20)}", "status=none"]
        wall, write_floor, _, _ = best(lambda: (floor_file.unlink(missing_ok=True), run_child(measure, dd))[1])
        floor_file.unlink()
        rows.append((f"write floor: dd {replay_bytes / 1e6:.0f} MB (the replay's files) into a file", wall,
                     write_floor, bars, None))

        wall, cpu, peak, _ = best(lambda: run_child(measure, [str(tool), "scan", str(market), "-j", "1", "-o",
                                                               str(work / "summary.csv")]))
        rows.append((f"vlmstruct scan -j 1 ({files} files x 5000 bars)", wall, cpu, files * 5000, peak))
        wall, cpu, peak, _ = best(lambda: run_child(measure, [str(tool), "evaluate", str(market), "-j", "1",
                                                               "--summary", str(work / "evaluation.csv")]))
        rows.append((f"vlmstruct evaluate -j 1 --summary ({files} files x 5000 bars)", wall, cpu, files * 5000, peak))

        env_path = str(build / "python")
        python = {}
        for function in ("analyze", "replay"):
            # The peak is the process's at the end of the call (the result's size is counted after it).
            call = json.loads(run_child(measure, [sys.executable, "-c", PYTHON_CALL, env_path, str(big), function])[3])
            rows.append((f"python: vlmstruct.{function}(df)", call["wall"], call["cpu"], bars, call["peak"]))
            python[function] = call
        rows.append(("python: the process before vlmstruct.replay (pandas and df)", None, None, bars,
                     python["replay"]["before"]))
        rows.append(("python: vlmstruct.replay's result (arrays, each text once)", None, None, bars,
                     python["replay"]["result"]))

        import distributed_scan
        for name, seconds in distributed_scan.scan_times(market, build, work):
            rows.append((f"{name} ({files} files)", seconds, None, files * 5000, None))

    print(f"{bars} bars ({size / 1e6:.1f} MB), {files} files x 5000 bars; {os.cpu_count()} cores; "
          f"load average {os.getloadavg()[0]:.1f}")
    print()
    print("| run | wall s | CPU s | Mbars/s | peak RSS, bytes/bar |")  # memory rows have no time
    print("|---|---:|---:|---:|---:|")
    for name, wall, cpu, n, peak in rows:
        seconds = cpu if cpu is not None else wall
        rate = '' if seconds is None else f"{n / seconds / 1e6:.2f}"
        print(f"| {name} | {'' if wall is None else f'{wall:.3f}'} | {'' if cpu is None else f'{cpu:.3f}'} | "
              f"{rate} | {'' if peak is None else f'{peak / n:.0f}'} |")
    print()
    engine = stages["nine functions"] + floor
    print(f"- analyze -o --json: {measured['vlmstruct analyze -o --json'] / engine:.1f} x (nine functions + cat), "
          f"target 5 x")
    print(f"- replay -o --events: {measured['vlmstruct replay -o --events'] / stages['streaming engine']:.1f} x the "
          f"streaming engine, {measured['vlmstruct replay -o --events'] / stages['replay with points']:.1f} x the "
          f"replay with points; target 3 x the streaming engine. Reading the file, the engine and writing the "
          f"files' bytes (dd), with no trading point and no formatting, already take "
          f"{(stages['read'] + stages['streaming engine'] + write_floor) / stages['streaming engine']:.1f} x")
    print(f"- analyze -o --json peak: {peaks['vlmstruct analyze -o --json'] / bars:.0f} bytes per bar, target 60")
    replay_call = python["replay"]
    print(f"- vlmstruct.replay: {replay_call['cpu'] / measured['vlmstruct replay -o --events']:.2f} x the CLI's "
          f"time, target 2 x; peak {replay_call['peak'] / bars:.0f} bytes per bar, target 120, of which "
          f"{replay_call['before'] / bars:.0f} before the call and {replay_call['result'] / bars:.0f} the result")
    scan_row = next(r for r in rows if r[0].startswith("vlmstruct scan -j 1"))
    print(f"- scan -j 1: {scan_row[3] / scan_row[2] / 1e6:.2f} million bars per processor second "
          f"({scan_row[3] / scan_row[1] / 1e6:.2f} per wall second), target 10")
    evaluate = measured["vlmstruct evaluate -o --summary"]
    print(f"- evaluate -o --summary: {evaluate / (stages['read'] + stages['replay with points']):.2f} x (read + replay "
          f"with points), target 1.5 x")
    folder_row = next(r for r in rows if r[0].startswith("vlmstruct evaluate -j 1"))
    print(f"- evaluate -j 1 over the files: {folder_row[3] / folder_row[2] / 1e6:.2f} million bars per processor "
          f"second, target 2")


def make(big, bars, market, files):
    random_walk(big, int(bars))
    for k in range(int(files)):
        random_walk(Path(market) / f"s{k:04d}.csv", 5000, seed=k + 2)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--make"]:
        make(*sys.argv[2:6])
    else:
        main(*(int(a) for a in sys.argv[1:3]), *sys.argv[3:4])
