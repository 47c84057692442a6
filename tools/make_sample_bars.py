#!/usr/bin/env python3
"""Writes data/synthetic_daily_bars.csv: SYNTHETIC daily bars, not market data
(and, with `intraday`, data/synthetic_intraday_bars.csv: SYNTHETIC one-minute bars).

A deterministic random walk with volatility that clusters and trends that
persist, so that strokes, segments and pivots of every kind appear. The same
seed always gives the same file.
"""
import argparse
import datetime
import math
import random
import sys


def main(path, bars=3000, seed=20240131):
    rng = random.Random(seed)
    day = datetime.date(2012, 1, 2)
    close = 25.0
    vol = 0.015
    drift = 0.0
    rows = []
    while len(rows) < bars:
        if day.weekday() < 5:
            vol = max(0.006, min(0.05, vol * math.exp(rng.gauss(0, 0.08)) + 0.0005 * (0.015 - vol)))
            if rng.random() < 0.01:
                drift = rng.gauss(0, 0.002)
            ret = drift + rng.gauss(0, vol)
            open_ = close * math.exp(rng.gauss(0, vol / 3))
            close_new = open_ * math.exp(ret)
            high = max(open_, close_new) * math.exp(abs(rng.gauss(0, vol / 2)))
            low = min(open_, close_new) * math.exp(-abs(rng.gauss(0, vol / 2)))
            volume = int(1_000_000 * math.exp(rng.gauss(0, 0.4)) * (1 + 40 * abs(ret)))
            rows.append((day.isoformat(), open_, high, low, close_new, volume))
            close = close_new
        day += datetime.timedelta(days=1)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("date,open,high,low,close,volume\n")
        for d, o, h, l, c, v in rows:
            f.write(f"{d},{o:.2f},{h:.2f},{l:.2f},{c:.2f},{v}\n")


def intraday(path, days=20, seed=20240601):
    """One-minute bars labelled at their close, 09:31-11:30 and 13:01-15:00 with a lunch break
    between, every weekday from 2024-06-03; the last day is a half day (mornings only) and one
    minute (10:00 of the second day) is missing, as real feeds have them."""
    rng = random.Random(seed)
    day = datetime.date(2024, 6, 3)
    price, vol, drift = 12.0, 0.0012, 0.0
    rows = []
    done = 0
    while done < days:
        if day.weekday() < 5:
            half = done == days - 1
            sessions = [(9 * 60 + 31, 11 * 60 + 30)] + ([] if half else [(13 * 60 + 1, 15 * 60)])
            for first, last in sessions:
                for minute in range(first, last + 1):
                    if done == 1 and minute == 10 * 60:
                        continue
                    vol = max(0.0004, min(0.004, vol * math.exp(rng.gauss(0, 0.05))))
                    if rng.random() < 0.004:
                        drift = rng.gauss(0, 0.0003)
                    open_ = price
                    close = open_ * math.exp(drift + rng.gauss(0, vol))
                    high = max(open_, close) * math.exp(abs(rng.gauss(0, vol / 2)))
                    low = min(open_, close) * math.exp(-abs(rng.gauss(0, vol / 2)))
                    volume = int(20_000 * math.exp(rng.gauss(0, 0.5)))
                    stamp = f"{day.isoformat()} {minute // 60:02d}:{minute % 60:02d}"
                    rows.append((stamp, open_, high, low, close, volume))
                    price = close
            done += 1
        day += datetime.timedelta(days=1)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("datetime,open,high,low,close,volume\n")
        for d, o, h, l, c, v in rows:
            f.write(f"{d},{o:.3f},{h:.3f},{l:.3f},{c:.3f},{v}\n")


USAGE = """make_sample_bars.py [PATH [BARS [SEED]]]
       make_sample_bars.py intraday [PATH [DAYS [SEED]]]"""


def command(argv):
    """The maker and its arguments from the command line; anything else is a usage error."""
    parser = argparse.ArgumentParser(description=__doc__, usage=USAGE,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("words", nargs="*", metavar="ARG", help="as the usage lines show")
    words = parser.parse_args(argv).words
    maker, defaults = main, ["data/synthetic_daily_bars.csv", 3000, 20240131]
    if words[:1] == ["intraday"]:
        maker, defaults, words = intraday, ["data/synthetic_intraday_bars.csv", 20, 20240601], words[1:]
    if len(words) > 3:
        parser.error(f"at most PATH, a count and a seed: {' '.join(words[3:])!r} is left over")
    args = list(defaults)
    for k, word in enumerate(words):
        if k == 0:
            args[0] = word
            continue
        try:
            args[k] = int(word)
        except ValueError:
            parser.error(f"{'the count' if k == 1 else 'the seed'} must be a whole number, not {word!r}")
        if k == 1 and args[k] < 1:
            parser.error(f"the count must be at least 1, not {word}")
    return maker, args


if __name__ == "__main__":
    maker, args = command(sys.argv[1:])
    maker(*args)
