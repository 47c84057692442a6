"""The chart in a real headless browser: it loads without console errors and draws what the JSON says."""
import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--no-first-run", "--hide-scrollbars", "--virtual-time-budget=5000"]


def browser(*args):
    assert CHROMIUM, "chromium is needed for the chart test (./run test installs it)"
    return subprocess.run([CHROMIUM, *FLAGS, *args], capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("open_pivot", [False, True])
def test_chart_draws_the_structures(vlmstruct_bin, sample_csv, tmp_path, open_pivot):
    html, js = tmp_path / "chart.html", tmp_path / "s.json"
    args = ["analyze", sample_csv, "--json", js, "--html", html] + (["--open-pivot"] if open_pivot else [])
    assert subprocess.run([str(vlmstruct_bin), *map(str, args)], capture_output=True).returncode == 0
    page = html.read_text()
    assert "http://" not in page.split("<script>")[0] and "src=" not in page  # nothing to fetch
    dom = browser("--dump-dom", html.as_uri()).stdout
    report = json.loads(dom.split('<pre id="report">')[1].split("</pre>")[0])
    structures = json.loads(js.read_text())
    assert report["errors"] == []
    assert report["strokes"] == len(structures["strokes"])
    assert report["segments"] == len(structures["segments"])
    assert report["pivots"] == sum(not p["open"] for p in structures["pivots"])
    assert report["openPivots"] == sum(p["open"] for p in structures["pivots"])
    assert report["openPivots"] == (1 if open_pivot else 0)

    shot = Path(os.environ.get("VLM_SCREENSHOT_DIR", tmp_path)) / "chart.png"
    shot.parent.mkdir(parents=True, exist_ok=True)
    browser("--window-size=1400,800", f"--screenshot={shot}", html.as_uri())
    assert shot.stat().st_size > 20000


@pytest.mark.parametrize("bar", [40, 700, 1999])
def test_replay_shows_what_the_prefix_alone_shows(vlmstruct_bin, sample_csv, tmp_path, bar):
    """The chart in replay at bar N draws what a chart of bars 0..N alone draws, with its pivot under way."""
    html = tmp_path / "chart.html"
    assert subprocess.run([str(vlmstruct_bin), "chart", str(sample_csv), "-o", str(html)],
                          capture_output=True).returncode == 0
    lines = Path(sample_csv).read_text().splitlines(keepends=True)
    prefix = tmp_path / "prefix.csv"
    prefix.write_text("".join(lines[:bar + 2]))
    js = tmp_path / "prefix.json"
    assert subprocess.run([str(vlmstruct_bin), "analyze", str(prefix), "--open-pivot", "--json", str(js)],
                          capture_output=True).returncode == 0
    dom = browser("--dump-dom", html.as_uri() + f"#replay={bar}").stdout
    report = json.loads(dom.split('<pre id="report">')[1].split("</pre>")[0])
    structures = json.loads(js.read_text())
    assert report["errors"] == []
    assert report["replayBar"] == bar
    assert report["strokes"] == len(structures["strokes"])
    assert report["segments"] == len(structures["segments"])
    assert report["pivots"] == sum(not p["open"] for p in structures["pivots"])
    assert report["openPivots"] == sum(p["open"] for p in structures["pivots"])
