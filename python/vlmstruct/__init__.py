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
analyze(df, levels=["30min", "day"]) analyses df's bars and every level resampled from them, and
links each level to the one below; it returns a Levels:
    .levels  {'base': LevelResult, '30min': LevelResult, 'day': LevelResult}, finest first; each
             with .bars (resample(df, name)), .outputs and .zones (analyze(.bars)), .points
             (points(.bars)), .strokes and .segments (the ends the links count)
    .links   {('30min', 'base'): LevelLinks, ('day', '30min'): LevelLinks}; each with .strokes,
             .segments, .pivots, .points (per higher structure: its base bars, and the first and
             count of each kind of lower structure inside it), .stroke_ends, .confirmations
points(df) lists the trading points (first, second and third class; docs/trading-points.md).
replay(df) says, for every bar, what the functions and the points showed when that bar was the last one.
Stream() follows a market bar by bar as it trades: the replay's events of each new bar, as it comes.
evaluate(df_or_paths) measures the trading points as a live trader met them and as hindsight shows
them: forward returns per class and horizon against a signal-free baseline (docs/evaluation.md).
read_bars(path) reads a bar file exactly as the command-line tool does.
resample(df, level) makes the bars of a higher level.

The engine runs without the GIL, so threads analyse frames side by side; the results are numpy
arrays filled by the engine, which the DataFrames hold as they are.

analyze and replay check the bars as the tool checks a file, with the same routines: column
names in any case (and the same English and Chinese names), dates from a DatetimeIndex, an index
named like a date column, or a date column; rows out of date order are sorted with a warning;
a duplicate date, or a price that is NaN, infinite or None, or a low above its high, is a
ValueError naming the row label and the column.
"""
from ._core import __version__, BarFileError
from ._core import analyze as _analyze
from ._core import analyze_levels as _analyze_levels
from ._core import check_prices as _check_prices
from ._core import column_roles as _column_roles
from ._core import date_order as _date_order
from ._core import read_bars as _read_bars
from ._core import replay as _replay
from ._core import trading_points as _trading_points
from ._core import resample as _resample
from ._core import (function_names, pivot_zones, pivot_end_marks, pivot_lower, pivot_run_count,
                    pivot_trend, pivot_upper, segment, segment_no_pullback, stroke, turning_point)

__all__ = ["analyze", "points", "replay", "Stream", "evaluate", "Evaluation", "resample", "read_bars", "Levels", "LevelResult", "LevelLinks",
           "BarFileError", "function_names", "pivot_zones",
           "turning_point", "stroke", "segment", "segment_no_pullback", "pivot_upper", "pivot_lower",
           "pivot_end_marks", "pivot_trend", "pivot_run_count", "__version__"]


def read_bars(path, no_dates=False):
    """Reads a bar file as `vlmstruct analyze` does, with the same checks and messages.

    Returns a DataFrame of float32 price columns (high, low, and open, close where the file has
    them) and a float64 volume column where it has one, on a DatetimeIndex named 'date'. A file
    without a date column is refused unless no_dates is true (its bars are then in file order, on a
    RangeIndex). Bad input raises BarFileError, a ValueError naming the file, line, column and
    text; rows out of date order are sorted with a warning.
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
    seconds = _seconds(bars, "resample")
    out = _resample(seconds, bars.open, bars.high, bars.low, bars.close, bars.volume, str(level), str(bins),
                    int(session_gap or 0))
    return _level_frame(out)


def _level_frame(out, index=None):
    import pandas as pd

    columns = {name: out[name] for name in ("open", "high", "low", "close", "volume") if out[name] is not None}
    columns["first_base"] = out["first_base"]
    columns["last_base"] = out["last_base"]
    if index is None:
        index = pd.DatetimeIndex(pd.to_datetime(out["time"], unit="s"), name="date")
        if not out["intraday"]:
            index = index.normalize()  # daily and longer bars are dated by their last day, as in the tool's file
    frame = pd.DataFrame(columns, index=index, copy=False)
    frame.attrs["last_unfinished"] = bool(out["last_unfinished"])
    return frame


def _seconds(bars, caller):
    import numpy as np

    if bars.times is None:
        raise ValueError(f"{caller} needs dates: a DatetimeIndex or a date column")
    return (bars.times.asi8 // 1_000_000_000).astype(np.int64)


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
            # Prices as the host's floats; volumes as float64, so that their sums are exact.
            dtype = np.float64 if role == "volume" else np.float32
            try:
                return np.ascontiguousarray(column.to_numpy(dtype=dtype, na_value=np.nan))
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


def _level_names(levels):
    """levels as a list or as "30min,day", in the tool's --levels form."""
    return levels if isinstance(levels, str) else ",".join(str(level) for level in levels)


def _point_frame(found, labels):
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
    if labels is not None:
        frame.index = pd.Index(labels[frame["bar"].to_numpy(dtype="int64")], name=labels.name)
        follows = frame["follows_bar"]
        frame["follows_date"] = [labels[int(b)] if not pd.isna(b) else None for b in follows]
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
    return _point_frame(found, bars.labels)


points.__doc__ += "\n    " + _POINT_OPTIONS + "\n"


def analyze(df, include_open_pivot=False, macd=(12, 26, 9), force="area", class1_min_run=2,
            divergence_ratio=1.0, levels=None, bins="session", session_gap=None):
    """Runs the nine functions in the host's order on df['high'] and df['low'].

    Returns (outputs, zones): a DataFrame with one column per function on df's index (in date
    order) and a column trading_point ('B1', 'S3', 'B2+B3', '' elsewhere; points(df) has the
    details), and the pivot zones as dicts (start and end as bar positions, plus start_date and
    end_date when df has an index that is not a plain range, or a date column).

    With levels (e.g. ["30min", "day"] or "30min,day"), returns a Levels instead: df's bars and
    every level resampled from them (bins and session_gap as for resample) analysed alike, and the
    links of each level to the one below, as `vlmstruct analyze --levels ... --json` writes them.
    """
    bars = _Bars(df, "analyze")
    options = _options(macd, force, class1_min_run, divergence_ratio)
    if levels is None:
        found = _analyze(bars.high, bars.low, bars.close, include_open_pivot, **options)
        return _analysis_frames(found, bars.index, bars.labels)
    names = _level_names(levels)
    found, links = _analyze_levels(_seconds(bars, "analyze with levels"), bars.open, bars.high, bars.low,
                                   bars.close, bars.volume, names, str(bins), int(session_gap or 0),
                                   include_open_pivot, **options)
    results = {}
    for level in found:
        if level["name"] == "base":  # df's own bars, on df's index as analyze(df) gives them
            frame = _level_frame(level["bars"], index=bars.index)
            labels = bars.labels
        else:
            frame = _level_frame(level["bars"])
            labels = frame.index
        results[level["name"]] = LevelResult(level["name"], frame, level["analysis"], frame.index, labels)
    names = list(results)
    return Levels(results, {(higher, lower): LevelLinks(found_links)
                            for higher, lower, found_links in zip(names[1:], names, links)})


def _analysis_frames(found, index, labels):
    import pandas as pd

    outputs = pd.DataFrame({**found["columns"], "trading_point": found["trading_point"]}, index=index, copy=False)
    zones = found["zones"]
    if labels is not None:
        for z in zones:
            z["start_date"] = labels[z["start"]]
            z["end_date"] = labels[z["end"]]
    return outputs, zones


def _marks_frame(marks, labels):
    import pandas as pd

    frame = pd.DataFrame(marks, copy=False)
    if labels is not None:
        frame["date"] = labels[marks["bar"]]
    return frame


class LevelResult:
    """One level of analyze(df, levels=...), each part as its own face gives it for this level's bars:

    - name: 'base' (df's bars) or the level, e.g. '30min', 'day'
    - bars: the level's bars as resample(df, name) gives them (for 'base', df's bars on its index)
    - outputs, zones: what analyze(bars) returns
    - points: what points(bars) returns
    - strokes, segments: the stroke and segment ends (bar, direction 1 top / -1 bottom, price,
      date), in the order the links count them
    """

    __slots__ = ("name", "bars", "outputs", "zones", "points", "strokes", "segments")

    def __init__(self, name, bars, found, index, labels):
        self.name, self.bars = name, bars
        self.outputs, self.zones = _analysis_frames(found, index, labels)
        self.points = _point_frame(found["points"], labels)
        self.strokes = _marks_frame(found["strokes"], labels)
        self.segments = _marks_frame(found["segments"], labels)

    def __repr__(self):
        return (f"<LevelResult {self.name}: {len(self.bars)} bars, {len(self.strokes)} strokes, "
                f"{len(self.zones)} pivot zones, {len(self.points)} trading points>")


class LevelLinks:
    """How a level's structures sit on the level below (both of one analyze(df, levels=...)):

    - strokes, segments, pivots, points: one row per structure of the higher level, in the order
      of its strokes, segments, zones and points: base_first and base_last (the base bars it
      covers; stroke k runs from end k - 1, the first bar for k = 0, to end k) and, for each kind
      of the lower level's structures, the run of them inside it (strokes_first, strokes_count,
      segments_first, ..., points_count)
    - stroke_ends: per higher stroke end, base_bar (where its high or low was made) and lower (the
      lower level's stroke end there, <NA> where none is)
    - confirmations: per higher point, the lower level's points of its side inside the higher
      stroke that ends at it
    """

    __slots__ = ("strokes", "segments", "pivots", "points", "stroke_ends", "confirmations")

    def __init__(self, found):
        import pandas as pd

        for kind in ("strokes", "segments", "pivots", "points"):
            setattr(self, kind, pd.DataFrame(found[kind], copy=False))
        ends = found["stroke_ends"]
        lower = pd.arrays.IntegerArray(ends["lower"].clip(min=0), ends["lower"] < 0)
        self.stroke_ends = pd.DataFrame({"base_bar": ends["base_bar"], "lower": lower})
        self.confirmations = found["confirmations"]

    def __repr__(self):
        return (f"<LevelLinks: {len(self.strokes)} strokes, {len(self.segments)} segments, {len(self.pivots)} "
                f"pivots, {len(self.points)} points>")


class Levels:
    """analyze(df, levels=...): levels maps each name ('base' first, then finest to coarsest) to
    its LevelResult; links maps (higher, lower), for each two neighbouring levels, to LevelLinks."""

    __slots__ = ("levels", "links")

    def __init__(self, levels, links):
        self.levels, self.links = levels, links

    def __repr__(self):
        return "<Levels " + ", ".join(self.levels) + ">"


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
    asof_columns, event_columns = _replay(bars.high, bars.low, bars.close,
                                          **_options(macd, force, class1_min_run, divergence_ratio))
    # The arrays are the frames' columns as they are (copy=False): nothing is copied row by row.
    asof = pd.DataFrame(asof_columns, index=bars.index, copy=False)
    if bars.labels is not None and len(event_columns["bar"]):
        dates = bars.labels[event_columns["bar"].astype(np.int64)]
        event_columns = {"bar": event_columns.pop("bar"), "date": dates, **event_columns}
    events = pd.DataFrame(event_columns, copy=False)
    return asof, events


for _face in (analyze, replay):
    _face.__doc__ += "\n    " + _POINT_OPTIONS + "\n"


from .evaluation import Evaluation, evaluate  # noqa: E402  (it uses _Bars above)
from .stream import Stream  # noqa: E402  (it uses _Bars and _options above)
