#!/usr/bin/python3
"""Scan throughput on one machine and on a Dask cluster of 1 and 2 worker processes (one thread each).

    /usr/bin/python3 bench/distributed_scan.py [FILES] [BARS] [BUILD_DIR]

Writes FILES synthetic bar files of BARS bars into a temporary folder, then times `vlmstruct scan
--jobs 1` and `--jobs 2`, and vlmstruct.distributed.scan on LocalClusters of 1 and 2 workers (the
cluster's start is not timed; the summaries are checked equal to the tool's). Prints one table.
bench/tools_scale.py runs the same timings (scan_times) on its own files.
"""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def scan_times(folder, build, work):
    """[(run, seconds)] for the tool with 1 and 2 jobs and the distributed scan with 1 and 2 workers."""
    build = Path(build).resolve()
    sys.path.insert(0, str(build / "python"))
    os.environ["PYTHONPATH"] = str(build / "python")
    import distributed
    import vlmstruct.distributed as vd

    tool = build / "tools" / "vlmstruct" / "vlmstruct"
    summary = Path(work) / "local.csv"
    rows = []
    for jobs in (1, 2):
        start = time.perf_counter()
        subprocess.run([str(tool), "scan", str(folder), "--jobs", str(jobs), "-o", str(summary)],
                       check=True, stderr=subprocess.DEVNULL)
        rows.append((f"vlmstruct scan --jobs {jobs}", time.perf_counter() - start))
    expected = vd._scan_frame(summary.read_text())
    for workers in (1, 2):
        with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=":0") as cluster, \
                distributed.Client(cluster, set_as_default=False) as client:
            start = time.perf_counter()
            got = vd.scan(folder, client=client)
            rows.append((f"distributed.scan, {workers} worker{'s' if workers > 1 else ''}",
                         time.perf_counter() - start))
        assert got.equals(expected), "the distributed summary differs from the tool's"
    return rows


def main(files=200, bars=20000, build=ROOT / "build" / "default"):
    with tempfile.TemporaryDirectory() as work:
        folder = Path(work) / "market"
        folder.mkdir()
        makers = [subprocess.Popen([sys.executable, str(ROOT / "tools" / "make_sample_bars.py"),
                                    str(folder / f"s{k:04d}.csv"), str(bars), str(k)]) for k in range(files)]
        for m in makers:
            assert m.wait() == 0
        rows = scan_times(folder, build, work)
    print(f"{files} files x {bars} bars ({os.cpu_count()} cores)")
    print(f"| {'run':<30} | {'s':>6} | {'files/s':>8} | {'Mbars/s':>7} |")
    print(f"|{'-' * 32}|{'-' * 8}|{'-' * 10}|{'-' * 9}|")
    for name, seconds in rows:
        print(f"| {name:<30} | {seconds:6.2f} | {files / seconds:8.0f} | {files * bars / seconds / 1e6:7.2f} |")


if __name__ == "__main__":
    main(*(int(a) for a in sys.argv[1:3]), *sys.argv[3:4])
