"""A market followed as it trades: vlmstruct.Stream."""
from collections.abc import Mapping

from . import _Bars, _column_roles, _level_names, _options, _seconds, _POINT_OPTIONS
from ._core import LiveStream as _LiveStream

# A bar's values in the order push takes them positionally.
_FIELDS = ("date", "open", "high", "low", "close", "volume")


class Stream:
    """Follows a market bar by bar as it trades, telling at each bar what replay(df) tells of it.

    Every bar goes through the same engine as replay, so a stream fed a frame's bars shows
    exactly replay(df)'s events and as-of rows, each event as the bar that makes it arrives: a
    stroke, segment or pivot appearing, moving or becoming final, a trading point appearing,
    confirmed or withdrawn (see replay for the subjects, events and columns).

        s = vlmstruct.Stream()                       # or Stream(levels="30min,day") on minute bars
        s.load(history)                              # warm up: history's events, at the engine's speed
        events = s.push(date, open, high, low, close, volume)   # a finished bar
        points = events[events.subject == "trading_point"]
        s.update(date, open, high, low, close, volume)          # the bar still forming (provisional)
        s.asof                                       # where everything stands now, as a Series
        saved = s.snapshot()                         # bytes; Stream.restore(saved) carries on later

    Methods and properties:
    - load(df): history in one call (a DataFrame as replay takes it: dates from a DatetimeIndex or a
      date column, high and low, and open, close, volume where it has them, any case). Returns its
      events. It may follow earlier bars; its first date must come after the last one's.
    - push(bar): one finished bar; returns the events it made as a DataFrame with replay(df)[1]'s
      columns (bar is the bar's position counted from the stream's first bar, date its date). The
      bar is a one-row DataFrame, a Series or dict with date, open, high, low, close and volume
      (any case; a Series taken from a frame by df.iloc[k] carries its date as its name), or the
      values themselves: push(date, open, high, low, close, volume) or by keyword, where None is a
      column the bar does not have.
    - update(bar): the bar still forming, as push takes it; returns the events it makes for now.
      The next update or push takes it back first, so update it at every tick and push it once it
      closes: what the push returns then is what pushing the finished bar alone returns. Its date
      may be that of the forming bar it replaces. Its events are provisional: a point an update
      shows may be gone at the next tick; the push's events are those of the finished bar.
    - asof: the as-of row after the last bar (forming or finished), with replay(df)[0]'s columns,
      then with levels each level's prefixed by its name (30min_stroke_dir, ...), as
      `vlmstruct replay --levels` names them, NaN while the bars so far cannot make the level. The
      Series is named by the bar's date (None after a restore, until the next bar).
    - snapshot() -> bytes, and Stream.restore(data) -> Stream: the whole stream (its options, every
      level, a bar forming), so a restart carries on without reading the history again, bit for bit
      as if never stopped. Bytes that are not such a snapshot (cut short, altered, of another
      version) raise ValueError.
    - len(stream): finished bars so far; forming: whether a forming bar is on.

    The first bar loaded or pushed fixes which of open, close and volume the stream carries; a later
    bar without one of them is refused, one with more has them ignored. Without a close the points
    read the mid-price (high + low) / 2. A bar the bar-file reader would refuse (a price or volume
    that is not a finite number, the low above the high, a date not after the last bar's) raises
    ValueError saying why and leaves the stream as it was; so does a load with such a bar anywhere.

    levels (e.g. "30min,day" or ["30min", "day"]), bins and session_gap as for
    analyze(df, levels=...): each level's bar that holds the newest bar is shown as it stands,
    unfinished until its period is over.
    """

    def __init__(self, levels=None, macd=(12, 26, 9), force="area", class1_min_run=2, divergence_ratio=1.0,
                 bins="session", session_gap=None):
        names = None if levels is None else _level_names(levels)
        self._init(_LiveStream(names, str(bins), int(session_gap or 0),
                               **_options(macd, force, class1_min_run, divergence_ratio)))

    def _init(self, core):
        self._core = core
        self._date = None  # the last bar's date as given; unknown after a restore until a bar comes

    @classmethod
    def restore(cls, data):
        """The stream saved by snapshot(), as it was. Bytes that are not one raise ValueError."""
        stream = cls.__new__(cls)
        stream._init(_LiveStream.restore(data))
        return stream

    def snapshot(self):
        """The whole stream as bytes (versioned, with a checksum), for Stream.restore."""
        return self._core.snapshot()

    def load(self, df):
        """Bars of history in one call, in the engine's loop: their events, as push returns them."""
        import numpy as np

        bars = _Bars(df, "Stream.load")
        seconds = _seconds(bars, "Stream.load")
        first = len(self)
        try:
            found = self._core.load(seconds, bars.open, bars.high, bars.low, bars.close, bars.volume)
        except ValueError as e:
            if len(e.args) == 2:  # (what, position) of the bar refused
                what, row = e.args
                raise ValueError(f"row {bars.index[row]!r}: {what}") from None
            raise
        if len(bars.times):
            self._date = bars.times[-1]
        return self._events(found, bars.times[found["bar"].astype(np.int64) - first])

    def push(self, *bar, **fields):
        """A finished bar: the events it made (see the class's help for the forms a bar takes)."""
        return self._push(bar, fields, forming=False)

    def update(self, *bar, **fields):
        """The bar still forming: the events it makes for now; the next update or push takes it back."""
        return self._push(bar, fields, forming=True)

    @property
    def asof(self):
        """The as-of row after the last bar, named by its date."""
        import pandas as pd

        return pd.Series(self._core.asof(), name=self._date, dtype="float64")

    @property
    def forming(self):
        return self._core.forming

    def __len__(self):
        return self._core.size

    def __repr__(self):
        levels = self._core.levels
        return (f"<Stream: {len(self)} bars" + (", levels " + ",".join(levels) if levels else "")
                + (", a bar forming" if self.forming else "") + ">")

    def _push(self, args, fields, forming):
        import pandas as pd

        date, values = _bar(args, fields)
        seconds = int(pd.DatetimeIndex([date]).asi8[0] // 1_000_000_000)  # as _seconds makes them
        found = self._core.push(seconds, *(values[k] for k in _FIELDS[1:]), forming=forming)
        self._date = date
        return self._events(found, pd.DatetimeIndex([date]).repeat(len(found["bar"])))

    @staticmethod
    def _events(found, dates):
        import pandas as pd

        return pd.DataFrame({"bar": found.pop("bar"), "date": dates, **found}, copy=False)


Stream.__doc__ += "\n    " + _POINT_OPTIONS + "\n"


def _bar(args, fields):
    """(date as a Timestamp, {field: float or None}) of one bar in any of the forms push takes."""
    import numbers

    import numpy as np
    import pandas as pd

    if len(args) == 1 and not fields and isinstance(args[0], (pd.DataFrame, pd.Series, Mapping)):
        named, date = _named(args[0])
    else:
        if len(args) > len(_FIELDS):
            raise TypeError(f"a bar has at most {len(_FIELDS)} values ({', '.join(_FIELDS)}); got {len(args)}")
        named = {name: value for name, value in zip(_FIELDS, args) if value is not None}
        for name, value in fields.items():
            if not _roles([name])[0]:
                raise TypeError(f"unknown bar field {name!r}; a bar has {', '.join(_FIELDS)}")
            if name in named:
                raise TypeError(f"{name!r} given twice")
            if value is not None:
                named[name] = value
        date = None
    found = {}
    for name, role in zip(named, _roles(named)):
        if role and role not in found:
            found[role] = name
    if date is None:
        key = found.get("date", found.get("time"))
        date = None if key is None else named[key]
    if date is None:
        raise ValueError("a bar needs its date")
    if isinstance(date, (numbers.Number, np.number)):  # a count of nanoseconds is no one's bar date
        raise ValueError(f"not a valid date: {date!r}")
    try:
        stamp = pd.Timestamp(date)
    except (TypeError, ValueError):
        stamp = pd.NaT
    if stamp is pd.NaT:
        raise ValueError(f"not a valid date: {date!r}")
    values = {}
    for role in _FIELDS[1:]:
        if role not in found:
            if role in ("high", "low"):
                raise ValueError("a bar needs its high and its low")
            values[role] = None
            continue
        value = named[found[role]]
        try:
            values[role] = float("nan") if value is None else float(value)
        except (TypeError, ValueError):
            raise ValueError(f"{found[role]!r}: not a number: {value!r}") from None
    return stamp, values


def _named(given):
    """A one-row DataFrame, a Series or a mapping as ({name: value}, the date it is named by or None)."""
    import datetime

    import numpy as np
    import pandas as pd

    if isinstance(given, pd.DataFrame):
        if len(given) != 1:
            raise ValueError(f"a bar is one row; this frame has {len(given)} (load takes many)")
        index = given.index
        dated = isinstance(index, pd.DatetimeIndex) or (
            index.name is not None and _roles([index.name])[0] in ("date", "time"))
        return {c: given[c].iloc[0] for c in given.columns}, (index[0] if dated else None)
    named = dict(given.items())
    date = None
    if (isinstance(given, pd.Series) and isinstance(given.name, (datetime.datetime, np.datetime64))
            and not any(role in ("date", "time") for role in _roles(named))):
        date = given.name  # a frame's row, named by its date
    return named, date


def _roles(names):
    return _column_roles([str(n) for n in names])
