import threading

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
    assert list(outputs.columns) == NAMES
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


def test_analyze_needs_high_and_low():
    with pytest.raises(KeyError, match="low"):
        vlmstruct.analyze(pd.DataFrame({"high": [1.0]}))


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
                                   "pivot_under_way"]).all()


def test_replay_without_close_or_low():
    df = pd.DataFrame({"high": [10.0, 9, 8, 7, 6], "low": [9.0, 8, 7, 6, 5]})
    asof, events = vlmstruct.replay(df)
    assert asof["close_vs_pivot"].isna().all()
    assert events["text"].tolist()[-3:] == ["stroke bottom at bar 4 appeared (5)",
                                            "segment bottom at bar 4 appeared (5)",
                                            "segment (no pullback) bottom at bar 4 appeared (5)"]
    with pytest.raises(KeyError, match="'low'"):
        vlmstruct.replay(df[["high"]])
