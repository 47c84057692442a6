#!/usr/bin/env python3
"""Writes data/synthetic_daily_bars.csv: SYNTHETIC daily bars, not market data.

A deterministic random walk with volatility that clusters and trends that
persist, so that strokes, segments and pivots of every kind appear. The same
seed always gives the same file.
"""
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


if __name__ == "__main__":
    # make_sample_bars.py [PATH [BARS [SEED]]]
    args = sys.argv[1:]
    main(args[0] if args else "data/synthetic_daily_bars.csv",
         int(args[1]) if len(args) > 1 else 3000,
         int(args[2]) if len(args) > 2 else 20240131)
