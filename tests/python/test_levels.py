"""Several timeframes of one file: each level is what analyze gives on that level's resampled file."""
import json
import subprocess

import pandas as pd
import pytest

from conftest import SOURCE

INTRADAY = SOURCE / "data" / "synthetic_intraday_bars.csv"


def run(binary, *args):
    return subprocess.run([str(binary), *map(str, args)], capture_output=True, text=True, timeout=300)


@pytest.mark.parametrize("source,levels", [(INTRADAY, ["30min", "60min", "day"]),
                                           ("sample", ["week", "month"])])
def test_each_level_is_the_analysis_of_its_resampled_file(vlmstruct_bin, sample_csv, tmp_path, source, levels):
    bars = sample_csv if source == "sample" else source
    out = run(vlmstruct_bin, "analyze", bars, "--levels", ",".join(levels), "--json", tmp_path / "levels.json",
              "--open-pivot")
    assert out.returncode == 0, out.stderr
    doc = json.loads((tmp_path / "levels.json").read_text())
    assert [level["level"] for level in doc["levels"]] == ["base", *levels]
    for level in doc["levels"][1:]:
        resampled = tmp_path / f"{level['level']}.csv"
        assert run(vlmstruct_bin, "resample", bars, "--level", level["level"], "-o", resampled).returncode == 0
        assert run(vlmstruct_bin, "analyze", resampled, "--json", tmp_path / "one.json", "--open-pivot").returncode == 0
        alone = json.loads((tmp_path / "one.json").read_text())
        for key in ("bars", "strokes", "segments", "pivots", "points"):
            assert level["structures"][key] == alone[key], (level["level"], key)


def test_resampled_bars_against_a_direct_pandas_resample_with_clock_bins(vlmstruct_bin, tmp_path):
    out = run(vlmstruct_bin, "resample", INTRADAY, "--level", "30min", "--bins", "clock", "-o", tmp_path / "r.csv")
    assert out.returncode == 0, out.stderr
    mine = pd.read_csv(tmp_path / "r.csv")
    df = pd.read_csv(INTRADAY, parse_dates=["datetime"]).set_index("datetime")
    bins = df.resample("30min", closed="left", label="left")
    want = pd.DataFrame({"date": bins["open"].apply(lambda s: s.index[-1] if len(s) else pd.NaT),
                         "open": bins["open"].first(), "high": bins["high"].max(), "low": bins["low"].min(),
                         "close": bins["close"].last(), "volume": bins["volume"].sum()}).dropna()
    assert len(mine) == len(want)
    assert list(mine["date"]) == [t.strftime("%Y-%m-%d %H:%M") for t in want["date"]]
    for column in ("open", "high", "low", "close", "volume"):
        assert (mine[column].to_numpy() == want[column].to_numpy()).all(), column


def test_stroke_ends_are_linked_where_the_extreme_was_made(vlmstruct_bin, tmp_path):
    assert run(vlmstruct_bin, "analyze", INTRADAY, "--levels", "30min,day", "--json",
               tmp_path / "l.json").returncode == 0
    doc = json.loads((tmp_path / "l.json").read_text())
    base = pd.read_csv(INTRADAY)
    for higher, lower in zip(doc["levels"][1:], doc["levels"]):
        strokes = higher["structures"]["strokes"]
        lower_ends = lower["structures"]["strokes"]
        for stroke, match in zip(strokes, higher["links"]["stroke_ends"]):
            price = base["high" if stroke["direction"] == 1 else "low"][match["base_bar"]]
            assert price == pytest.approx(stroke["end_price"], abs=0)
            if match["lower"] is not None:
                assert lower_ends[match["lower"]]["direction"] == stroke["direction"]
        for link in higher["links"]["strokes"]:
            first, count = link["inside"]["strokes"]
            for k in range(first, first + count):
                assert link["base"][0] <= higher_base_of(lower, lower_ends, k)[0]


def higher_base_of(level, ends, k):
    # A lower stroke's first base bar: the level's own base ranges are in its links to the level below,
    # and the base level's bars are base bars.
    start = 0 if k == 0 else ends[k - 1]["end_bar"]
    if level["level"] == "base":
        return start, ends[k]["end_bar"]
    return level["links"]["strokes"][k]["base"]


# "m" alone could be minutes or a month: refused, naming both.
@pytest.mark.parametrize("args,said", [(["--levels", "45min"], "not a level"), (["--levels", "day,day"], "twice"),
                                       (["--levels", "day", "--bins", "x"], "bins"),
                                       (["--levels", "1m"], "'1m' could be 1min or month"),
                                       (["--levels", "30min,m"], "'m' could be 1min or month")])
def test_bad_levels_are_usage_errors(vlmstruct_bin, sample_csv, tmp_path, args, said):
    out = run(vlmstruct_bin, "analyze", sample_csv, "-o", tmp_path / "x.csv", *args)
    assert out.returncode == 2, out.stderr
    assert said in out.stderr
    assert not (tmp_path / "x.csv").exists()


def test_volumes_are_read_summed_and_written_exactly(vlmstruct_bin, tmp_path):
    """A sum of whole volumes is exact up to 2^53, as the tool writes it and as the module gives it."""
    import numpy as np
    import vlmstruct

    volumes = [16777216, 1, 123456789, 3, 8, 9007199254740000, 991, 0, 0, 1]
    rows = [f"2024-01-02 09:{31 + k},10,10.5,9.5,10,{v}" for k, v in enumerate(volumes)]
    bars = tmp_path / "bars.csv"
    bars.write_text("date,open,high,low,close,volume\n" + "\n".join(rows) + "\n")
    # By hand: 09:31-09:35 holds the first five, 09:36-09:40 the rest.
    sums = ["140234017", "9007199254740992"]
    assert run(vlmstruct_bin, "resample", bars, "--level", "5min", "-o", tmp_path / "r.csv").returncode == 0
    lines = (tmp_path / "r.csv").read_text().splitlines()
    assert [line.split(",")[-1] for line in lines[1:]] == sums
    df = vlmstruct.read_bars(bars)
    assert df["volume"].dtype == np.float64 and list(df["volume"]) == volumes
    assert list(vlmstruct.resample(df, "5min")["volume"]) == [int(s) for s in sums]


@pytest.mark.parametrize("level,bins", [("60min", "session"), ("30min", "clock"), ("day", "session"),
                                        ("week", "session"), ("month", "session"), ("2h", "clock")])
def test_the_module_resamples_as_the_tool_does(vlmstruct_bin, tmp_path, level, bins):
    import numpy as np
    import vlmstruct

    assert run(vlmstruct_bin, "resample", INTRADAY, "--level", level, "--bins", bins, "-o",
               tmp_path / "r.csv").returncode == 0
    tool = vlmstruct.read_bars(tmp_path / "r.csv")
    # Shuffled rows are put back in date order first, as the tool does with a file.
    df = vlmstruct.read_bars(INTRADAY).sample(frac=1.0, random_state=3)
    with pytest.warns(UserWarning, match="not in date order"):
        mine = vlmstruct.resample(df, level, bins=bins)
    assert list(mine.index) == list(tool.index)
    for column in ("open", "high", "low", "close", "volume"):
        assert np.array_equal(mine[column].to_numpy(), tool[column].to_numpy()), column
    assert mine["first_base"].iloc[0] == 0 and mine["last_base"].iloc[-1] == len(df) - 1
    with pytest.raises(ValueError, match="not a level"):
        vlmstruct.resample(df, "45min")


def read_rows(path):
    lines = path.read_text().splitlines()
    header = lines[0].split(",")
    return header, [dict(zip(header, line.split(","))) for line in lines[1:]]


def test_confirmed_by_columns_hold_the_json_confirmations(vlmstruct_bin, tmp_path):
    assert run(vlmstruct_bin, "analyze", INTRADAY, "--levels", "5min,30min", "-o", tmp_path / "l.csv", "--json",
               tmp_path / "l.json").returncode == 0
    doc = json.loads((tmp_path / "l.json").read_text())
    header, rows = read_rows(tmp_path / "l.csv")
    # New columns come after every column there was, so each old column keeps its place.
    assert header[-2:] == ["5min_confirmed_by", "30min_confirmed_by"]
    assert header[-3] == "30min_trading_point"
    confirmed = 0
    for level in doc["levels"][1:]:
        name = level["level"]
        want = {}
        for point, by in zip(level["structures"]["points"], level["links"]["confirmations"]):
            if by:
                want[point["bar"]] = str(by[-1])
                lower = next(lv for lv in doc["levels"] if lv["level"] == level["lower"])
                assert all(lower["structures"]["points"][k]["side"] == point["side"] for k in by)
        for row in rows:
            assert row[f"{name}_confirmed_by"] == want.get(int(row[f"{name}_bar"]), ""), (name, row["date"])
            confirmed += row[f"{name}_confirmed_by"] != ""
    assert confirmed > 0


def last_structures(structures):
    """What an as-of row shows of a level: the marks in progress, the last listed pivot, the one under way."""
    listed = [p for p in structures["pivots"] if not p.get("open")]
    open_ = [p for p in structures["pivots"] if p.get("open")]
    return {"stroke": structures["strokes"][-1] if structures["strokes"] else None,
            "segment": structures["segments"][-1] if structures["segments"] else None,
            "pivot": listed[-1] if listed else None, "under_way": open_[-1] if open_ else None,
            "point": structures["points"][-1] if structures["points"] else None}


def check_row_against_analysis(row, prefix, structures):
    want = last_structures(structures)
    for mark in ("stroke", "segment"):
        m = want[mark]
        got = (row[f"{prefix}_{mark}_bar"], row[f"{prefix}_{mark}_dir"], row[f"{prefix}_{mark}_price"])
        assert got == (("", "", "") if m is None else (str(m["end_bar"]), str(m["direction"]), got[2])), (prefix, mark)
        if m is not None:
            assert float(got[2]) == pytest.approx(m["end_price"], abs=0), (prefix, mark)
    for name, column in (("pivot", "pivot"), ("under_way", "under_way")):
        p = want[name]
        got = (row[f"{prefix}_{column}_start"], row[f"{prefix}_{column}_end"], row[f"{prefix}_{column}_trend"])
        assert got == (("", "", "") if p is None else (str(p["start_bar"]), str(p["end_bar"]), str(p["trend"]))), \
            (prefix, name)
    p = want["point"]
    assert (row[f"{prefix}_point_bar"], row[f"{prefix}_point_side"]) == \
        (("", "") if p is None else (str(p["bar"]), "1" if p["side"] == "buy" else "-1")), prefix


def test_replay_across_levels_is_the_analysis_of_the_file_so_far(vlmstruct_bin, tmp_path):
    """At the last bar and at bars inside an unfinished day, each level's as-of row says what
    analyze --levels says of the file cut after that bar; the base columns are the one-level replay."""
    levels = ["5min", "30min", "day"]
    out = run(vlmstruct_bin, "replay", INTRADAY, "--levels", ",".join(levels), "-o", tmp_path / "asof.csv")
    assert out.returncode == 0, out.stderr
    header, rows = read_rows(tmp_path / "asof.csv")
    assert run(vlmstruct_bin, "replay", INTRADAY, "-o", tmp_path / "one.csv").returncode == 0
    one_header, one = read_rows(tmp_path / "one.csv")
    assert header == ["date"] + [f"{lv}_{c}" for lv in ["base", *levels] for c in one_header[1:]]
    assert all(r["date"] == s["date"] and all(r[f"base_{c}"] == s[c] for c in one_header[1:])
               for r, s in zip(rows, one))
    lines = INTRADAY.read_text().splitlines(keepends=True)
    for t in (len(rows) - 1, 300, 1000, 2345):
        cut = tmp_path / f"cut{t}.csv"
        cut.write_text("".join(lines[:t + 2]))
        assert run(vlmstruct_bin, "analyze", cut, "--levels", ",".join(levels), "--open-pivot", "--json",
                   tmp_path / "cut.json").returncode == 0
        doc = json.loads((tmp_path / "cut.json").read_text())
        for level in doc["levels"]:
            assert int(rows[t][f"{level['level']}_bar"]) == level["bars"] - 1
            check_row_against_analysis(rows[t], level["level"], level["structures"])


@pytest.mark.parametrize("args,code", [(["--events", "e.csv"], 2), (["--levels", "45min"], 2),
                                       (["--no-dates"], 1)])
def test_replay_levels_refusals(vlmstruct_bin, tmp_path, args, code):
    bars = INTRADAY
    if "--no-dates" in args:  # levels need dates
        bars = tmp_path / "nodates.csv"
        bars.write_text("high,low\n2,1\n3,2\n")
    extra = [] if "--levels" in args else ["--levels", "30min"]
    out = run(vlmstruct_bin, "replay", bars, "-o", tmp_path / "a.csv", *extra,
              *[str(tmp_path / a) if a.endswith(".csv") else a for a in args])
    assert out.returncode == code, out.stderr
    assert not (tmp_path / "a.csv").exists() and not (tmp_path / "e.csv").exists()
