"""The module's frames against the tool's files for the same bars: every column, its dtype, its
missing values, the index. The tool writes its files through its own writers, so this compares two
independent paths over one engine."""
import json
import subprocess

import numpy as np
import pandas as pd
import pytest

import vlmstruct
from conftest import SOURCE, generated_bars

# Prices keep the float32 the engine computes in; bars, counts and codes are float64 so that a
# missing value is NaN.
PRICE_SUFFIXES = ("close", "price", "upper", "lower", "force", "ratio")


def run(binary, *args):
    result = subprocess.run([str(binary), *map(str, args)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return result


def walk_file(path, n, seed, close=True, ties=False):
    high, low = generated_bars("walk", n, seed)
    if ties:  # whole numbers: equal highs and equal lows everywhere
        high, low = np.ceil(high), np.floor(low)
    frame = pd.DataFrame({"date": pd.date_range("2021-03-01 09:31", periods=n, freq="min").strftime("%Y-%m-%d %H:%M"),
                          "high": high, "low": low})
    if close:
        frame["close"] = np.round((high + low) / 2 + (high - low) * 0.25, 3)
    frame.to_csv(path, index=False)
    return path


# name -> how to make the bar file, given a folder
SOURCES = {
    "daily_sample": lambda tmp: SOURCE / "data" / "synthetic_daily_bars.csv",
    "intraday_sample": lambda tmp: SOURCE / "data" / "synthetic_intraday_bars.csv",
    "walk": lambda tmp: walk_file(tmp / "walk.csv", 20000, 11),
    "walk_without_close": lambda tmp: walk_file(tmp / "open.csv", 6000, 12, close=False),
    "ties": lambda tmp: walk_file(tmp / "ties.csv", 5000, 13, ties=True),
}


def tool_csv(path):
    return pd.read_csv(path, float_precision="round_trip", keep_default_na=False, na_values=[""])


def assert_numeric_column(mine, text, name):
    expected = np.float32 if name.endswith(PRICE_SUFFIXES) else np.float64
    assert mine.dtype == expected, name
    assert np.array_equal(mine.to_numpy(), text.to_numpy(dtype=expected), equal_nan=True), name


@pytest.mark.parametrize("source", sorted(SOURCES))
def test_replay_frames_equal_the_tools_files(vlmstruct_bin, tmp_path, source):
    bars = SOURCES[source](tmp_path)
    run(vlmstruct_bin, "replay", bars, "-o", tmp_path / "asof.csv", "--events", tmp_path / "events.csv")
    df = vlmstruct.read_bars(bars)
    asof, events = vlmstruct.replay(df)

    tool = tool_csv(tmp_path / "asof.csv")
    assert list(asof.columns) == list(tool.columns[1:])
    assert asof.index.equals(df.index)
    for name in asof.columns:
        assert_numeric_column(asof[name], tool[name], name)
    assert asof["close_vs_pivot"].isna().all() == ("close" not in df.columns)

    tool = tool_csv(tmp_path / "events.csv")
    numeric = [c for c in tool.columns if c not in ("date", "subject", "event", "text")]
    assert list(events.columns) == ["bar", "date", "subject", "event"] + numeric[1:] + ["text"]
    assert isinstance(events.index, pd.RangeIndex) and len(events) == len(tool) > 0
    for name in numeric:
        assert_numeric_column(events[name], tool[name], name)
    for name in ("subject", "event", "text"):
        assert events[name].dtype == object, name
        assert events[name].tolist() == tool[name].tolist(), name
    assert events["date"].tolist() == pd.to_datetime(tool["date"]).tolist()


@pytest.mark.parametrize("source", sorted(SOURCES))
def test_analyze_frames_equal_the_tools_files(vlmstruct_bin, tmp_path, source):
    bars = SOURCES[source](tmp_path)
    run(vlmstruct_bin, "analyze", bars, "-o", tmp_path / "a.csv", "--json", tmp_path / "a.json", "--open-pivot")
    df = vlmstruct.read_bars(bars)
    outputs, zones = vlmstruct.analyze(df, include_open_pivot=True)

    tool = pd.read_csv(tmp_path / "a.csv", float_precision="round_trip", keep_default_na=False,
                       dtype={"trading_point": str})
    assert list(outputs.columns) == list(tool.columns[3:])
    assert outputs.index.equals(df.index)
    for name in vlmstruct.function_names():
        assert outputs[name].dtype == np.float32, name
        assert np.array_equal(outputs[name].to_numpy(), tool[name].to_numpy(dtype=np.float32)), name
    assert outputs["trading_point"].dtype == object
    assert outputs["trading_point"].tolist() == tool["trading_point"].tolist()

    pivots = json.loads((tmp_path / "a.json").read_text())["pivots"]
    assert len(zones) == len(pivots) > 0
    for zone, pivot in zip(zones, pivots):
        assert sorted(zone) == ["end", "end_date", "lower", "open", "run_count", "start", "start_date", "trend",
                                "upper"]
        assert (zone["start"], zone["end"], zone["trend"], zone["run_count"], zone["open"]) == (
            pivot["start_bar"], pivot["end_bar"], pivot["trend"], pivot["run_count"], pivot["open"])
        assert (np.float32(zone["upper"]), np.float32(zone["lower"])) == (np.float32(pivot["upper"]),
                                                                          np.float32(pivot["lower"]))
        assert (zone["start_date"], zone["end_date"]) == (pd.Timestamp(pivot["start_date"]),
                                                          pd.Timestamp(pivot["end_date"]))
        assert all(type(zone[k]) is int for k in ("start", "end", "trend", "run_count"))
        assert type(zone["upper"]) is float and type(zone["open"]) is bool


def test_replays_in_threads_equal_replays_one_after_another():
    """The engine runs without the GIL and takes it back now and then to make the event texts."""
    import threading

    frames = []
    for seed in range(4):
        high, low = generated_bars("walk", 40000, 20 + seed)  # more texts than one hand-over holds
        frames.append(pd.DataFrame({"high": high, "low": low, "close": (high + low) / 2}))
    alone = [vlmstruct.replay(df) for df in frames]
    together = [None] * len(frames)

    def work(k):
        together[k] = vlmstruct.replay(frames[k])

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(frames))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for (asof, events), (asof_t, events_t) in zip(alone, together):
        assert len(events) > 2 ** 16
        pd.testing.assert_frame_equal(asof_t, asof)
        pd.testing.assert_frame_equal(events_t, events)


INTRADAY = SOURCE / "data" / "synthetic_intraday_bars.csv"
# name -> (bar file maker, levels, bins, session gap in minutes or None, with the pivot under way)
LEVEL_CASES = {
    "intraday_sessions": (lambda tmp: INTRADAY, ["30min", "60min", "day"], "session", None, False),
    "intraday_clock_open_pivot": (lambda tmp: INTRADAY, ["day", "30min"], "clock", None, True),
    "intraday_wide_gap": (lambda tmp: INTRADAY, ["2h", "week"], "session", 200, False),
    "daily_sample": (lambda tmp: SOURCE / "data" / "synthetic_daily_bars.csv", ["week", "month"], "session", None,
                     True),
    "walk": (lambda tmp: walk_file(tmp / "walk.csv", 20000, 14), ["5min", "30min", "day"], "session", None, False),
}


def links_as_json(links):
    def rows(frame):
        kinds = ("strokes", "segments", "pivots", "points")
        return [{"base": [r.base_first, r.base_last],
                 "inside": {k: [getattr(r, f"{k}_first"), getattr(r, f"{k}_count")] for k in kinds}}
                for r in frame.itertuples()]

    ends = [{"base_bar": int(b), "lower": None if pd.isna(lower) else int(lower)}
            for b, lower in zip(links.stroke_ends["base_bar"], links.stroke_ends["lower"])]
    return {"strokes": rows(links.strokes), "segments": rows(links.segments), "pivots": rows(links.pivots),
            "points": rows(links.points), "stroke_ends": ends, "confirmations": links.confirmations}


@pytest.mark.parametrize("case", sorted(LEVEL_CASES))
def test_levels_are_each_levels_analysis_and_link_as_the_tool_links_them(vlmstruct_bin, tmp_path, case):
    make, levels, bins, gap, open_pivot = LEVEL_CASES[case]
    bars = make(tmp_path)
    args = ["--levels", ",".join(levels), "--bins", bins] + (["--session-gap", gap] if gap else [])
    run(vlmstruct_bin, "analyze", bars, *args, "--json", tmp_path / "levels.json",
        *(["--open-pivot"] if open_pivot else []))
    doc = json.loads((tmp_path / "levels.json").read_text())
    df = vlmstruct.read_bars(bars)
    found = vlmstruct.analyze(df, include_open_pivot=open_pivot, levels=levels, bins=bins, session_gap=gap)

    assert list(found.levels) == [level["level"] for level in doc["levels"]]
    for name, level in found.levels.items():
        level_bars = df if name == "base" else vlmstruct.resample(df, name, bins=bins, session_gap=gap)
        if name != "base":
            pd.testing.assert_frame_equal(level.bars, level_bars)
            assert level.bars.attrs == level_bars.attrs
        outputs, zones = vlmstruct.analyze(level_bars, include_open_pivot=open_pivot)
        pd.testing.assert_frame_equal(level.outputs, outputs)
        assert level.zones == zones
        pd.testing.assert_frame_equal(level.points, vlmstruct.points(level_bars))
        for kind, column in (("strokes", "stroke"), ("segments", "segment")):
            ends = np.flatnonzero(outputs[column].to_numpy())
            assert level.__getattribute__(kind)["bar"].tolist() == ends.tolist(), (name, kind)
            assert level.__getattribute__(kind)["date"].tolist() == list(outputs.index[ends]), (name, kind)

    names = list(found.levels)
    assert list(found.links) == list(zip(names[1:], names))
    for (higher, lower), level in zip(found.links, doc["levels"][1:]):
        assert (higher, lower) == (level["level"], level["lower"])
        assert links_as_json(found.links[(higher, lower)]) == level["links"], higher


@pytest.mark.parametrize("levels,frame,message", [
    (["45min"], "dated", "'45min' is not a level"),
    (["day", "d"], "dated", "day is given twice"),
    ([], "dated", "'' is not a level"),
    (["day"], "undated", "needs dates"),
    (["30min"], "daily", "minutes apart"),
])
def test_levels_that_cannot_be_made_are_refused(levels, frame, message):
    df = vlmstruct.read_bars(SOURCE / "data" / "synthetic_daily_bars.csv" if frame == "daily" else INTRADAY)
    if frame == "undated":
        df = df.reset_index(drop=True)
    with pytest.raises(ValueError, match=message):
        vlmstruct.analyze(df, levels=levels)
