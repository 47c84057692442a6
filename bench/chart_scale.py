#!/usr/bin/env python3
"""The chart of many bars: HTML bytes a bar, and the time from opening the page to its first frame with
candles (the page's own performance.now() at that frame, so it includes reading and parsing the file).

    /usr/bin/python3 bench/chart_scale.py [BARS] [RUNS]     (after cmake --build --preset default)
"""
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "python"))
from chart_page import Page, minute_bars  # noqa: E402

TOOL = ROOT / "build" / "default" / "tools" / "vlmstruct" / "vlmstruct"


def main(bars=1_000_000, runs=5):
    with tempfile.TemporaryDirectory() as folder:
        csv, html = Path(folder) / "bars.csv", Path(folder) / "chart.html"
        minute_bars(csv, bars)
        subprocess.run([str(TOOL), "analyze", str(csv), "--html", str(html)], check=True, capture_output=True)
        size = html.stat().st_size
        times = []
        for _ in range(runs):
            with Page(html.as_uri()) as page:
                times.append(page.drawn()["firstDrawMs"])
        print(f"{bars} bars: {size} bytes of HTML, {size / bars:.1f} bytes a bar; first drawn after "
              f"{statistics.median(times)} ms (median of {runs}: {sorted(times)})")


if __name__ == "__main__":
    main(*map(int, sys.argv[1:]))
