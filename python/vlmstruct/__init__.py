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
replay(df) says, for every bar, what the functions showed when that bar was the last one.
"""
from ._core import replay as _replay
from ._core import (function_names, pivot_zones, pivot_end_marks, pivot_lower, pivot_run_count,
                    pivot_trend, pivot_upper, segment, segment_no_pullback, stroke, turning_point)

__all__ = ["analyze", "replay", "function_names", "pivot_zones", "turning_point", "stroke", "segment",
           "segment_no_pullback", "pivot_upper", "pivot_lower", "pivot_end_marks", "pivot_trend",
           "pivot_run_count"]


def analyze(df, include_open_pivot=False):
    """Runs the nine functions in the host's order on df['high'] and df['low'].

    Returns (outputs, zones): a DataFrame with one column per function on df's index, and the
    pivot zones as dicts (start and end as bar positions, plus start_date and end_date when df
    has an index of dates).
    """
    import numpy as np
    import pandas as pd

    missing = [c for c in ("high", "low") if c not in df.columns]
    if missing:
        raise KeyError("analyze needs columns 'high' and 'low'; missing: " + ", ".join(missing))
    high = np.ascontiguousarray(df["high"].to_numpy(dtype=np.float32))
    low = np.ascontiguousarray(df["low"].to_numpy(dtype=np.float32))
    signal = stroke(high, low)
    columns = {"turning_point": turning_point(high, low), "stroke": signal}
    for name in function_names()[2:]:
        columns[name] = globals()[name](signal, high, low)
    outputs = pd.DataFrame(columns, index=df.index)
    zones = pivot_zones(signal, high, low, include_open_pivot)
    if not isinstance(df.index, pd.RangeIndex):
        for z in zones:
            z["start_date"] = df.index[z["start"]]
            z["end_date"] = df.index[z["end"]]
    return outputs, zones


def _frame(table, index=None):
    import pandas as pd

    # Prices as the float32 they are; bars, counts and codes as float64 so that a missing value is
    # NaN, which compares false in a backtest's conditions.
    data = {name: values.astype("float32") if table["kinds"][name] == "price" else values
            for name, values in table["columns"].items()}
    return pd.DataFrame(data, index=index)


def replay(df):
    """Replays df bar by bar, computing each bar from that bar and the bars before it only.

    Returns (asof, events):
    - asof: one row per bar on df's index: the stroke, segment and no-pullback segment in
      progress (direction, bar, price) and their last final end, the latest listed pivot and the
      pivot under way (start, end, upper, lower, trend, run count), and where the close stands
      against each (1 above, 0 within, -1 below). Missing values are NaN.
    - events: one row per change, in order: the bar that caused it, subject (turning_point,
      stroke, segment, segment_no_pullback, pivot, pivot_under_way), event (appeared, moved,
      vanished, confirmed, closed, dropped, withdrawn, opened, extended), the mark's bar and
      price or the pivot's bounds, and a line of text.
    Uses df['high'] and df['low'], and df['close'] when present.
    """
    import numpy as np
    import pandas as pd

    missing = [c for c in ("high", "low") if c not in df.columns]
    if missing:
        raise KeyError("replay needs columns 'high' and 'low'; missing: " + ", ".join(missing))
    high = np.ascontiguousarray(df["high"].to_numpy(dtype=np.float32))
    low = np.ascontiguousarray(df["low"].to_numpy(dtype=np.float32))
    close = (np.ascontiguousarray(df["close"].to_numpy(dtype=np.float32)) if "close" in df.columns
             else np.full(len(high), np.nan, dtype=np.float32))
    asof_table, event_table = _replay(high, low, close)
    asof = _frame(asof_table, index=df.index)
    events = _frame(event_table)
    for name in ("subject", "event", "text"):
        events[name] = event_table[name]
    events = events[["bar", "subject", "event"] + [c for c in events.columns
                                                   if c not in ("bar", "subject", "event")]]
    if not isinstance(df.index, pd.RangeIndex) and len(events):
        events.insert(1, "date", df.index[events["bar"].to_numpy(dtype=np.int64)])
    return asof, events
