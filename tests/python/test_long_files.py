"""Files longer than the reader's blocks and writers' buffers, byte for byte.

The same bars written the ways users' files have them (quoted fields with line breaks and thousands,
CRLF, semicolons, UTF-16, a byte-order mark with tabs, newest first) must give exactly the files of
the plain CSV from analyze and replay; standard output must carry exactly what a file gets; and the
replay written as the bars arrive must equal the one the module writes from a whole log.
"""
import random
import subprocess

import pytest

from vlmstruct import _core

BARS = 30000  # about 1.4 MB: several of the reader's blocks


@pytest.fixture(scope="module")
def rows():
    rng = random.Random(11)
    cents, out = 5000, []
    for k in range(BARS):
        day, minute = divmod(k, 240)
        first = cents + rng.randint(-20, 20)
        cents = max(100, cents + rng.randint(-60, 60))
        high, low = max(first, cents) + rng.randint(0, 40), max(1, min(first, cents) - rng.randint(0, 40))
        # Some prices with more decimals than cents, some in exponent form.
        close = f"{cents / 100:.2f}" if k % 7 else f"{cents / 100 + 0.000123:.6f}"
        out.append([f"2001-{1 + day // 28:02d}-{1 + day % 28:02d} {9 + minute // 60:02d}:{minute % 60:02d}",
                    f"{first / 100:.2f}", f"{high / 100:.2f}", f"{low / 100:.2f}", close, str(rng.randint(1, 3000000))])
    return out


HEADER = ["date", "open", "high", "low", "close", "volume"]


def text(rows, delimiter=",", end="\n", header=HEADER):
    return end.join(delimiter.join(r) for r in [header] + rows) + end


def quoted(rows):
    lines = ['"date","note","open","high","low","close","volume"']
    for k, r in enumerate(rows):
        note = f'"line {k}\nsays ""{k % 3}"", ok"' if k % 5 == 0 else f'"{k}"'
        lines.append(",".join([f'"{r[0]}"', note] + [f'"{v}"' for v in r[1:5]] + [f'"{int(r[5]):,}"']))
    return ("\n".join(lines) + "\n").encode()


VARIANTS = {
    "quoted_with_line_breaks_and_thousands": quoted,
    "crlf": lambda r: text(r, end="\r\n").encode(),
    "semicolons": lambda r: text(r, ";").encode(),
    "utf16le": lambda r: b"\xff\xfe" + text(r).encode("utf-16-le"),
    "utf16be": lambda r: b"\xfe\xff" + text(r).encode("utf-16-be"),
    "bom_and_tabs": lambda r: b"\xef\xbb\xbf" + text(r, "\t").encode(),
    "newest_first": lambda r: text(r[::-1]).encode(),
}


def outputs(tool, bars, out):
    out.mkdir()
    subprocess.run([tool, "analyze", bars, "-o", out / "a.csv", "--json", out / "a.json"], check=True,
                   capture_output=True)
    subprocess.run([tool, "replay", bars, "-o", out / "r.csv", "--events", out / "e.csv"], check=True,
                   capture_output=True)
    json = (out / "a.json").read_bytes()
    # The JSON names its source file; the rest must be equal.
    json = json.split(b"\n", 2)[2]
    return {"a.csv": (out / "a.csv").read_bytes(), "a.json": json, "r.csv": (out / "r.csv").read_bytes(),
            "e.csv": (out / "e.csv").read_bytes()}


@pytest.fixture(scope="module")
def plain(vlmstruct_bin, rows, tmp_path_factory):
    work = tmp_path_factory.mktemp("plain")
    bars = work / "plain.csv"
    bars.write_text(text(rows))
    return bars, outputs(vlmstruct_bin, bars, work / "out")


@pytest.mark.parametrize("variant", sorted(VARIANTS))
def test_every_layout_writes_the_plain_files(vlmstruct_bin, rows, plain, tmp_path, variant):
    bars = tmp_path / f"{variant}.csv"
    bars.write_bytes(VARIANTS[variant](rows))
    got = outputs(vlmstruct_bin, bars, tmp_path / "out")
    for name, content in plain[1].items():
        assert got[name] == content, f"{variant}: {name} differs"


def test_standard_output_carries_what_a_file_gets(vlmstruct_bin, plain):
    bars, expected = plain
    per_bar = subprocess.run([vlmstruct_bin, "analyze", bars], check=True, capture_output=True).stdout
    assert per_bar == expected["a.csv"]
    as_of = subprocess.run([vlmstruct_bin, "replay", bars], check=True, capture_output=True).stdout
    assert as_of == expected["r.csv"]


def test_replay_as_it_goes_equals_the_replay_from_a_log(plain, tmp_path):
    bars, expected = plain
    _core.replay_file(str(bars), str(tmp_path / "r.csv"), str(tmp_path / "e.csv"), False)
    assert (tmp_path / "r.csv").read_bytes() == expected["r.csv"]
    assert (tmp_path / "e.csv").read_bytes() == expected["e.csv"]
