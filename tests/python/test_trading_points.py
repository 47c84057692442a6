"""Trading points through every face: the tool's analyze, replay, scan and chart, and the module."""
import json
import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest

import vlmstruct
from test_chart import browser


def run(binary, *args, cwd=None):
    return subprocess.run([str(binary), *map(str, args)], capture_output=True, text=True, timeout=300, cwd=cwd)


def analyze_json(binary, bars, tmp_path, *options, name="s.json"):
    out = tmp_path / name
    result = run(binary, "analyze", bars, "--json", out, *options)
    assert result.returncode == 0, result.stderr
    return json.loads(out.read_text())


def no_close_file(sample_csv, tmp_path):
    """The sample without its open and close: the points read the mid-price."""
    df = pd.read_csv(sample_csv)
    path = tmp_path / "hl.csv"
    df[["date", "high", "low"]].to_csv(path, index=False)
    return path


# name -> (command-line options, the module's keywords)
OPTIONS = {
    "defaults": ([], {}),
    "peak_run1_ratio15": (["--force", "peak", "--class1-min-run", "1", "--divergence-ratio", "1.5"],
                          {"force": "peak", "class1_min_run": 1, "divergence_ratio": 1.5}),
    "fast_macd_slope": (["--macd", "5,20,4", "--force", "slope", "--class1-min-run", "1"],
                        {"macd": (5, 20, 4), "force": "slope", "class1_min_run": 1}),
    "full_area_ratio_half": (["--force", "full-area", "--divergence-ratio", "0.5", "--class1-min-run", "1"],
                             {"force": "full-area", "divergence_ratio": 0.5, "class1_min_run": 1}),
}


def frame_rows_as_json(frame):
    """points(df) rows in the shape of the JSON `points` entries."""
    rows = []
    for date, r in frame.iterrows():
        rows.append({
            "side": r.side, "label": r.label, "classes": list(r.classes), "bar": int(r.bar),
            "date": date.strftime("%Y-%m-%d") if hasattr(date, "strftime") else "",
            "price": float(r.price),
            "pivot": {"start_bar": int(r.pivot_start), "end_bar": int(r.pivot_end), "upper": float(r.pivot_upper),
                      "lower": float(r.pivot_lower), "trend": int(r.pivot_trend),
                      "run_count": int(r.pivot_run_count)},
            "leaving_force": None if np.isnan(r.leaving_force) else float(r.leaving_force),
            "entering_force": None if np.isnan(r.entering_force) else float(r.entering_force),
            "force_ratio": None if np.isnan(r.force_ratio) else float(r.force_ratio),
            "follows_bar": None if pd.isna(r.follows_bar) else int(r.follows_bar),
        })
    return rows


def comparable_json(points):
    keep = ("side", "label", "classes", "bar", "date", "price", "leaving_force", "entering_force", "force_ratio",
            "follows_bar")
    out = []
    for p in points:
        q = {k: p[k] for k in keep}
        q["pivot"] = {k: p["pivot"][k] for k in ("start_bar", "end_bar", "upper", "lower", "trend", "run_count")}
        # Prices are 32-bit floats written in their shortest text.
        q["price"] = float(np.float32(q["price"]))
        for k in ("upper", "lower"):
            q["pivot"][k] = float(np.float32(q["pivot"][k]))
        out.append(q)
    return out


@pytest.mark.parametrize("case", sorted(OPTIONS))
def test_the_module_lists_the_points_of_the_tools_json(vlmstruct_bin, sample_csv, tmp_path, case):
    cli_options, keywords = OPTIONS[case]
    for bars in (sample_csv, no_close_file(sample_csv, tmp_path)):
        structures = analyze_json(vlmstruct_bin, bars, tmp_path, *cli_options)
        df = pd.read_csv(bars, index_col="date", parse_dates=True)
        frame = vlmstruct.points(df, **keywords)
        assert structures["points"], "the sample has points under every option set"
        # Forces are doubles in both; the JSON writes them in the shortest text that reads back exactly.
        assert frame_rows_as_json(frame) == comparable_json(structures["points"])
        assert list(frame.index) == list(pd.to_datetime([p["date"] for p in structures["points"]]))
        follows = [p["follows_date"] for p in structures["points"]]
        assert [None if pd.isna(d) else d.strftime("%Y-%m-%d") for d in frame.get("follows_date", [])] == follows
        outputs, _ = vlmstruct.analyze(df, **keywords)
        marked = outputs["trading_point"][outputs["trading_point"] != ""]
        assert list(zip(marked.index, marked)) == list(zip(frame.index, frame.label))
    if case != "defaults":  # the options reach the rules
        assert comparable_json(structures["points"]) != comparable_json(
            analyze_json(vlmstruct_bin, bars, tmp_path, name="d.json")["points"])


def test_the_per_bar_file_marks_each_point_at_its_bar(vlmstruct_bin, sample_csv, tmp_path):
    out = tmp_path / "a.csv"
    structures = analyze_json(vlmstruct_bin, sample_csv, tmp_path, "-o", out)
    lines = out.read_text().splitlines()
    assert lines[0].endswith(",pivot_run_count,trading_point")
    labels = {k: line.rsplit(",", 1)[1] for k, line in enumerate(lines[1:]) if line.rsplit(",", 1)[1]}
    assert labels == {p["bar"]: p["label"] for p in structures["points"]}
    for p in structures["points"]:
        side = "B" if p["side"] == "buy" else "S"
        assert p["label"] == "+".join(f"{side}{c}" for c in p["classes"])
        assert (p["leaving_force"] is not None) == (1 in p["classes"])
        if 1 in p["classes"]:
            assert p["leaving_force"] < p["entering_force"] * 1.0
            assert p["force_ratio"] == pytest.approx(p["leaving_force"] / p["entering_force"], rel=1e-12)
        assert (p["follows_bar"] is not None) == (2 in p["classes"])
    assert {tuple(p["classes"]) for p in structures["points"]} >= {(1,), (3,)}


def read_csv_rows(path):
    lines = path.read_text().splitlines()
    header = lines[0].split(",")
    rows = []
    for line in lines[1:]:
        cells = line.split(",", len(header) - 1) if '"' in line else line.split(",")
        rows.append(dict(zip(header, cells)))
    return header, rows


def rebuild(events, t):
    """The points shown at bar t, from the point events of bars 0..t applied in order."""
    shown = {}
    for e in events:
        if int(e["bar"]) > t:
            break
        if e["subject"] != "trading_point":
            continue
        at = int(e["at_bar"])
        if e["event"] == "withdrawn":
            assert at in shown
            del shown[at]
        elif e["event"] == "appeared":
            assert at not in shown
            shown[at] = {"bar": at, "side": int(e["point_side"]), "classes": e["point_classes"],
                         "price": np.float32(e["price"]),
                         "ratio": np.float32(e["point_force_ratio"]) if e["point_force_ratio"] else None,
                         "final": False}
        else:
            assert e["event"] == "confirmed" and at in shown
            shown[at]["final"] = True
    return [shown[b] for b in sorted(shown)]


def json_as_shown(p):
    return {"bar": p["bar"], "side": 1 if p["side"] == "buy" else -1,
            "classes": "".join(map(str, p["classes"])), "price": np.float32(p["price"]),
            "ratio": None if p["force_ratio"] is None else np.float32(p["force_ratio"])}


def test_replay_events_and_rows_are_the_analysis_of_each_prefix(vlmstruct_bin, sample_csv, tmp_path):
    asof, events = tmp_path / "asof.csv", tmp_path / "events.csv"
    result = run(vlmstruct_bin, "replay", sample_csv, "-o", asof, "--events", events)
    assert result.returncode == 0, result.stderr
    header, rows = read_csv_rows(asof)
    assert header[-5:] == ["point_side", "point_classes", "point_bar", "point_price", "point_final"]
    _, changes = read_csv_rows(events)
    kinds = {c["event"] for c in changes if c["subject"] == "trading_point"}
    assert kinds == {"appeared", "confirmed", "withdrawn"}
    full = analyze_json(vlmstruct_bin, sample_csv, tmp_path, name="full.json")["points"]
    final_by_bar = {p["bar"]: p for p in map(json_as_shown, full)}
    lines = sample_csv.read_text().splitlines(keepends=True)
    checked_final = 0
    for t in (60, 240, 405, 700, 1234, 2100, len(rows) - 1):
        prefix = tmp_path / f"p{t}.csv"
        prefix.write_text("".join(lines[:t + 2]))
        expected = [json_as_shown(p) for p in analyze_json(vlmstruct_bin, prefix, tmp_path, name=f"p{t}.json")["points"]]
        shown = rebuild(changes, t)
        assert [{k: v for k, v in p.items() if k != "final"} for p in shown] == expected, t
        # A point said to be final is in the analysis of the whole file, unchanged.
        for p in shown:
            if p["final"]:
                checked_final += 1
                assert final_by_bar[p["bar"]] == {k: v for k, v in p.items() if k != "final"}
        row = rows[t]
        if expected:
            last = expected[-1]
            assert (row["point_bar"], row["point_side"], row["point_classes"]) == (
                str(last["bar"]), str(last["side"]), last["classes"])
            assert np.float32(row["point_price"]) == last["price"]
            assert row["point_final"] == ("1" if shown[-1]["final"] else "0")
        else:
            assert row["point_bar"] == row["point_final"] == ""
    assert checked_final > 0
    # At the last bar every point is shown, and some are still pending.
    assert [p["bar"] for p in rebuild(changes, len(rows) - 1)] == [p["bar"] for p in full]


def test_the_module_replays_the_points_as_the_tool_does(vlmstruct_bin, sample_csv, tmp_path):
    df = pd.read_csv(sample_csv, index_col=0, parse_dates=True)
    options = ["--force", "peak", "--class1-min-run", "1"]
    asof, events = vlmstruct.replay(df, force="peak", class1_min_run=1)
    out, ev = tmp_path / "asof.csv", tmp_path / "events.csv"
    assert run(vlmstruct_bin, "replay", sample_csv, "-o", out, "--events", ev, *options).returncode == 0
    cli = pd.read_csv(out)
    for name in [c for c in asof.columns if c.startswith("point_")]:
        assert np.array_equal(asof[name].astype("float32").to_numpy(), cli[name].to_numpy(dtype="float32"),
                              equal_nan=True), name
    cli_events = pd.read_csv(ev)
    mine = events[events.subject == "trading_point"].reset_index(drop=True)
    theirs = cli_events[cli_events.subject == "trading_point"].reset_index(drop=True)
    assert len(mine) > 0 and mine.text.tolist() == theirs.text.tolist()
    for name in ("bar", "at_bar", "point_classes", "point_force_ratio", "point_follows_bar"):
        assert np.array_equal(mine[name].astype("float32").to_numpy(), theirs[name].to_numpy(dtype="float32"),
                              equal_nan=True), name


def test_scan_shows_the_latest_point_of_each_file(vlmstruct_bin, sample_csv, tmp_path):
    market = tmp_path / "market"
    market.mkdir()
    lines = sample_csv.read_text().splitlines(keepends=True)
    (market / "whole.csv").write_text("".join(lines))
    (market / "cut.csv").write_text("".join(lines[:1500]))
    (market / "short.csv").write_text("".join(lines[:30]))  # too short for any point
    (market / "broken.csv").write_text("date,high,low\n2024-01-02,x,1\n")
    summary = tmp_path / "summary.csv"
    result = run(vlmstruct_bin, "scan", market, "-o", summary, "--class1-min-run", "1")
    assert result.returncode == 1
    text = summary.read_text().splitlines()
    header = text[0].split(",")
    assert header[-7:] == ["pivot_run_count", "trading_point", "point_bar", "point_date", "point_price",
                           "bars_since_point", "error"]
    rows = {}
    for line in text[1:]:
        cells = line.split(",", len(header) - 1)
        assert len(cells) == len(header), line
        rows[cells[0]] = dict(zip(header, cells))
    for name in ("whole.csv", "cut.csv"):
        points = analyze_json(vlmstruct_bin, market / name, tmp_path, "--class1-min-run", "1",
                              name=f"{name}.json")
        last, bars = points["points"][-1], points["bars"]
        row = rows[name]
        assert (row["trading_point"], row["point_bar"], row["point_date"]) == (
            last["label"], str(last["bar"]), last["date"])
        assert np.float32(row["point_price"]) == np.float32(last["price"])
        assert row["bars_since_point"] == str(bars - 1 - last["bar"])
    assert [rows["short.csv"][k] for k in ("trading_point", "point_bar", "point_date", "point_price",
                                           "bars_since_point", "error")] == [""] * 6
    assert rows["broken.csv"]["error"] and rows["broken.csv"]["trading_point"] == ""


BAD_OPTIONS = [
    (["--macd", "12,26"], "--macd '12,26'"),
    (["--macd", "12,0,9"], "--macd '12,0,9'"),
    (["--macd", "12,26,x"], "--macd '12,26,x'"),
    (["--macd", ""], "--macd ''"),
    (["--force", "areas"], "--force 'areas'"),
    (["--class1-min-run", "0"], "--class1-min-run '0'"),
    (["--class1-min-run", "1.5"], "--class1-min-run '1.5'"),
    (["--divergence-ratio", "0"], "--divergence-ratio '0'"),
    (["--divergence-ratio", "-1"], "--divergence-ratio '-1'"),
    (["--divergence-ratio", "nan"], "--divergence-ratio 'nan'"),
    (["--divergence-ratio", "1e999"], "--divergence-ratio '1e999'"),
]


@pytest.mark.parametrize("command", ["analyze", "replay", "scan", "chart"])
@pytest.mark.parametrize("option,said", BAD_OPTIONS, ids=[" ".join(o) for o, _ in BAD_OPTIONS])
def test_bad_point_options_are_usage_errors_naming_the_option(vlmstruct_bin, sample_csv, tmp_path, command,
                                                              option, said):
    shutil.copy(sample_csv, tmp_path / "bars.csv")
    target = {"analyze": ["bars.csv", "-o", "out.csv"], "replay": ["bars.csv", "-o", "out.csv"],
              "scan": [".", "-o", "out.csv"], "chart": ["bars.csv", "-o", "out.html"]}[command]
    result = run(vlmstruct_bin, command, *target, *option, cwd=tmp_path)
    assert result.returncode == 2, result.stderr
    assert said in result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bars.csv"]


def test_scan_on_a_scheduler_refuses_point_options(vlmstruct_bin, tmp_path):
    result = run(vlmstruct_bin, "scan", tmp_path, "--scheduler", "tcp://127.0.0.1:1", "--force", "peak")
    assert result.returncode == 2 and "--scheduler" in result.stderr and "--force" in result.stderr


@pytest.mark.parametrize("keywords,said", [
    ({"force": "areas"}, "force 'areas'"),
    ({"macd": (12, 26)}, "macd"),
    ({"macd": (0, 26, 9)}, "macd"),
    ({"class1_min_run": 0}, "class1_min_run"),
    ({"divergence_ratio": 0.0}, "divergence_ratio"),
    ({"divergence_ratio": float("inf")}, "divergence_ratio"),
])
@pytest.mark.parametrize("function", [vlmstruct.points, vlmstruct.analyze, vlmstruct.replay,
                                      lambda df, **options: vlmstruct.Stream(**options).load(df)],
                         ids=["points", "analyze", "replay", "Stream"])
def test_the_module_refuses_bad_point_options(sample_csv, function, keywords, said):
    df = pd.read_csv(sample_csv, index_col="date", parse_dates=True).iloc[:200]
    with pytest.raises(ValueError, match=said):
        function(df, **keywords)


def test_points_of_a_frame_without_dates_are_on_a_range():
    rng = np.random.default_rng(7)
    mid = 100 + np.cumsum(rng.uniform(-1, 1, 3000))
    df = pd.DataFrame({"high": mid + 0.3, "low": mid - 0.3})
    frame = vlmstruct.points(df)
    assert len(frame) > 0 and list(frame.index) == list(range(len(frame)))
    assert "follows_date" not in frame.columns
    assert frame.bar.is_monotonic_increasing and frame.bar.is_unique


def chart_report(html, fragment=""):
    dom = browser("--dump-dom", html.as_uri() + fragment).stdout
    return json.loads(dom.split('<pre id="report">')[1].split("</pre>")[0])


def test_the_chart_draws_a_marker_per_point(vlmstruct_bin, sample_csv, tmp_path):
    html = tmp_path / "chart.html"
    structures = analyze_json(vlmstruct_bin, sample_csv, tmp_path, "--html", html)
    events = tmp_path / "events.csv"
    assert run(vlmstruct_bin, "replay", sample_csv, "-o", tmp_path / "asof.csv", "--events", events).returncode == 0
    _, changes = read_csv_rows(events)
    pending = [p for p in rebuild(changes, structures["bars"] - 1) if not p["final"]]
    report = chart_report(html)
    assert report["errors"] == []
    assert report["points"] == len(structures["points"]) > 0
    assert report["pendingPoints"] == len(pending)
    lines = sample_csv.read_text().splitlines(keepends=True)
    for t in (405, 1500):
        prefix = tmp_path / f"p{t}.csv"
        prefix.write_text("".join(lines[:t + 2]))
        expected = analyze_json(vlmstruct_bin, prefix, tmp_path, name=f"p{t}.json")["points"]
        at = chart_report(html, f"#replay={t}")
        assert at["errors"] == [] and at["replayBar"] == t
        assert at["points"] == len(expected)
        assert at["pendingPoints"] == sum(not p["final"] for p in rebuild(changes, t))


@pytest.mark.parametrize("seed", [1, 2])
def test_the_modules_replay_events_rebuild_the_points_of_every_prefix(seed):
    from conftest import generated_bars

    high, low = generated_bars("walk", 2000, seed)
    df = pd.DataFrame({"high": high, "low": low})
    asof, events = vlmstruct.replay(df)
    rows = [r for _, r in events.iterrows() if r.subject == "trading_point"]
    shown, k = {}, 0
    for t in range(len(df)):
        while k < len(rows) and rows[k].bar <= t:
            e = rows[k]
            at = int(e.at_bar)
            if e.event == "withdrawn":
                del shown[at]
            elif e.event == "appeared":
                assert at not in shown
                shown[at] = (at, int(e.point_side), int(e.point_classes), np.float32(e.price))
            k += 1
        if t % 10 and t != len(df) - 1:
            continue
        expected = vlmstruct.points(df.iloc[:t + 1])
        side = expected.side.map({"buy": 1, "sell": -1})
        codes = [int("".join(map(str, c))) for c in expected.classes]
        assert [shown[b] for b in sorted(shown)] == list(zip(expected.bar, side, codes, expected.price)), t
        last = asof.iloc[t]
        assert (last.point_bar == expected.bar.iloc[-1]) if len(expected) else np.isnan(last.point_bar)
    assert k == len(rows) > 100
