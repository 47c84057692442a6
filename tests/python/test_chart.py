"""The chart in a real headless browser: it loads without console errors and draws what the JSON says."""
import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

from chart_page import Page, minute_bars
from conftest import SOURCE

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
    with Page(html.as_uri()) as page:
        assert page.drawn()["errors"] == []
        page.screenshot(shot)
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


# ---- the packed columns, the chart at scale and several levels, driven as a person would ----



def tool(vlmstruct_bin, *args):
    out = subprocess.run([str(vlmstruct_bin), *map(str, args)], capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stderr
    return out


def write_bars(path, dates, columns):
    names = list(columns)
    lines = [",".join(["date", *names] if dates is not None else names)]
    for i in range(len(next(iter(columns.values())))):
        cells = [columns[n][i] for n in names]
        lines.append(",".join(([dates[i]] if dates is not None else []) + cells))
    path.write_text("\n".join(lines) + "\n")
    return path


def odd_bars(tmp_path, kind):
    """Bar files whose columns take each way of packing: dates with seconds and prices no decimal scale gives
    back (raw float32), negative prices and fractional volumes, dates of two forms in one file (kept as text),
    and a file of highs and lows alone without dates."""
    import numpy as np

    rng = np.random.default_rng(5)
    n = 400
    mid = np.cumsum(rng.uniform(-1, 1, n)).astype(np.float32)
    if kind == "seconds_raw_floats":
        dates = [f"2020-02-{3 + i // 200:02d} 10:{i // 60 % 60:02d}:{i % 60:02d}" for i in range(n)]
        high, low = mid + np.float32(0.3) + rng.random(n, dtype=np.float32), mid - rng.random(n, dtype=np.float32)
        cols = {"open": low, "high": high, "low": low, "close": high, "volume": rng.integers(0, 9, n) / 8}
        return write_bars(tmp_path / "b.csv", dates, {k: [repr(float(v)) for v in c] for k, c in cols.items()}), []
    if kind == "mixed_date_forms":
        dates = [f"2021-03-{1 + i // 100:02d}" + ("" if i % 2 else f" 09:{i % 60:02d}") for i in range(n)]
        dates = sorted(set(dates))
        m = len(dates)
        return write_bars(tmp_path / "b.csv", dates, {"high": [f"{v + 1:.2f}" for v in mid[:m]],
                                                      "low": [f"{v:.2f}" for v in mid[:m]]}), []
    return write_bars(tmp_path / "b.csv", None, {"high": [f"{v + 1e4:.4f}" for v in mid],
                                                 "low": [f"{v + 1e4 - 0.5:.4f}" for v in mid]}), ["--no-dates"]


@pytest.mark.parametrize("kind", ["daily_sample", "intraday_sample", "seconds_raw_floats", "mixed_date_forms",
                                  "no_dates"])
def test_the_page_unpacks_what_the_tool_read(vlmstruct_bin, sample_csv, tmp_path, kind):
    """Prices, volumes, dates, the nine outputs and the structures, unpacked by the page, are the tool's own."""
    import numpy as np
    import pandas as pd

    import vlmstruct

    options = []
    if kind == "daily_sample":
        bars = sample_csv
    elif kind == "intraday_sample":
        bars = SOURCE / "data" / "synthetic_intraday_bars.csv"
    else:
        bars, options = odd_bars(tmp_path, kind)
    html, per_bar, js = tmp_path / "c.html", tmp_path / "out.csv", tmp_path / "s.json"
    tool(vlmstruct_bin, "analyze", bars, "-o", per_bar, "--json", js, "--html", html, "--open-pivot", *options)
    expected = pd.read_csv(per_bar, dtype=str, keep_default_na=False)
    structures = json.loads(js.read_text())
    with Page(html.as_uri()) as page:
        assert page.drawn()["errors"] == []
        got = page.eval("""(() => { const lv = levelAt(0), all = a => a ? Array.from(a) : null;
            const outputs = {};
            for (const name of lv.functionNames) {
              const runs = lv.output(name);
              outputs[name] = Array.from({ length: lv.count }, (_, i) => outputAt(runs, i));
            }
            return JSON.stringify({ open: all(lv.open), high: all(lv.high), low: all(lv.low), close: all(lv.close),
              volume: all(lv.volume), dates: Array.from({ length: lv.count }, (_, i) => lv.label(i)), outputs,
              strokes: lv.strokes, pivots: lv.pivots, points: lv.points }); })()""")
    got = json.loads(got)
    if "--no-dates" in options:
        frame = pd.read_csv(bars).astype(np.float32)
        assert got["dates"] == [f"bar {i}" for i in range(len(frame))]
    else:
        frame = vlmstruct.read_bars(bars)
        assert got["dates"] == list(expected["date"])
    for column in ("open", "high", "low", "close", "volume"):
        if column in frame:
            assert np.array_equal(np.float32(got[column]), frame[column].to_numpy(np.float32)), column
        else:
            assert got[column] is None
    for name, values in got["outputs"].items():
        assert np.array_equal(np.float32(values), expected[name].astype(np.float32).to_numpy()), name
    assert [(m["bar"], m["price"]) for m in got["strokes"]] == \
        [(s["end_bar"], pytest.approx(s["end_price"], rel=1e-6)) for s in structures["strokes"]]
    assert [(p["start"], p["end"], p["open"]) for p in got["pivots"]] == \
        [(p["start_bar"], p["end_bar"], p["open"]) for p in structures["pivots"]]
    assert [(p[0], p[2]) for p in got["points"]] == [(p["bar"], p["label"]) for p in structures["points"]]


def test_the_companion_layer_is_what_both_plug_ins_give(vlmstruct_bin, tmp_path, plugin, points_plugin):
    """chart --companion draws the pivots that testVelmorDll's functions 5 to 9 give on function 3's output and
    the live points of testVelmorPoints' function 2, each plug-in loaded as a host loads it; in replay the live
    points up to the bar and no segment pivot (those would tell the future)."""
    import numpy as np

    import vlmstruct

    bars = SOURCE / "data" / "synthetic_intraday_bars.csv"
    frame = vlmstruct.read_bars(bars)
    high, low, close = (frame[c].to_numpy(np.float32) for c in ("high", "low", "close"))
    segments = plugin.call(3, plugin.call(2, high, low), high, low)
    marks, upper, lower = (plugin.call(f, segments, high, low) for f in (7, 5, 6))
    firsts, lasts = np.flatnonzero(marks == 1), np.flatnonzero(marks == 2)
    zones = [[int(a) - 1, int(b) + 1, float(upper[a]), float(lower[a])] for a, b in zip(firsts, lasts)]
    live = points_plugin.call(2, high, low, close)
    shown = [[int(i), int(live[i])] for i in np.flatnonzero(live)]
    assert zones and shown

    html = tmp_path / "c.html"
    tool(vlmstruct_bin, "chart", bars, "--companion", "-o", html)
    with Page(html.as_uri()) as page:
        report = page.drawn()
        assert report["errors"] == []
        got = json.loads(page.eval("""JSON.stringify({ zones: levelAt(0).host.pivots.map(p => [p.start, p.end,
            p.upper, p.lower]), live: levelAt(0).host.live.map(p => [p.bar, p.code]) })"""))
    assert got["live"] == shown
    assert [z[:2] for z in got["zones"]] == [z[:2] for z in zones]
    assert np.array_equal(np.float32([z[2:] for z in got["zones"]]), np.float32([z[2:] for z in zones]))
    assert report["segmentPivots"] == len(zones) and report["livePoints"] == len(shown)
    bar = 1500
    dom = browser("--dump-dom", html.as_uri() + f"#replay={bar}").stdout
    replayed = json.loads(dom.split('<pre id="report">')[1].split("</pre>")[0])
    assert replayed["errors"] == []
    assert replayed["segmentPivots"] == 0
    assert replayed["livePoints"] == sum(b <= bar for b, _ in shown) < len(shown)

    refused = subprocess.run([str(vlmstruct_bin), "chart", str(bars), "--companion", "--macd", "5,10,3", "-o",
                              str(tmp_path / "x.html")], capture_output=True, text=True)
    assert refused.returncode == 2 and "--companion" in refused.stderr


def in_view(structures, first, last):
    """What of analyze --json lies in bars first..last: stroke and segment ends, pivots meeting it, points."""
    ends = lambda marks: sum(first <= m["end_bar"] <= last for m in marks)
    return {"strokes": ends(structures["strokes"]), "segments": ends(structures["segments"]),
            "pivots": sum(p["end_bar"] >= first and p["start_bar"] <= last for p in structures["pivots"]),
            "points": sum(first <= p["bar"] <= last for p in structures["points"])}


MOST_CANDLES = 4000  # "a few thousand": what the page may draw at once


@pytest.mark.slow
def test_a_million_bars(vlmstruct_bin, tmp_path):
    """A million bars: under 32 bytes a bar, the latest bars on opening, at most a few thousand candles at any
    zoom down to the whole series, and every structure in view drawn at every step of zooming out."""
    bars = minute_bars(tmp_path / "big.csv", 1_000_000)
    html, js = tmp_path / "big.html", tmp_path / "big.json"
    tool(vlmstruct_bin, "analyze", bars, "--json", js, "--html", html)
    structures = json.loads(js.read_text())
    n = structures["bars"]
    assert html.stat().st_size / n < 32
    with Page(html.as_uri()) as page:
        report = page.drawn()
        print(f"first drawn after {report['firstDrawMs']} ms, {html.stat().st_size / n:.1f} bytes a bar")
        assert report["errors"] == []
        view, drawn = report["view"], report["drawn"]
        assert view["last"] == n - 1 and 1000 <= view["last"] - view["first"] + 1 <= MOST_CANDLES
        assert drawn["candles"] == view["last"] - view["first"] + 1  # one bar a candle at first
        widest = None
        for _ in range(80):  # the wheel, zooming out over the middle of the chart
            page.wheel(700, 400, 400)
            report = page.settled()
            view, drawn = report["view"], report["drawn"]
            assert 0 < drawn["candles"] <= MOST_CANDLES and view["loaded"] <= 3 * MOST_CANDLES
            assert {k: drawn[k] for k in ("strokes", "segments", "pivots", "points")} == \
                in_view(structures, view["first"], view["last"])
            if view["first"] == 0 and view["last"] == n - 1:
                widest = report
                break
        assert widest is not None, "the wheel never showed the whole series"
        assert widest["view"]["group"] > 1 and widest["errors"] == []
        assert widest["drawn"]["strokes"] == len(structures["strokes"]) > 10000
        assert widest["drawn"]["pivots"] == len(structures["pivots"]) > 1000


def levels_chart(vlmstruct_bin, bars, tmp_path, levels):
    html, js = tmp_path / "levels.html", tmp_path / "levels.json"
    tool(vlmstruct_bin, "analyze", bars, "--levels", levels, "--json", js, "--html", html)
    return html, {level["level"]: level for level in json.loads(js.read_text())["levels"]}


def choose_level(page, name):
    page.eval(f"""(() => {{ const s = document.getElementById("level");
        s.value = [...s.options].find(o => o.text.startsWith({json.dumps(name)} + " ")).value;
        s.dispatchEvent(new Event("change")); }})()""")
    return page.settled()


def test_the_level_selector_and_the_higher_level_overlaid(vlmstruct_bin, sample_csv, tmp_path):
    """Each level shows its own bars and structures, with the next higher level's over them."""
    html, levels = levels_chart(vlmstruct_bin, sample_csv, tmp_path, "week,month")
    with Page(html.as_uri()) as page:
        report = page.drawn()
        assert report["errors"] == []
        shot = Path(os.environ.get("VLM_SCREENSHOT_DIR", tmp_path)) / "chart-levels.png"
        shot.parent.mkdir(parents=True, exist_ok=True)
        page.screenshot(shot)  # the daily bars with their weekly level overlaid, as docs/chart-levels.png
        assert shot.stat().st_size > 20000
        for name, higher in [("week", "month"), ("month", None), ("base", "week")]:
            report = choose_level(page, name)
            level, structures = levels[name], levels[name]["structures"]
            assert report["level"] == name and report["bars"] == level["bars"]
            assert report["view"]["first"] == 0 and report["view"]["last"] == level["bars"] - 1
            assert report["drawn"]["candles"] == level["bars"]
            assert report["drawn"]["strokes"] == len(structures["strokes"])
            over = levels[higher]["structures"] if higher else {"strokes": [], "segments": [], "pivots": []}
            assert report["drawn"]["higherStrokes"] == len(over["strokes"])
            assert report["drawn"]["higherSegments"] == len(over["segments"])
            assert report["drawn"]["higherPivots"] == len(over["pivots"])
        page.eval("document.getElementById('overlayon').click()")
        assert page.settled()["drawn"]["higherStrokes"] == 0
        page.eval("document.getElementById('overlayon').click()")
        choose_level(page, "week")
        page.eval("document.getElementById('replayon').click()")  # replay steps through the week bars
        report = page.settled()
        assert report["errors"] == [] and report["replayBar"] == levels["week"]["bars"] - 1
        assert report["drawn"]["higherStrokes"] == 0  # the month's final strokes would tell the future
        assert report["strokes"] == len(levels["week"]["structures"]["strokes"])


def bars_holding(first_base, base_range):
    """The lower level's bars that hold the first and the last base bar of a range."""
    import bisect

    return [bisect.bisect_right(first_base, b) - 1 for b in base_range]


@pytest.mark.parametrize("source,levels,shown,strokes", [
    ("daily", "week", "base", [2, 11, 25]),
    ("intraday", "5min,30min", "5min", [1, 4, 9]),
])
def test_a_click_on_a_higher_stroke_shows_the_bars_it_covers(vlmstruct_bin, sample_csv, tmp_path, source, levels,
                                                            shown, strokes):
    import vlmstruct

    bars = sample_csv if source == "daily" else SOURCE / "data" / "synthetic_intraday_bars.csv"
    html, doc = levels_chart(vlmstruct_bin, bars, tmp_path, levels)
    names = list(doc)
    higher = names[names.index(shown) + 1]
    if shown == "base":
        first_base = list(range(doc["base"]["bars"]))
    else:
        first_base = list(vlmstruct.resample(vlmstruct.read_bars(bars), shown)["first_base"])
    for k in strokes:
        expected = bars_holding(first_base, doc[higher]["links"]["strokes"][k]["base"])
        with Page(html.as_uri() + f"#level={shown}") as page:
            assert page.drawn()["level"] == shown
            at = page.eval(f"window.__higherStrokeAt({k})")
            assert at is not None, f"{higher} stroke {k} is not in view"
            page.click(at["x"], at["y"])
            report = page.settled()
            assert report["errors"] == [] and report["zoomed"]["stroke"] == k
            assert [report["view"]["first"], report["view"]["last"]] == expected
