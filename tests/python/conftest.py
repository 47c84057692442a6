"""Shared fixtures: the built module, the command-line tool, and the plug-in loaded as a host would."""
import ctypes
import os
import sys
from pathlib import Path

import numpy as np
import pytest

BUILD = Path(os.environ.get("VLM_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "default"))
SOURCE = Path(os.environ.get("VLM_SOURCE_DIR", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(BUILD / "python"))


class FuncTableEntry(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("funcNo", ctypes.c_uint16), ("funcPtr", ctypes.c_void_p)]


FLOATS = ctypes.POINTER(ctypes.c_float)
CALC = ctypes.CFUNCTYPE(None, ctypes.c_int32, FLOATS, FLOATS, FLOATS, FLOATS)


class Plugin:
    """A Linux plug-in, driven through RegisterVlmFunc and its table only."""

    def __init__(self, path, functions=9):
        self.lib = ctypes.CDLL(str(path))
        table = ctypes.POINTER(FuncTableEntry)()
        assert self.lib.RegisterVlmFunc(ctypes.byref(table)) == 1
        self.functions = {}
        for row in range(functions):
            assert table[row].funcNo == row + 1
            self.functions[row + 1] = CALC(table[row].funcPtr)

    def call(self, number, a, b, c=None):
        a, b = (np.ascontiguousarray(x, dtype=np.float32) for x in (a, b))
        c = None if c is None else np.ascontiguousarray(c, dtype=np.float32)
        out = np.zeros(len(a), dtype=np.float32)
        ptr = lambda x: None if x is None else x.ctypes.data_as(FLOATS)
        self.functions[number](len(a), ptr(out), ptr(a), ptr(b), ptr(c))
        return out

    def all_nine(self, high, low):
        signal = self.call(2, high, low)
        return [self.call(1, high, low), signal] + [self.call(n, signal, high, low) for n in range(3, 10)]


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: takes more than half a minute; run by its own ctest entry")


@pytest.fixture(scope="session")
def plugin():
    return Plugin(BUILD / "src" / "libtestVelmorDll.so")


@pytest.fixture(scope="session")
def points_plugin():
    """The companion, testVelmorPoints: its seven functions take highs, lows and closes."""
    return Plugin(BUILD / "src" / "libtestVelmorPoints.so", functions=7)


@pytest.fixture(scope="session")
def vlmstruct_bin():
    return BUILD / "tools" / "vlmstruct" / "vlmstruct"


@pytest.fixture(scope="session")
def sample_csv():
    return SOURCE / "data" / "synthetic_daily_bars.csv"


def generated_bars(kind, n, seed):
    rng = np.random.default_rng(seed)
    if kind == "walk":
        mid = 100 + np.cumsum(rng.uniform(-1, 1, n))
        high, low = np.round(mid + rng.uniform(0, 0.6, n), 2), np.round(mid - rng.uniform(0, 0.6, n), 2)
    elif kind == "tiny":
        a, b = rng.integers(1, 4, n), rng.integers(1, 4, n)
        high, low = np.maximum(a, b).astype(float), np.minimum(a, b).astype(float)
    else:  # NaN sprinkled into a walk
        high, low = generated_bars("walk", n, seed)
        high[rng.random(n) < 0.03] = np.nan
        low[rng.random(n) < 0.03] = np.nan
    return high.astype(np.float32), low.astype(np.float32)


def same_bits(a, b):
    a, b = np.asarray(a, dtype=np.float32), np.asarray(b, dtype=np.float32)
    return a.shape == b.shape and np.array_equal(a.view(np.uint32), b.view(np.uint32))
