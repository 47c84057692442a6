import threading
import warnings

import numpy as np
import pandas as pd
import pytest

import vlmstruct
from conftest import generated_bars, same_bits

NAMES = vlmstruct.function_names()


def module_all_nine(high, low):
    signal = vlmstruct.stroke(high, low)
    return [vlmstruct.turning_point(high, low), signal] + [
        getattr(vlmstruct, name)(signal, high, low) for name in NAMES[2:]]


@pytest.mark.parametrize("kind", ["walk", "tiny", "nan"])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_bit_identical_to_the_plugin(plugin, kind, seed):
    high, low = generated_bars(kind, 5000, seed)
    for number, (mine, host) in enumerate(zip(module_all_nine(high, low), plugin.all_nine(high, low)), 1):
        assert mine.dtype == np.float32
        assert same_bits(mine, host), f"function {number}"


def test_any_float_dtype_is_taken_as_float32():
    high, low = generated_bars("walk", 800, 4)
    as32 = vlmstruct.stroke(high, low)
    assert same_bits(vlmstruct.stroke(high.astype(np.float64), low.astype(np.float64)), as32)
    assert same_bits(vlmstruct.stroke(list(high), list(low)), as32)
    ints = vlmstruct.stroke(np.array([10, 9, 8, 7, 6]), np.array([9, 8, 7, 6, 5]))
    assert ints.tolist() == [1, 0, 0, 0, -1]


def test_mismatched_lengths_are_refused():
    with pytest.raises(ValueError, match="low has 2 values, expected 3"):
        vlmstruct.stroke(np.ones(3), np.ones(2))
    with pytest.raises(ValueError, match="one-dimensional"):
        vlmstruct.stroke(np.ones((2, 2)), np.ones((2, 2)))


def test_analyze_dataframe_with_dates():
    high, low = generated_bars("walk", 3000, 5)
    index = pd.date_range("2015-01-01", periods=3000, freq="D", name="date")
    df = pd.DataFrame({"high": high, "low": low, "close": (high + low) / 2}, index=index)
    outputs, zones = vlmstruct.analyze(df)
    assert list(outputs.columns) == NAMES + ["trading_point"]
    assert outputs.index.equals(index)
    for name, expected in zip(NAMES, module_all_nine(high, low)):
        assert same_bits(outputs[name].to_numpy(), expected), name
    assert zones and all(not z["open"] for z in zones)
    upper = outputs["pivot_upper"].to_numpy()
    for z in zones:
        assert z["start_date"] == index[z["start"]]
        assert np.all(upper[z["start"] + 1:z["end"]] == np.float32(z["upper"]))
    _, with_open = vlmstruct.analyze(df, include_open_pivot=True)
    assert with_open[:len(zones)] == zones


def test_threads_share_nothing():
    series = [generated_bars("walk", 20000, s) for s in range(8)]
    expected = [module_all_nine(h, l) for h, l in series]
    results = [None] * 8

    def work(k):
        results[k] = module_all_nine(*series[k])

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(8):
        assert all(same_bits(a, b) for a, b in zip(results[k], expected[k]))


def test_replay_matches_the_command_line_and_never_looks_ahead(vlmstruct_bin, sample_csv, tmp_path):
    import subprocess

    df = pd.read_csv(sample_csv, index_col=0, parse_dates=True)
    asof, events = vlmstruct.replay(df)
    assert len(asof) == len(df) and (asof.index == df.index).all()
    out = tmp_path / "asof.csv"
    subprocess.run([str(vlmstruct_bin), "replay", str(sample_csv), "-o", str(out)], check=True)
    cli = pd.read_csv(out)
    for name in asof.columns:
        # Prices are float32 text in the file; bars and codes are small integers.
        mine = asof[name].astype("float32").to_numpy()
        assert np.array_equal(mine, cli[name].to_numpy(dtype="float32"), equal_nan=True), name
    # Cut the future off: the past is unchanged, rows and events alike.
    t = 1700
    past_asof, past_events = vlmstruct.replay(df.iloc[:t + 1])
    pd.testing.assert_frame_equal(past_asof, asof.iloc[:t + 1])
    pd.testing.assert_frame_equal(past_events, events[events["bar"] <= t])
    assert events["subject"].isin(["turning_point", "stroke", "segment", "segment_no_pullback", "pivot",
                                   "pivot_under_way", "trading_point"]).all()


def test_replay_without_close_or_low():
    df = pd.DataFrame({"high": [10.0, 9, 8, 7, 6], "low": [9.0, 8, 7, 6, 5]})
    asof, events = vlmstruct.replay(df)
    assert asof["close_vs_pivot"].isna().all()
    assert events["text"].tolist()[-3:] == ["stroke bottom at bar 4 appeared (5)",
                                            "segment bottom at bar 4 appeared (5)",
                                            "segment (no pullback) bottom at bar 4 appeared (5)"]
    with pytest.raises(KeyError, match="'low'"):
        vlmstruct.replay(df[["high"]])


def sample_frame(sample_csv, rows=400):
    return pd.read_csv(sample_csv, index_col="date", parse_dates=True).iloc[:rows]


# name -> (the frame as a user might hand it over, made from the clean one; sorted with a warning)
ACCEPTED = {
    "any_case_columns": (lambda df: df.rename(columns={"high": "High", "low": "LOW", "close": "Close"}), False),
    "newest_first_index": (lambda df: df.iloc[::-1], True),
    "text_index_named_date": (lambda df: df.set_axis(df.index.strftime("%Y-%m-%d"), axis=0), False),
    "vendor_date_column_newest_first": (
        lambda df: df.reset_index().rename(columns={"date": "trade_date"})
        .assign(trade_date=lambda d: d.trade_date.dt.strftime("%Y%m%d").astype(int)).iloc[::-1]
        .reset_index(drop=True), True),
    "chinese_columns": (lambda df: df.rename(columns={"high": "最高", "low": "最低", "close": "收盘"}), False),
}


@pytest.mark.parametrize("case", sorted(ACCEPTED))
def test_frames_are_read_as_the_tool_reads_files(sample_csv, case):
    clean = sample_frame(sample_csv)
    expected, expected_zones = vlmstruct.analyze(clean)
    expected_asof, _ = vlmstruct.replay(clean)
    make, reordered = ACCEPTED[case]
    df = make(clean)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        outputs, zones = vlmstruct.analyze(df)
        asof, _ = vlmstruct.replay(df)
    assert any("sorted ascending" in str(w.message) for w in caught) == reordered
    for name in NAMES:
        assert same_bits(outputs[name].to_numpy(), expected[name].to_numpy()), name
    assert [(z["start"], z["end"], z["upper"]) for z in zones] == [
        (z["start"], z["end"], z["upper"]) for z in expected_zones]
    assert np.array_equal(asof.to_numpy(), expected_asof.to_numpy(), equal_nan=True)
    if reordered:  # the outputs come in date order, on the rows they belong to
        assert list(outputs.index) == list(df.index[::-1])


def spoil_frame(column, value, row=10):
    def make(df):
        df = df.copy()
        if value is None:
            df[column] = df[column].astype(object)
        df.iloc[row, df.columns.get_loc(column)] = value
        return df
    return make


# name -> (frame from the clean one, pattern the ValueError must match)
REFUSED = {
    "nan_high": (spoil_frame("high", np.nan), r"row Timestamp\('2012-01-16 00:00:00'\), column 'high': not a finite"),
    "inf_low": (spoil_frame("low", np.inf), r"row Timestamp\('2012-01-16.*column 'low'"),
    "none_close": (spoil_frame("close", None), r"row Timestamp\('2012-01-16.*column 'close'"),
    "low_above_high": (spoil_frame("low", 1000.0), r"column 'low': low 1000 is above high"),
    "text_price": (spoil_frame("high", "abc"), r"row Timestamp\('2012-01-16.*column 'high': not a number: 'abc'"),
    "duplicated_index": (lambda df: df.set_axis(df.index.where(np.arange(len(df)) != 11, df.index[10]), axis=0),
                         r"duplicate date 2012-01-16 00:00:00 in the index"),
    "missing_date": (lambda df: df.set_axis(df.index.where(np.arange(len(df)) != 10, pd.NaT), axis=0),
                     r"row NaT, the index: not a valid date"),
    "impossible_date_in_column": (
        lambda df: df.reset_index().assign(date=lambda d: d.date.dt.strftime("%Y-%m-%d").where(
            d.index != 10, "2012-02-31")), r"row 10, column 'date': not a valid date: '2012-02-31'"),
}


@pytest.mark.parametrize("case", sorted(REFUSED))
@pytest.mark.parametrize("function", [vlmstruct.analyze, vlmstruct.replay])
def test_frames_that_break_the_rules_are_refused(sample_csv, case, function):
    make, pattern = REFUSED[case]
    with pytest.raises(ValueError, match=pattern):
        function(make(sample_frame(sample_csv)))


def test_analyze_needs_high_and_low_in_any_case():
    with pytest.raises(KeyError, match="'high' and 'low' \\(any case\\); missing: low"):
        vlmstruct.analyze(pd.DataFrame({"High": [1.0]}))


def test_version_is_the_projects(vlmstruct_bin):
    import re
    from conftest import SOURCE

    declared = re.search(r"project\(testVelmorDll VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text())
    assert vlmstruct.__version__ == declared.group(1)
    import subprocess
    shown = subprocess.run([str(vlmstruct_bin), "--version"], capture_output=True, text=True)
    assert shown.returncode == 0 and shown.stdout.strip() == f"vlmstruct {vlmstruct.__version__}"
