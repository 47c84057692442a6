"""The evaluation's faces agree: the tool on a file or a folder, vlmstruct.evaluate on a DataFrame, a
file or a folder, and vlmstruct.distributed.evaluate on a cluster give the same numbers; a failing file
is reported and the others complete; the report draws what the numbers say."""
import io
import json
import subprocess

import numpy as np
import pandas as pd
import pytest

import vlmstruct
from chart_page import Page
from conftest import generated_bars

HORIZONS = [1, 3, 8]


def tool(vlmstruct_bin, *args):
    return subprocess.run([str(vlmstruct_bin), *map(str, args)], capture_output=True, text=True, timeout=300)


def write_bars(path, n, seed, opens=True, freq="D"):
    high, low = generated_bars("walk", n, seed)
    mid = (high.astype(np.float64) + low) / 2
    stamps = pd.date_range("2021-01-04 09:30", periods=n, freq=freq)
    frame = pd.DataFrame({"date": stamps.strftime("%Y-%m-%d" if freq == "D" else "%Y-%m-%d %H:%M"),
                          "high": high, "low": low, "close": mid.round(2)})
    if opens:
        frame.insert(1, "open", np.roll(mid, 1).round(2).clip(low, high))
    frame.to_csv(path, index=False)


@pytest.fixture(scope="module")
def market(tmp_path_factory):
    folder = tmp_path_factory.mktemp("evaluate")
    for k, n in enumerate([400, 1500, 3000]):
        write_bars(folder / f"m{k}.csv", n, k + 20, opens=k != 1)
    write_bars(folder / "minutes.csv", 2000, 30, freq="min")
    (folder / "broken.csv").write_text("date,high,low\n2024-01-02,10,9\n2024-01-03,x,1\n")
    return folder


def read_summary(text):
    return pd.read_csv(io.StringIO(text), keep_default_na=False, na_values=[""], float_precision="round_trip")


def same_numbers(a, b, columns):
    for c in columns:
        if not pd.api.types.is_numeric_dtype(a[c]):
            assert list(a[c]) == list(b[c]), c
            continue
        # A price is the file's 32-bit value, written in its own digits; the rest read back as doubles.
        kind = np.float32 if c == "entry_price" else np.float64
        left, right = (x[c].astype("float64").to_numpy().astype(kind) for x in (a, b))
        np.testing.assert_array_equal(left, right, err_msg=c)


def test_the_faces_give_the_same_numbers(vlmstruct_bin, market, tmp_path):
    horizons = ",".join(map(str, HORIZONS))
    done = tool(vlmstruct_bin, "evaluate", market, "--horizons", horizons, "--cost", 5, "-j", 2,
                "-o", tmp_path / "signals.csv", "--summary", tmp_path / "summary.csv")
    assert done.returncode == 1, done.stderr  # the broken file
    assert "broken.csv" in done.stderr and "4 of 5 files evaluated" in done.stderr
    summary = read_summary((tmp_path / "summary.csv").read_text())
    signals = pd.read_csv(tmp_path / "signals.csv", keep_default_na=False, na_values=[""], float_precision="round_trip")
    assert set(signals["file"]) == {"m0.csv", "m1.csv", "m2.csv", "minutes.csv"}
    assert (summary["n"] > 0).any()

    here = vlmstruct.evaluate(market, horizons=HORIZONS, cost_bp=5)
    assert list(here.errors["file"]) == ["broken.csv"]
    stats = ["n", "mean", "median", "std", "t", "win_rate", "win_low", "win_high", "mfe", "mae", "baseline", "edge"]
    same_numbers(summary, here.summary, ["mode", "class", "horizon"] + stats)
    columns = ["file", "mode", "class", "side", "point_bar", "signal_bar", "entry_bar", "entry_price",
               "withdrawn_bar", "final", "delay"] + [f"{w}_{h}" for h in HORIZONS for w in ("ret", "mfe", "mae")]
    same_numbers(signals, here.signals, columns)

    # A DataFrame of one file is evaluated as the file is.
    one = vlmstruct.evaluate(vlmstruct.read_bars(market / "m2.csv"), horizons=HORIZONS, cost_bp=5)
    alone = vlmstruct.evaluate(market / "m2.csv", horizons=HORIZONS, cost_bp=5)
    same_numbers(one.summary, alone.summary, stats)
    same_numbers(one.signals, alone.signals, columns[1:])
    assert one.curves[""]["live"].to_numpy().tolist() == alone.curves["m2.csv"]["live"].to_numpy().tolist()
    # Times to the minute: the annualised figures read them, from the frame's index or the file's text.
    frame = vlmstruct.evaluate(vlmstruct.read_bars(market / "minutes.csv")).equity.drop(columns="file")
    path = vlmstruct.evaluate(market / "minutes.csv").equity.drop(columns="file")
    assert frame["annual_return"].notna().all()
    pd.testing.assert_frame_equal(frame, path)

    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    figure = here.plot(horizon=3)
    means = figure.axes[0].lines  # live and hindsight, each an errorbar's points
    assert len(figure.axes) == 4 and len(means) >= 2
    # Too few signals for any interval still plots.
    assert len(vlmstruct.evaluate(vlmstruct.read_bars(market / "m0.csv").iloc[:120]).plot().axes) == 4


def test_a_cluster_gives_the_numbers_of_one_machine(market):
    distributed = pytest.importorskip("distributed")
    import vlmstruct.distributed as vd
    from test_distributed import new_cluster

    here = vlmstruct.evaluate(market, horizons=HORIZONS)
    with new_cluster() as cluster, distributed.Client(cluster, set_as_default=False) as client:
        there = vd.evaluate(market, client=client, horizons=HORIZONS, batch_size=1)
        one_there = vd.evaluate(market / "m1.csv", client=client)
        with pytest.raises(ValueError, match="broken.csv"):
            vd.evaluate(market / "broken.csv", client=client)
    pd.testing.assert_frame_equal(vlmstruct.evaluate(market / "m1.csv").signals, one_there.signals)
    assert list(there.errors["file"]) == ["broken.csv"]
    pd.testing.assert_frame_equal(here.summary, there.summary)
    pd.testing.assert_frame_equal(here.signals, there.signals)
    pd.testing.assert_frame_equal(here.equity, there.equity)


@pytest.mark.parametrize("dates", [True, False])
def test_the_report_draws_the_evaluation(vlmstruct_bin, market, tmp_path, dates):
    html, js, bars = tmp_path / "report.html", tmp_path / "e.json", market / "m0.csv"
    if not dates:
        frame = pd.read_csv(bars)
        bars = tmp_path / "nodates.csv"
        frame.drop(columns="date").to_csv(bars, index=False)
    done = tool(vlmstruct_bin, "evaluate", bars, "--html", html, "--json", js, *([] if dates else ["--no-dates"]))
    assert done.returncode == 0, done.stderr
    found = json.loads(js.read_text())
    live = [s for s in found["signals"] if s["mode"] == "live"]
    withdrawn = sum(s["withdrawn_bar"] is not None for s in live)
    with Page(html.as_uri()) as page:
        # The page writes its report as its script's last step: an empty one never drew.
        page.wait_for("document.getElementById('report').textContent.length > 0")
        report = page.settled()
    assert report["errors"] == []
    assert report["survival"] == 6 and report["distributions"] == 6 and report["equity"] == 3
    assert report["markers"] == len(live) + withdrawn


@pytest.mark.parametrize("args, message", [
    (["--horizons", "1,0"], "--horizons '1,0'"),
    (["--horizons", "5,5"], "5 is given twice"),
    (["--cost=-1"], "--cost"),
])
def test_bad_options_are_usage_errors(vlmstruct_bin, market, args, message):
    done = tool(vlmstruct_bin, "evaluate", market / "m0.csv", *args)
    assert done.returncode == 2 and message in done.stderr, done.stderr
