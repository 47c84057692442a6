"""Do the points work? The trading points evaluated as a live trader would have met them and as
hindsight shows them: forward returns per class and horizon, statistics against a signal-free
baseline, the survival of live signals, and a simple rule's equity (docs/evaluation.md).

evaluate(df_or_paths) returns an Evaluation; vlmstruct.distributed.evaluate runs the same on a
Dask cluster and gives the same numbers.
"""
import os

from . import _core

HORIZONS = (1, 5, 10, 20)
RULES = ("live", "hindsight", "buy_and_hold")


def _point_options(macd, force, class1_min_run, divergence_ratio):
    macd = tuple(macd) if not isinstance(macd, str) else tuple(int(p) for p in macd.split(","))
    return dict(macd=list(macd), force=force, class1_min_run=class1_min_run, divergence_ratio=divergence_ratio)


def evaluate_frame(df, name, horizons, cost_bp, options):
    """One DataFrame's evaluation, as the plain data the engine returns (picklable)."""
    import numpy as np

    from . import _Bars

    bars = _Bars(df, "evaluate")
    seconds = None if bars.times is None else (bars.times.asi8 // 1_000_000_000).astype(np.int64)
    found = _core.evaluate(bars.open, bars.high, bars.low, bars.close, seconds, list(horizons), float(cost_bp),
                           **options)
    found["file"] = name
    found["dates"] = None if bars.labels is None else [str(d) for d in bars.labels]
    return found


def evaluate_path(path, name, horizons, cost_bp, options, no_dates=False):
    """One bar file read as the tool reads it and evaluated by the tool's routine, the one every face
    runs per file: (the evaluation, None) or (None, the error the tool reports)."""
    found = _core.evaluate_file(str(path), name, no_dates, list(horizons), float(cost_bp), **options)
    return (None, found["error"]) if found["error"] else (found, "")


def _signal_frame(found, horizons):
    import numpy as np
    import pandas as pd

    s = found["signals"]
    n = len(s["point_bar"])
    dates = found.get("dates")

    def dated(bars):
        if dates is None:
            return [None] * n
        return [dates[b] if b >= 0 else None for b in bars]

    frame = pd.DataFrame({
        "file": [found["file"]] * n,
        "mode": np.where(np.asarray(s["mode"]) == 0, "live", "hindsight"),
        "class": s["label"],
        "side": np.asarray(s["side"], dtype=np.int8),
        "point_bar": s["point_bar"], "point_date": dated(s["point_bar"]),
        "signal_bar": s["signal_bar"], "signal_date": dated(s["signal_bar"]),
        "entry_bar": pd.array(np.where(np.asarray(s["entry_bar"]) < 0, None, s["entry_bar"]), dtype="Int64"),
        "entry_price": s["entry_price"],
        "withdrawn_bar": pd.array(np.where(np.asarray(s["withdrawn_bar"]) < 0, None, s["withdrawn_bar"]),
                                  dtype="Int64"),
        "final": np.asarray(s["final"], dtype=np.int8),
    })
    frame["delay"] = frame["signal_bar"] - frame["point_bar"]
    for j, h in enumerate(horizons):
        for what in ("ret", "mfe", "mae"):
            frame[f"{what}_{h}"] = np.asarray(s[what]).reshape(n, len(horizons))[:, j] if n else []
    return frame


class Evaluation:
    """The evaluation of one frame or of many files, pooled.

    .signals   one row per live or hindsight signal (the columns of `vlmstruct evaluate -o`)
    .summary   one row per mode, class (B1 .. S3, and B, S for every class of a side) and horizon:
               n, mean, median, std, t, win_rate, win_low, win_high, mfe, mae, baseline, edge
    .survival  one row per class: how many live signals, the share shown at the last bar, the share
               final, the median delay and the median bars to withdrawal
    .equity    one row per file and rule (live, hindsight, buy_and_hold): total_return,
               annual_return, volatility, sharpe, max_drawdown, exposure, trades
    .curves    {file: DataFrame of the three rules' equity at every bar's close}
    .errors    one row per file that could not be evaluated, with its error
    """

    def __init__(self, found, errors, horizons, cost_bp):
        import pandas as pd

        self.horizons, self.cost_bp = list(horizons), cost_bp
        found = sorted(found, key=lambda f: f["file"])
        pooled = _core.summarise(found)
        frames = [_signal_frame(f, self.horizons) for f in found]
        self.signals = pd.concat(frames, ignore_index=True) if frames else _signal_frame(
            {"file": "", "signals": {k: [] for k in ("mode", "label", "side", "point_bar", "signal_bar", "entry_bar",
                                                     "entry_price", "withdrawn_bar", "final", "ret", "mfe", "mae")}},
            self.horizons)
        self.summary = pd.DataFrame(pooled["statistics"])
        self.survival = pd.DataFrame(pooled["survival"])
        rows, self.curves = [], {}
        for f in found:
            for rule in RULES:
                rows.append({"file": f["file"], "rule": rule, **f["equity"][rule]["stats"]})
            index = pd.Index(f["dates"], name="date") if f.get("dates") is not None else None
            self.curves[f["file"]] = pd.DataFrame({rule: f["equity"][rule]["value"] for rule in RULES}, index=index)
        self.equity = pd.DataFrame(rows, columns=["file", "rule", "total_return", "annual_return", "volatility",
                                                  "sharpe", "max_drawdown", "exposure", "trades"])
        self.errors = pd.DataFrame(sorted(errors), columns=["file", "error"])

    def __repr__(self):
        files = self.equity["file"].nunique()
        return (f"<Evaluation of {files} file{'s' * (files != 1)}: {len(self.signals)} signals, horizons "
                f"{self.horizons}, {len(self.errors)} failed>")

    def plot(self, horizon=None, file=None):
        """The report's figures with matplotlib: mean forward return with its 95% interval per class,
        live beside hindsight; the distribution of returns per class; the equity curves of one file
        (the first, or `file`) with buy-and-hold; the survival of live signals. Returns the Figure."""
        import matplotlib.pyplot as plt
        import numpy as np

        horizon = horizon if horizon is not None else (5 if 5 in self.horizons else self.horizons[0])
        fig, ((ax_mean, ax_dist), (ax_equity, ax_survival)) = plt.subplots(2, 2, figsize=(14, 9))
        classes = ["B1", "B2", "B3", "S1", "S2", "S3", "B", "S"]
        x = np.arange(len(classes))
        for shift, mode, colour in ((-0.18, "live", "#0969da"), (0.18, "hindsight", "#bc4c00")):
            rows = self.summary[(self.summary["mode"] == mode) & (self.summary["horizon"] == horizon)]
            rows = rows.set_index("class").reindex(classes)
            # No bar where a class has fewer than two signals: an interval needs a spread.
            half = (1.96 * rows["std"] / np.sqrt(rows["n"].where(rows["n"] > 0))).fillna(0.0)
            ax_mean.errorbar(x + shift, rows["mean"], yerr=half, fmt="o", color=colour, capsize=4, label=mode)
        ax_mean.axhline(0, color="#888", lw=0.8)
        ax_mean.set_xticks(x, classes)
        ax_mean.set_title(f"mean return over {horizon} bars, 95% interval")
        ax_mean.legend()
        live = self.signals[self.signals["mode"] == "live"]
        data = [live.loc[live["class"] == c, f"ret_{horizon}"].dropna().to_numpy() for c in classes[:6]]
        ax_dist.boxplot(data, showfliers=False)
        ax_dist.set_xticks(range(1, 7), classes[:6])
        ax_dist.set_title(f"live returns over {horizon} bars per class")
        if self.curves:
            name = file if file is not None else next(iter(self.curves))
            curves = self.curves[name]
            for rule, colour in zip(RULES, ("#0969da", "#bc4c00", "#6e7781")):
                ax_equity.plot(curves.index if curves.index.name else np.arange(len(curves)), curves[rule],
                               color=colour, label=rule.replace("_", " "), lw=1.2)
            ax_equity.set_title(f"equity of the simple rule: {name}")
            ax_equity.legend()
        s = self.survival.set_index("class")
        ax_survival.bar(np.arange(len(s)) - 0.2, s["shown_at_end"], width=0.4, label="shown at the last bar")
        ax_survival.bar(np.arange(len(s)) + 0.2, s["final"], width=0.4, label="final")
        ax_survival.set_xticks(np.arange(len(s)), s.index)
        ax_survival.set_title("survival of live signals (share)")
        ax_survival.legend()
        fig.tight_layout()
        return fig


def _is_frame(value):
    try:
        import pandas as pd
    except ImportError:
        return False
    return isinstance(value, pd.DataFrame)


def evaluate(df_or_paths, horizons=HORIZONS, cost_bp=0.0, macd=(12, 26, 9), force="area", class1_min_run=2,
             divergence_ratio=1.0, no_dates=False, recursive=False):
    """Evaluates the trading points of a DataFrame, a bar file, a folder of bar files or a list of
    them, as `vlmstruct evaluate` does; returns an Evaluation. Over many files the statistics pool
    every file's signals; a file that fails is listed in .errors and the others complete.

    horizons: bars after the signal bar (default 1, 5, 10, 20); cost_bp: the round-trip cost in
    basis points, charged on every return and every round trip of the rule.
    """
    options = _point_options(macd, force, class1_min_run, divergence_ratio)
    if _is_frame(df_or_paths):
        return Evaluation([evaluate_frame(df_or_paths, "", horizons, cost_bp, options)], [], horizons, cost_bp)
    files, names, single = named_inputs(df_or_paths, recursive)
    found, errors = [], []
    for path, name in zip(files, names):
        evaluated, error = evaluate_path(path, name, horizons, cost_bp, options, no_dates)
        if error:
            errors.append((name, error))
        else:
            found.append(evaluated)
    return finished(found, errors, single, horizons, cost_bp)


def named_inputs(paths, recursive):
    """(paths, names, whether one file was given): a folder's files named from it, a single file by
    its name alone, as the tool names them."""
    from .distributed import _inputs

    files, names, folder = _inputs(paths, recursive)
    single = folder is None and len(files) == 1 and isinstance(paths, (str, os.PathLike))
    if single:
        names = [os.path.basename(names[0])]
    return files, names, single


def finished(found, errors, single, horizons, cost_bp):
    """The Evaluation; a single file given alone that failed is a ValueError, as the tool's exit is."""
    if single and errors:
        raise ValueError(errors[0][1])
    return Evaluation(found, errors, horizons, cost_bp)
