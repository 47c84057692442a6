"""vlmstruct.Stream against replay: bars loaded, pushed, updated while forming, or carried over in a
snapshot to a fresh process show at every bar the events and as-of rows replay shows of the whole
frame (and, with levels, the tool's `replay --levels`)."""
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import vlmstruct
from conftest import BUILD, SOURCE

DAILY = SOURCE / "data" / "synthetic_daily_bars.csv"
INTRADAY = SOURCE / "data" / "synthetic_intraday_bars.csv"
LEVELS = "30min,day"


@pytest.fixture(scope="module")
def daily():
    return vlmstruct.read_bars(DAILY)


@pytest.fixture(scope="module")
def intraday():
    return vlmstruct.read_bars(INTRADAY)


@pytest.fixture(scope="module")
def tool_levels(vlmstruct_bin, tmp_path_factory):
    """The tool's replay --levels of the intraday file, only the higher levels' columns."""
    made = {}

    def rows(levels=LEVELS, *flags):
        if (levels, flags) not in made:
            out = tmp_path_factory.mktemp("levels") / "asof.csv"
            run = subprocess.run([str(vlmstruct_bin), "replay", str(INTRADAY), "--levels", levels, *flags,
                                  "-o", str(out)], capture_output=True, text=True, timeout=300)
            assert run.returncode == 0, run.stderr
            found = pd.read_csv(out)
            made[levels, flags] = found[[c for c in found.columns if c.split("_")[0] in levels.split(",")]]
        return made[levels, flags]

    return rows


def between(events, first, last):
    """replay's events of bars first to last - 1."""
    return events[(events.bar >= first) & (events.bar < last)].reset_index(drop=True)


def same_events(got, want):
    pd.testing.assert_frame_equal(pd.concat(got, ignore_index=True) if isinstance(got, list) else got, want)


def same_rows(rows, asof, level_rows=None):
    """Series of stream.asof against replay's as-of rows (float64 as asof gives them; the names are
    the bars' dates) and, with levels, the tool's level columns (float32 as the file prints them)."""
    got = pd.DataFrame(rows)
    pd.testing.assert_frame_equal(got[asof.columns], asof.astype("float64"), check_names=False)
    if level_rows is not None:
        assert [c for c in got.columns if c not in asof.columns] == list(level_rows.columns)
        np.testing.assert_array_equal(got[level_rows.columns].to_numpy(np.float32),
                                      level_rows.to_numpy(np.float32))


def push_forms(df, i):
    """Bar i of df as push takes it, in each form in turn: a frame's row (its date as its name),
    a one-row frame, a dict in capitals, the values by position and by keyword."""
    row, date = df.iloc[i], df.index[i]
    values = [row.get(c) for c in ("open", "high", "low", "close", "volume")]
    return [
        lambda s: s.push(row),
        lambda s: s.push(df.iloc[[i]]),
        lambda s: s.push({"DATE": date, **{str(c).upper(): v for c, v in row.items()}}),
        lambda s: s.push(date, *values),
        lambda s: s.push(date=date, **row.to_dict()),
    ][i % 5]


# name: (source, columns the stream gets, options, cuts); the bars after a cut are pushed, up to
# PUSHED of them (the snapshot test pushes to the end).
FEEDS = {
    "daily": ("daily", None, {}, [0, 1234, 2990]),
    # A stream fixed to high and low by its history ignores the other columns of later bars.
    "high-low, other points": ("daily", ["high", "low"], {"macd": (5, 13, 4), "force": "peak"}, [1, 2000]),
    "minutes with levels": ("intraday", None, {"levels": LEVELS}, [60, 4000]),
}
PUSHED = 400


@pytest.mark.parametrize("name", FEEDS)
def test_push_after_load_shows_what_replay_shows_at_each_bar(request, tool_levels, name):
    source, columns, options, cuts = FEEDS[name]
    df = request.getfixturevalue(source)
    loaded = df if columns is None else df[columns]
    points = {k: v for k, v in options.items() if k != "levels"}
    asof, events = vlmstruct.replay(loaded, **points)
    for cut in cuts:
        end = min(len(df), cut + PUSHED)
        stream = vlmstruct.Stream(**options)
        same_events(stream.load(loaded[:cut]), between(events, 0, cut))
        got, rows = [], []
        for i in range(cut, end):
            got.append(push_forms(df, i)(stream))
            rows.append(stream.asof)
        same_events(got, between(events, cut, end))
        same_rows(rows, asof.iloc[cut:end], tool_levels().iloc[cut:end] if "levels" in options else None)
        assert len(stream) == end and not stream.forming


def forming_versions(df, i, rng):
    """Bar i as it forms (each a rewrite of the one before, with the bar's date): at its open,
    twice from inside its range, then as it closes."""
    bar = df.iloc[i]
    versions = []
    for ticks in (0, 1, 1):
        lo, hi = np.sort(rng.uniform(bar.low, bar.high, 2)).astype(np.float32) if ticks else (bar.open, bar.open)
        version = bar.astype("float64")
        version[["high", "low", "close"]] = max(hi, bar.open), min(lo, bar.open), hi
        versions.append(version)
    return versions + [bar]


@pytest.mark.parametrize("source,options,cut", [("daily", {}, 400), ("intraday", {"levels": LEVELS}, 2300)])
def test_updates_then_push_equal_the_push_alone(request, tool_levels, source, options, cut):
    """Each update shows what replay shows of the bars so far ended by the provisional bar; the push
    of the finished bar after them shows what replay shows of the whole frame."""
    df = request.getfixturevalue(source)
    rng = np.random.default_rng(cut)
    asof, events = vlmstruct.replay(df)
    stream = vlmstruct.Stream(**options)
    stream.load(df[:cut])
    got, rows = [], []
    for i in range(cut, cut + 25):
        for version in forming_versions(df, i, rng):
            shown = stream.update(version)
            provisional = pd.concat([df[:i], version.to_frame().T.astype(df.dtypes)])
            p_asof, p_events = vlmstruct.replay(provisional)
            same_events(shown, between(p_events, i, i + 1))
            same_rows([stream.asof], p_asof.iloc[i:])
            assert (len(stream), stream.forming) == (i, True)
        got.append(stream.push(df.iloc[i]))
        rows.append(stream.asof)
    same_events(got, between(events, cut, cut + 25))
    same_rows(rows, asof.iloc[cut:cut + 25], tool_levels().iloc[cut:cut + 25] if options else None)


CONTINUE = """
import pickle, sys
sys.path.insert(0, sys.argv[1])
import pandas as pd, vlmstruct
stream = vlmstruct.Stream.restore(open(sys.argv[2], "rb").read())
rest = pd.read_pickle(sys.argv[3])
state, events, rows = (len(stream), stream.forming), [], []
for i in range(len(rest)):
    events.append(stream.push(rest.iloc[[i]]))
    rows.append(stream.asof)
pickle.dump((state, events, rows), open(sys.argv[4], "wb"))
"""


@pytest.mark.parametrize("source,options,cut,forming", [
    ("daily", {"force": "slope", "class1_min_run": 3}, 2200, True),
    # A session gap longer than the lunch break moves the afternoon's hour bins.
    ("intraday", {"levels": "60min,day", "session_gap": 100}, 3600, False),
])
def test_a_snapshot_continues_in_a_fresh_process_as_the_unbroken_run(request, tool_levels, tmp_path, source,
                                                                     options, cut, forming):
    df = request.getfixturevalue(source)
    stream = vlmstruct.Stream(**options)
    stream.load(df[:cut])
    if forming:
        stream.update(forming_versions(df, cut, np.random.default_rng(1))[1])
    files = [tmp_path / name for name in ("stream.bin", "rest.pkl", "out.pkl")]
    files[0].write_bytes(stream.snapshot())
    df[cut:].to_pickle(files[1])
    run = subprocess.run(["/usr/bin/python3", "-c", CONTINUE, str(BUILD / "python"), *map(str, files)],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    state, got, rows = pd.read_pickle(files[2])
    assert state == (cut, forming)
    points = {k: v for k, v in options.items() if k in ("force", "class1_min_run")}
    asof, events = vlmstruct.replay(df, **points)
    same_events(got, between(events, cut, len(df)))
    levels = options.get("levels")
    same_rows(rows, asof.iloc[cut:], tool_levels(levels, "--session-gap", "100").iloc[cut:] if levels else None)


def seen(stream):
    """What a stream shows without a bar: its length, whether a bar is forming, its as-of row. (Its
    snapshot holds, besides its state, the bytes of unused room in fixed-size fields, so two
    snapshots of one state need not be equal.) That the stream then carries on as replay does
    is checked by pushing the next bar."""
    return pd.concat([pd.Series({"bars": len(stream), "forming": stream.forming}, dtype="float64"), stream.asof])


def later(df, k, days=1):
    return df.index[k] + pd.Timedelta(days=days)


# name: (the bar, as a function of the frame and the last bar's position; what the message says)
BAD_BARS = {
    "high NaN": (lambda df, k: (later(df, k), 10.0, np.nan, 9.0, 9.5, 1.0), "high is not a finite number"),
    "close infinite": (lambda df, k: (later(df, k), 10.0, 11.0, 9.0, np.inf, 1.0), "close is not a finite"),
    "volume NaN": (lambda df, k: (later(df, k), 10.0, 11.0, 9.0, 9.5, np.nan), "volume is not a finite"),
    "low above high": (lambda df, k: (later(df, k), 10.0, 9.0, 11.0, 9.5, 1.0), "low 11 is above high 9"),
    "same date": (lambda df, k: (df.index[k], 10.0, 11.0, 9.0, 9.5, 1.0), "not after the last bar's"),
    "earlier date": (lambda df, k: (later(df, k, -3), 10.0, 11.0, 9.0, 9.5, 1.0), "not after the last bar's"),
    "no open": (lambda df, k: (later(df, k), None, 11.0, 9.0, 9.5, 1.0), "have an open"),
    "no date": (lambda df, k: (None, 10.0, 11.0, 9.0, 9.5, 1.0), "needs its date"),
    "a word for a price": (lambda df, k: (later(df, k), 10.0, "11,5", 9.0, 9.5, 1.0), "not a number"),
}


@pytest.mark.parametrize("forming", [False, True], ids=["", "forming"])
@pytest.mark.parametrize("name", BAD_BARS)
def test_a_bad_bar_is_refused_and_changes_nothing(daily, name, forming):
    make, said = BAD_BARS[name]
    _, events = vlmstruct.replay(daily[:101])
    stream = vlmstruct.Stream()
    stream.load(daily[:100])
    if forming:
        stream.update(daily.iloc[100])
    before = seen(stream)
    for method in (stream.push, stream.update):
        with pytest.raises(ValueError, match=said):
            method(*make(daily, 99))
        pd.testing.assert_series_equal(seen(stream), before)
    same_events(stream.push(daily.iloc[100]), between(events, 100, 101))


@pytest.mark.parametrize("first,rows,bad,said", [
    (0, lambda df: df[:50].assign(volume=np.where(np.arange(50) == 30, np.nan, df.volume[:50])), 30,
     "volume is not a finite number"),
    (100, lambda df: df[90:150], 90, "not after the last bar's"),
    (100, lambda df: df[100:150].assign(high=np.float32(1.0)), 100, "is above high"),
])
def test_a_load_with_a_bad_bar_anywhere_changes_nothing(daily, first, rows, bad, said):
    stream = vlmstruct.Stream()
    stream.load(daily[:first])
    before = seen(stream)
    with pytest.raises(ValueError, match=said) as refused:
        stream.load(rows(daily))
    assert str(refused.value).startswith(f"row {daily.index[bad]!r}")
    pd.testing.assert_series_equal(seen(stream), before)
    _, events = vlmstruct.replay(daily)
    same_events(stream.load(daily[first:]), between(events, first, len(daily)))


def test_bytes_that_are_not_a_snapshot_are_refused(daily):
    stream = vlmstruct.Stream(levels="week")
    stream.load(daily[:300])
    good = stream.snapshot()
    flipped = bytearray(good)
    flipped[len(good) // 2] ^= 0x10
    for bad in (b"", good[:1], good[:-1], good[: len(good) // 2], bytes(flipped), good + b"\0", b"x" * len(good)):
        with pytest.raises(ValueError, match="snapshot"):
            vlmstruct.Stream.restore(bad)
    with pytest.raises(TypeError):
        vlmstruct.Stream.restore("not bytes")
    assert vlmstruct.Stream.restore(good).snapshot() == good


@pytest.mark.parametrize("options,said", [({"levels": "45min"}, "45min"), ({"bins": "hours"}, "bins"),
                                          ({"levels": "day", "session_gap": -5}, "gap")])
def test_bad_stream_options_are_refused(options, said):
    with pytest.raises(ValueError, match=said):
        vlmstruct.Stream(**options)
