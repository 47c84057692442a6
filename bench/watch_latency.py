"""How soon `vlmstruct watch` tells of a row, and what --state costs it, on a long history.

    /usr/bin/python3 bench/watch_latency.py [BARS [ROWS [INTERVAL]]]

Writes BARS minute bars (tools_scale's random walk), starts watch on them (--new-only, so the history only
warms up), then appends ROWS more one at a time at irregular moments and times each from its write to its first
alert on standard output. Done without and with --state; prints the start-up (read, warm up and, with --state,
the first snapshot), the latency's median, 90th percentile and worst per run, and the state files' sizes.
"""
import random
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
from tools_scale import random_walk  # noqa: E402

VLMSTRUCT = ROOT / "build" / "default" / "tools" / "vlmstruct" / "vlmstruct"


def run(bars, more, interval, state):
    args = [str(VLMSTRUCT), "watch", str(bars), "--new-only", "--interval", str(interval)]
    if state:
        args += ["--state", str(state)]
    started = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1)
    ready = threading.Event()
    alerts = []  # (time, bar)

    def read_err():
        for line in proc.stderr:
            if "following" in line:
                ready.set()

    def read_out():
        for line in proc.stdout:
            alerts.append((time.monotonic(), line))

    threading.Thread(target=read_err, daemon=True).start()
    threading.Thread(target=read_out, daemon=True).start()
    ready.wait(600)
    startup = time.monotonic() - started
    latencies = []
    for row in more:
        before = len(alerts)
        written = time.monotonic()
        with open(bars, "a") as f:
            f.write(row)
        deadline = written + 5
        while len(alerts) == before and time.monotonic() < deadline:
            time.sleep(0.0005)
        if len(alerts) > before:
            latencies.append(alerts[before][0] - written)
        time.sleep(random.uniform(0, interval))  # rows at moments unrelated to the polling
    proc.terminate()
    proc.wait(60)
    return startup, latencies


def main():
    bars_count = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    interval = float(sys.argv[3]) if len(sys.argv) > 3 else 0.5
    with tempfile.TemporaryDirectory(dir=ROOT / "build") as folder:
        folder = Path(folder)
        whole = folder / "whole.csv"
        random_walk(whole, bars_count + rows)
        lines = whole.read_text().splitlines(keepends=True)
        for state in (None, folder / "watch.state"):
            bars = folder / "bars.csv"
            bars.write_text("".join(lines[:bars_count + 1]))
            startup, latencies = run(bars, lines[bars_count + 1:], interval, state)
            q = statistics.quantiles(latencies, n=10)
            label = "with --state" if state else "without --state"
            print(f"{label}: {bars_count} bars warmed up in {startup:.2f} s; {len(latencies)} rows with alerts, "
                  f"write to alert median {statistics.median(latencies) * 1000:.1f} ms, 90% {q[8] * 1000:.1f} ms, "
                  f"worst {max(latencies) * 1000:.1f} ms (interval {interval} s)")
            if state:
                snapshot = Path(str(state) + ".snapshot")
                print(f"  state {state.stat().st_size} bytes, snapshot {snapshot.stat().st_size} bytes")


if __name__ == "__main__":
    main()
