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
"""
from ._core import (function_names, pivot_zones, pivot_end_marks, pivot_lower, pivot_run_count,
                    pivot_trend, pivot_upper, segment, segment_no_pullback, stroke, turning_point)

__all__ = ["analyze", "function_names", "pivot_zones", "turning_point", "stroke", "segment",
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
