"""Strokes, segments and pivot zones of price bars, computed by the same engine as the plug-in.

Every function takes numpy arrays (any numeric dtype, converted to float32 as the host does) and
returns a float32 array with one value per bar, bit for bit what the plug-in writes:

    turning_point(high, low)            function 1
    stroke(high, low)                   function 2, the stroke signal
    segment(signal, high, low)          function 3
    segment_no_pullback(signal, ...)    function 4
    pivot_upper / pivot_lower / pivot_end_marks / pivot_trend / pivot_run_count(signal, high, low)
                                        functions 5 to 9

analyze(df) runs all nine on a DataFrame with 'high' and 'low' columns.
points(df) lists the trading points (first, second and third class; docs/trading-points.md).
replay(df) says, for every bar, what the functions and the points showed when that bar was the last one.
read_bars(path) reads a bar file exactly as the command-line tool does.

analyze and replay check the bars as the tool checks a file, with the same routines: column
names in any case (and the same English and Chinese names), dates from a DatetimeIndex, an index
named like a date column, or a date column; rows out of date order are sorted with a warning;
a duplicate date, or a price that is NaN, infinite or None, or a low above its high, is a
ValueError naming the row label and the column.
"""
from ._core import __version__, BarFileError
from ._core import check_prices as _check_prices
from ._core import column_roles as _column_roles
from ._core import date_order as _date_order
from ._core import read_bars as _read_bars
from ._core import replay as _replay
from ._core import trading_points as _trading_points
from ._core import resample as _resample
from ._core import (function_names, pivot_zones, pivot_end_marks, pivot_lower, pivot_run_count,
                    pivot_trend, pivot_upper, segment, segment_no_pullback, stroke, turning_point)

__all__ = ["analyze", "points", "replay", "resample", "read_bars", "BarFileError", "function_names", "pivot_zones",
           "turning_point", "stroke", "segment", "segment_no_pullback", "pivot_upper", "pivot_lower",
           "pivot_end_marks", "pivot_trend", "pivot_run_count", "__version__"]


def read_bars(path, no_dates=False):
    """Reads a bar file as `vlmstruct analyze` does, with the same checks and messages.

    Returns a DataFrame of float32 columns (high, low, and open, close, volume where the file has
    them) on a DatetimeIndex named 'date'. A file without a date column is refused unless
    no_dates is true (its bars are then in file order, on a RangeIndex). Bad input raises
    BarFileError, a ValueError naming the file, line, column and text; rows out of date order are
    sorted with a warning.
    """
    import os
    import warnings

    import pandas as pd

    path = os.fspath(path)
    if not os.path.exists(path):
        raise FileNotFoundError(2, "No such bar file", path)
    table = _read_bars(path, no_dates)
    if table["reordered"]:
        warnings.warn(f"{path}: rows were not in date order; sorted ascending", stacklevel=2)
    index = None
    if table["dates"] is not None:
        index = pd.DatetimeIndex(pd.to_datetime(table["dates"]), name="date")
    return pd.DataFrame(table["columns"], index=index)


def resample(df, level, bins="session", session_gap=None):
    """The bars of a higher level, as `vlmstruct resample` writes them.

    level is "Nmin" (N dividing 60, or whole hours dividing a day), "day", "week" (ISO weeks) or
    "month". Intraday bins are counted from each session's first bar (bins="session"; a gap longer
    than session_gap minutes, by default twice the bar interval and at least the interval plus 15
    minutes, starts a session) or at clock multiples from midnight (bins="clock"). Returns a
    DataFrame indexed by the time of each level bar's last base bar (its day for daily and longer
    levels), with open (first), high (max),
    low (min), close (last) and volume (summed) where df has them, and the base rows each bar holds
    (first_base, last_base, positions in date order). attrs["last_unfinished"] says whether the last
    bar's period may still get bars.
    """
    import numpy as np
    import pandas as pd

    bars = _Bars(df, "resample")
    if bars.times is None:
        raise ValueError("resample needs dates: a DatetimeIndex or a date column")
    seconds = (bars.times.asi8 // 1_000_000_000).astype(np.int64)
    out = _resample(seconds, bars.open, bars.high, bars.low, bars.close, bars.volume, str(level), str(bins),
                    int(session_gap or 0))
    columns = {name: out[name] for name in ("open", "high", "low", "close", "volume") if out[name] is not None}
    columns["first_base"] = out["first_base"]
    columns["last_base"] = out["last_base"]
    index = pd.DatetimeIndex(pd.to_datetime(out["time"], unit="s"), name="date")
    if not str(level).endswith(("min", "h")):
        index = index.normalize()  # daily and longer bars are dated by their last day, as in the tool's file
    frame = pd.DataFrame(columns, index=index)
    frame.attrs["last_unfinished"] = bool(out["last_unfinished"])
    return frame


class _Bars:
    """The bars of a DataFrame, checked and in date order."""

    def __init__(self, df, caller):
        import warnings

        import numpy as np
        import pandas as pd

        columns = {}
        for name, role in zip(df.columns, _column_roles([str(c) for c in df.columns])):
            if role and role not in columns:
                columns[role] = name
        missing = [role for role in ("high", "low") if role not in columns]
        if missing:
            raise KeyError(f"{caller} needs columns 'high' and 'low' (any case); missing: " + ", ".join(missing))

        def values(role):
            if role not in columns:
                return None
            column = df[columns[role]]
            try:
                return np.ascontiguousarray(column.to_numpy(dtype=np.float32, na_value=np.nan))
            except (TypeError, ValueError):
                numbers = pd.to_numeric(column, errors="coerce")
                row = int(np.flatnonzero((numbers.isna() & column.notna()).to_numpy())[0])
                raise ValueError(f"row {df.index[row]!r}, column {columns[role]!r}: not a number: "
                                 f"{column.iloc[row]!r}") from None

        self.high, self.low, self.open, self.close = (values(r) for r in ("high", "low", "open", "close"))
        self.volume = values("volume")
        self.times = None  # a DatetimeIndex in bar order, where the frame has dates
        problem = _check_prices(self.open, self.high, self.low, self.close)
        if problem is not None:
            row, role, what = problem
            raise ValueError(f"row {df.index[row]!r}, column {columns[role]!r}: {what}")

        self.index = df.index
        dates, where = None, None
        if isinstance(df.index, pd.DatetimeIndex):
            dates, where = df.index, "the index"
        elif df.index.name is not None and _column_roles([str(df.index.name)])[0] in ("date", "time"):
            dates, where = df.index, f"index {df.index.name!r}"
        elif "date" in columns or "time" in columns:
            name = columns.get("date", columns.get("time"))
            dates, where = df[name], f"column {name!r}"
        # Zones and events are dated by the index, or by the date column when the index is a plain range.
        self.labels = None if isinstance(df.index, pd.RangeIndex) else df.index
        if dates is None:
            return
        if where.startswith("column") and isinstance(df.index, pd.RangeIndex):
            self.labels = pd.Index(dates)
        if pd.api.types.is_datetime64_any_dtype(dates.dtype):
            keys = pd.DatetimeIndex(dates).asi8
            shown = pd.DatetimeIndex(dates)
        else:
            shown = [str(d) for d in dates]
            keys = shown
        order = _date_order(keys)
        if order["bad"] is not None:
            row = order["bad"]
            raise ValueError(f"row {df.index[row]!r}, {where}: not a valid date: {str(shown[row])!r}")
        if order["duplicate"] is not None:
            earlier, later = order["duplicate"]
            raise ValueError(f"duplicate date {shown[later]} in {where} (rows {df.index[earlier]!r} and "
                             f"{df.index[later]!r})")
        # Valid and distinct by now, so they convert.
        self.times = shown if isinstance(shown, pd.DatetimeIndex) else pd.DatetimeIndex(pd.to_datetime(shown))
        if order["order"] is not None:
            warnings.warn(f"{caller}: rows were not in date order; sorted ascending", stacklevel=3)
            positions = order["order"]
            self.high, self.low = self.high[positions], self.low[positions]
            self.open = None if self.open is None else self.open[positions]
            self.close = None if self.close is None else self.close[positions]
            self.volume = None if self.volume is None else self.volume[positions]
            self.times = self.times[positions]
            self.index = df.index[positions]
            if self.labels is not None:
                self.labels = self.labels[positions]


_POINT_OPTIONS = """The trading-point options are those of the tool: macd=(12, 26, 9) (fast, slow, signal),
    force='area' ('full-area', 'peak', 'slope'), class1_min_run=2, divergence_ratio=1.0; a bad value
    is a ValueError naming it. The points read df['close'], or the mid-price (high + low) / 2 where
    df has no close."""


def _options(macd, force, class1_min_run, divergence_ratio):
    macd = tuple(macd) if not isinstance(macd, str) else tuple(int(p) for p in macd.split(","))
    return dict(macd=list(macd), force=force, class1_min_run=class1_min_run, divergence_ratio=divergence_ratio)


def _point_frame(found, bars):
    import pandas as pd

    columns = ["side", "label", "classes", "bar", "price", "pivot_start", "pivot_end", "pivot_upper",
               "pivot_lower", "pivot_trend", "pivot_run_count", "leaving_force", "entering_force",
               "force_ratio", "follows_bar"]
    frame = pd.DataFrame(found, columns=columns)
    frame["price"] = frame["price"].astype("float32")
    for name in ("pivot_upper", "pivot_lower"):
        frame[name] = frame[name].astype("float32")
    for name in ("leaving_force", "entering_force", "force_ratio"):
        frame[name] = frame[name].astype("float64")
    frame["follows_bar"] = frame["follows_bar"].astype("Int64")
    if bars.labels is not None:
        frame.index = pd.Index(bars.labels[frame["bar"].to_numpy(dtype="int64")], name=bars.labels.name)
        follows = frame["follows_bar"]
        frame["follows_date"] = [bars.labels[int(b)] if not pd.isna(b) else None for b in follows]
    return frame


def points(df, macd=(12, 26, 9), force="area", class1_min_run=2, divergence_ratio=1.0):
    """The trading points of df, one row per point in bar order, as `vlmstruct analyze` lists them in
    its JSON: side ('buy' or 'sell'), label ('B1', 'S3', 'B2+B3'), classes (a tuple), bar (position),
    price, the pivot it refers to (pivot_start, pivot_end, pivot_upper, pivot_lower, pivot_trend,
    pivot_run_count), for class 1 leaving_force, entering_force and force_ratio (NaN otherwise), for
    class 2 follows_bar (and follows_date). The index is the point's date (df's index, or its date
    column) where df has dates, else a plain range.
    """
    bars = _Bars(df, "points")
    found = _trading_points(bars.high, bars.low, bars.close,
                            **_options(macd, force, class1_min_run, divergence_ratio))
    return _point_frame(found, bars)


points.__doc__ += "\n    " + _POINT_OPTIONS + "\n"


def analyze(df, include_open_pivot=False, macd=(12, 26, 9), force="area", class1_min_run=2,
            divergence_ratio=1.0):
    """Runs the nine functions in the host's order on df['high'] and df['low'].

    Returns (outputs, zones): a DataFrame with one column per function on df's index (in date
    order) and a column trading_point ('B1', 'S3', 'B2+B3', '' elsewhere; points(df) has the
    details), and the pivot zones as dicts (start and end as bar positions, plus start_date and
    end_date when df has an index that is not a plain range, or a date column).
    """
    import pandas as pd

    bars = _Bars(df, "analyze")
    high, low = bars.high, bars.low
    signal = stroke(high, low)
    columns = {"turning_point": turning_point(high, low), "stroke": signal}
    for name in function_names()[2:]:
        columns[name] = globals()[name](signal, high, low)
    labels = [""] * len(high)
    for p in _trading_points(high, low, bars.close, **_options(macd, force, class1_min_run, divergence_ratio)):
        labels[p["bar"]] = p["label"]
    columns["trading_point"] = labels
    outputs = pd.DataFrame(columns, index=bars.index)
    zones = pivot_zones(signal, high, low, include_open_pivot)
    if bars.labels is not None:
        for z in zones:
            z["start_date"] = bars.labels[z["start"]]
            z["end_date"] = bars.labels[z["end"]]
    return outputs, zones


def replay(df, macd=(12, 26, 9), force="area", class1_min_run=2, divergence_ratio=1.0):
    """Replays df bar by bar, computing each bar from that bar and the bars before it only.

    Returns (asof, events):
    - asof: one row per bar on df's index: the stroke, segment and no-pullback segment in
      progress (direction, bar, price) and their last final end, the latest listed pivot and the
      pivot under way (start, end, upper, lower, trend, run count), and where the close stands
      against each (1 above, 0 within, -1 below); then the latest trading point shown (point_side 1
      buy / -1 sell, point_classes 1, 3, 23 ..., point_bar, point_price, point_final 1 or 0).
      Missing values are NaN.
    - events: one row per change, in order: the bar that caused it, subject (turning_point,
      stroke, segment, segment_no_pullback, pivot, pivot_under_way, trading_point), event
      (appeared, moved, vanished, confirmed, closed, dropped, withdrawn, opened, extended), the
      mark's bar and price or the pivot's bounds, for a point its side, classes, forces and the bar
      it follows, and a line of text.
    Uses df['high'] and df['low'], and df['close'] when present (any case).
    """
    import numpy as np
    import pandas as pd

    bars = _Bars(df, "replay")
    high, low = bars.high, bars.low
    close = bars.close if bars.close is not None else np.full(len(high), np.nan, dtype=np.float32)
    asof_columns, event_columns = _replay(high, low, close, **_options(macd, force, class1_min_run,
                                                                       divergence_ratio))
    # The arrays are the frames' columns as they are (copy=False): nothing is copied row by row.
    asof = pd.DataFrame(asof_columns, index=bars.index, copy=False)
    if bars.labels is not None and len(event_columns["bar"]):
        dates = bars.labels[event_columns["bar"].astype(np.int64)]
        event_columns = {"bar": event_columns.pop("bar"), "date": dates, **event_columns}
    events = pd.DataFrame(event_columns, copy=False)
    return asof, events


for _face in (analyze, replay):
    _face.__doc__ += "\n    " + _POINT_OPTIONS + "\n"

