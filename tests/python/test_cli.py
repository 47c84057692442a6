import json
import shutil
import subprocess

import numpy as np
import pytest

from conftest import same_bits


def run(binary, *args):
    return subprocess.run([str(binary), *map(str, args)], capture_output=True, text=True, timeout=120)


def read_output_csv(path):
    lines = path.read_text().splitlines()
    header = lines[0].split(",")
    rows = [line.split(",") for line in lines[1:]]
    return header, {name: np.array([r[i] for r in rows], dtype=np.float32) for i, name in enumerate(header) if i}


def test_analyze_matches_the_plugin_bit_for_bit(vlmstruct_bin, sample_csv, plugin, tmp_path):
    out = tmp_path / "a.csv"
    result = run(vlmstruct_bin, "analyze", sample_csv, "-o", out, "--json", tmp_path / "s.json")
    assert result.returncode == 0, result.stderr
    header, columns = read_output_csv(out)
    assert header[:3] == ["date", "high", "low"]
    expected = plugin.all_nine(columns["high"], columns["low"])
    for name, host in zip(header[3:], expected):
        assert same_bits(columns[name], host), name
    structures = json.loads((tmp_path / "s.json").read_text())
    marks = np.flatnonzero(columns["stroke"])
    assert [s["end_bar"] for s in structures["strokes"]] == marks.tolist()
    assert structures["strokes"][-1]["in_progress"] is True
    upper = columns["pivot_upper"]
    for p in structures["pivots"]:
        assert np.all(upper[p["start_bar"] + 1:p["end_bar"]] == np.float32(p["upper"]))


BAD = {
    "missing_column": ("date,high,close\n2024-01-02,2,1\n", ["bad.csv:1", "'low'"]),
    "non_numeric": ("date,high,low\n2024-01-02,2,1\n2024-01-03,two,1\n", ["bad.csv:3:2", "'two'"]),
    "empty": ("", ["bad.csv", "empty"]),
    "header_only": ("date,high,low\n", ["bad.csv", "no bars"]),
    "duplicate_dates": ("date,high,low\n2024-01-02,2,1\n2024-01-02,3,2\n", ["bad.csv:3", "duplicate"]),
    "mixed_delimiters": ("date,high,low\n2024-01-02;2;1\n", ["bad.csv:2", "expected 3 fields"]),
}


@pytest.mark.parametrize("case", sorted(BAD))
def test_bad_input_is_refused_and_nothing_is_half_written(vlmstruct_bin, tmp_path, case):
    text, parts = BAD[case]
    bad = tmp_path / "bad.csv"
    bad.write_text(text)
    out = tmp_path / "out.csv"
    out.write_text("previous result\n")
    result = run(vlmstruct_bin, "analyze", bad, "-o", out, "--json", tmp_path / "s.json", "--html", tmp_path / "c.html")
    assert result.returncode != 0
    for part in parts:
        assert part in result.stderr
    assert out.read_text() == "previous result\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.csv", "out.csv"]


@pytest.mark.parametrize("encoding,prefix", [("gbk", b""), ("utf-8", b"\xef\xbb\xbf")])
def test_chinese_headers_in_gbk_and_with_bom(vlmstruct_bin, sample_csv, tmp_path, encoding, prefix):
    lines = sample_csv.read_text().splitlines()
    chinese = "日期,开盘,最高,最低,收盘,成交量\n" + "\n".join(lines[1:]) + "\n"
    converted = tmp_path / "cn.csv"
    converted.write_bytes(prefix + chinese.encode(encoding))
    a = run(vlmstruct_bin, "analyze", converted)
    b = run(vlmstruct_bin, "analyze", sample_csv)
    assert a.returncode == 0, a.stderr
    assert a.stdout == b.stdout


def test_rows_out_of_order_are_sorted_and_said(vlmstruct_bin, tmp_path):
    f = tmp_path / "rev.csv"
    f.write_text("date,high,low\n2024-01-03,3,2\n2024-01-02,2,1\n")
    result = run(vlmstruct_bin, "analyze", f)
    assert result.returncode == 0
    assert "sorted ascending" in result.stderr
    assert result.stdout.splitlines()[1].startswith("2024-01-02")


def test_scan_lists_failures_and_completes_the_rest(vlmstruct_bin, sample_csv, tmp_path):
    folder = tmp_path / "market"
    folder.mkdir()
    for name in ("aaa.csv", "bbb.csv", "ccc.csv"):
        shutil.copy(sample_csv, folder / name)
    (folder / "broken.csv").write_text("date,high,low\n2024-01-02,x,1\n")
    (folder / "notes.md").write_text("not a bar file")
    summary = tmp_path / "summary.csv"
    result = run(vlmstruct_bin, "scan", folder, "--jobs", 2, "-o", summary)
    assert result.returncode == 1
    assert "3 of 4 files analysed" in result.stderr
    rows = [line.split(",") for line in summary.read_text().splitlines()]
    header, body = rows[0], {r[0]: dict(zip(rows[0], r)) for r in rows[1:]}
    assert header[-1] == "error" and sorted(body) == ["aaa.csv", "bbb.csv", "broken.csv", "ccc.csv"]
    assert "broken.csv:2:2" in body["broken.csv"]["error"]
    assert body["aaa.csv"] == {**body["bbb.csv"], "file": "aaa.csv"}
    assert body["aaa.csv"]["close_vs_pivot"] in {"inside", "above", "below"}


def read_table(path):
    lines = path.read_text().splitlines()
    header = lines[0].split(",")
    return header, [dict(zip(header, line.split(","))) for line in lines[1:]]


def test_replay_row_t_is_the_analysis_of_bars_0_to_t(vlmstruct_bin, sample_csv, tmp_path):
    """Each as-of row says what analyze says of the file cut after that bar."""
    asof, events = tmp_path / "asof.csv", tmp_path / "events.csv"
    result = run(vlmstruct_bin, "replay", sample_csv, "-o", asof, "--events", events)
    assert result.returncode == 0, result.stderr
    lines = sample_csv.read_text().splitlines(keepends=True)
    _, rows = read_table(asof)
    assert len(rows) == len(lines) - 1
    for t in (3, 150, 1234, len(rows) - 1):
        prefix = tmp_path / f"p{t}.csv"
        prefix.write_text("".join(lines[:t + 2]))
        js = tmp_path / f"p{t}.json"
        assert run(vlmstruct_bin, "analyze", prefix, "--open-pivot", "--json", js).returncode == 0
        s = json.loads(js.read_text())
        row = rows[t]
        assert row["bar"] == str(t) and row["date"] == lines[t + 1].split(",")[0]
        for name, marks in (("stroke", s["strokes"]), ("segment", s["segments"])):
            assert row[f"{name}_bar"] == str(marks[-1]["end_bar"])
            assert row[f"{name}_dir"] == str(marks[-1]["direction"])
        closed = [p for p in s["pivots"] if not p["open"]]
        under_way = [p for p in s["pivots"] if p["open"]]
        assert row["pivot_start"] == (str(closed[-1]["start_bar"]) if closed else "")
        assert row["pivot_run_count"] == (str(closed[-1]["run_count"]) if closed else "")
        assert row["under_way_start"] == (str(under_way[0]["start_bar"]) if under_way else "")
        assert row["under_way_end"] == (str(under_way[0]["end_bar"]) if under_way else "")
    header, changes = read_table(events)
    assert header[:4] == ["date", "subject", "event", "bar"] and header[-1] == "text"
    assert {c["event"] for c in changes} >= {"appeared", "moved", "confirmed", "closed", "opened"}


def test_replay_refuses_a_bad_file_and_writes_nothing(vlmstruct_bin, tmp_path):
    bad = tmp_path / "bad.csv"
    bad.write_text("date,high,low\n2024-01-02,2,1\n2024-01-03,two,1\n")
    asof = tmp_path / "asof.csv"
    asof.write_text("previous result\n")
    result = run(vlmstruct_bin, "replay", bad, "-o", asof, "--events", tmp_path / "events.csv")
    assert result.returncode != 0 and "bad.csv:3:2" in result.stderr
    assert asof.read_text() == "previous result\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["asof.csv", "bad.csv"]
