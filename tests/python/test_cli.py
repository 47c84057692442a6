import json
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from conftest import same_bits


def run(binary, *args):
    return subprocess.run([str(binary), *map(str, args)], capture_output=True, text=True, timeout=120)


def read_output_csv(path):
    lines = path.read_text().splitlines()
    header = lines[0].split(",")
    rows = [line.split(",") for line in lines[1:]]
    # The last column holds point labels (B1, S2+S3), the others numbers.
    assert header[-1] == "trading_point"
    return header, {name: np.array([r[i] for r in rows], dtype=np.float32 if name != "trading_point" else str)
                    for i, name in enumerate(header) if i}


def test_analyze_matches_the_plugin_bit_for_bit(vlmstruct_bin, sample_csv, plugin, tmp_path):
    out = tmp_path / "a.csv"
    result = run(vlmstruct_bin, "analyze", sample_csv, "-o", out, "--json", tmp_path / "s.json")
    assert result.returncode == 0, result.stderr
    header, columns = read_output_csv(out)
    assert header[:3] == ["date", "high", "low"]
    expected = plugin.all_nine(columns["high"], columns["low"])
    assert len(header) == 3 + len(expected) + 1
    for name, host in zip(header[3:], expected):
        assert same_bits(columns[name], host), name
    structures = json.loads((tmp_path / "s.json").read_text())
    marks = np.flatnonzero(columns["stroke"])
    assert [s["end_bar"] for s in structures["strokes"]] == marks.tolist()
    assert structures["strokes"][-1]["in_progress"] is True
    upper = columns["pivot_upper"]
    for p in structures["pivots"]:
        assert np.all(upper[p["start_bar"] + 1:p["end_bar"]] == np.float32(p["upper"]))


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


def outputs_in(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}


# Each command fails on one of its outputs; every other output must stay as it was.
PARTIAL = {
    "analyze_second_of_two": ["analyze", "{bars}", "-o", "a.csv", "--json", "missing/x.json"],
    "analyze_last_of_three": ["analyze", "{bars}", "-o", "a.csv", "--json", "b.json", "--html", "missing/c.html"],
    "analyze_last_is_a_folder": ["analyze", "{bars}", "-o", "a.csv", "--json", "b.json", "--html", "folder"],
    "replay_events": ["replay", "{bars}", "-o", "a.csv", "--events", "missing/e.csv"],
    "chart": ["chart", "{bars}", "-o", "missing/c.html"],
    "scan_summary": ["scan", "{market}", "-o", "missing/s.csv"],
}


@pytest.mark.parametrize("case", sorted(PARTIAL))
def test_a_failing_output_leaves_every_output_untouched(vlmstruct_bin, sample_csv, tmp_path, case):
    market = tmp_path / "market"
    market.mkdir()
    shutil.copy(sample_csv, market / "bars.csv")
    (tmp_path / "folder").mkdir()
    for name in ("a.csv", "b.json"):
        (tmp_path / name).write_text(f"previous {name}\n")
    before = outputs_in(tmp_path)
    args = [a.format(bars=market / "bars.csv", market=market) for a in PARTIAL[case]]
    result = subprocess.run([str(vlmstruct_bin), *args], cwd=tmp_path, capture_output=True, text=True)
    assert result.returncode == 1
    assert ("missing" in result.stderr and "does not exist" in result.stderr) or "is a folder" in result.stderr
    assert outputs_in(tmp_path) == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.csv", "b.json", "folder", "market"]
    assert not any((tmp_path / "folder").iterdir()) and sorted(p.name for p in market.iterdir()) == ["bars.csv"]


def test_a_missing_output_folder_is_not_created(vlmstruct_bin, sample_csv, tmp_path):
    target = tmp_path / "nonexistent" / "deeper" / "a.csv"
    result = run(vlmstruct_bin, "analyze", sample_csv, "-o", target)
    assert result.returncode == 1 and str(target.parent) in result.stderr
    assert not (tmp_path / "nonexistent").exists()


def test_dash_is_standard_output(vlmstruct_bin, sample_csv, tmp_path):
    plain = run(vlmstruct_bin, "analyze", sample_csv)
    dashed = run(vlmstruct_bin, "analyze", sample_csv, "-o", "-", "--json", tmp_path / "s.json")
    assert dashed.returncode == 0 and dashed.stdout == plain.stdout
    assert json.loads((tmp_path / "s.json").read_text())["bars"] == 3000
    json_out = run(vlmstruct_bin, "analyze", sample_csv, "--json", "-", "-o", tmp_path / "a.csv")
    assert json.loads(json_out.stdout)["bars"] == 3000
    assert (tmp_path / "a.csv").read_text() == plain.stdout
    events = run(vlmstruct_bin, "replay", sample_csv, "-o", tmp_path / "asof.csv", "--events", "-")
    assert events.returncode == 0 and events.stdout.startswith("date,subject,event,")
    chart = run(vlmstruct_bin, "chart", sample_csv, "-o", "-")
    assert chart.returncode == 0 and chart.stdout.lstrip().startswith("<!")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.csv", "asof.csv", "s.json"]


# Usage errors: exit status 2, the problem named, nothing written.
USAGE = {
    "two_outputs_to_standard_output": (["analyze", "{bars}", "-o", "-", "--json", "-"], "standard output"),
    "replay_both_to_standard_output": (["replay", "{bars}", "--events", "-"], "standard output"),
    "one_file_twice": (["analyze", "{bars}", "-o", "x.csv", "--html", "./x.csv"], "the same file"),
    "output_over_the_input": (["analyze", "{bars}", "-o", "{bars}"], "would overwrite the input"),
    "unknown_command": (["analyse", "{bars}"], "unknown command 'analyse'; did you mean 'analyze'?"),
    "unknown_option": (["analyze", "{bars}", "--jsn", "x.json"], "unknown option '--jsn' for analyze; did you mean '--json'?"),
    "unknown_flag_far_from_any": (["scan", ".", "--zzzzzzzzzz"], "unknown option '--zzzzzzzzzz' for scan (valid:"),
    "no_command": ([], "a command is required"),
    "no_bar_file": (["analyze"], "BARS is required"),
    "bad_jobs": (["scan", ".", "--jobs", "0"], "jobs"),
}


@pytest.mark.parametrize("case", sorted(USAGE))
def test_usage_errors_exit_2_and_say_what_is_wrong(vlmstruct_bin, sample_csv, tmp_path, case):
    bars = tmp_path / "bars.csv"
    shutil.copy(sample_csv, bars)
    args, said = USAGE[case]
    result = subprocess.run([str(vlmstruct_bin), *[a.format(bars=bars) for a in args]], cwd=tmp_path,
                            capture_output=True, text=True)
    assert result.returncode == 2, result.stderr
    assert said in result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bars.csv"]
    assert bars.read_bytes() == sample_csv.read_bytes()


def test_help_documents_the_exit_status(vlmstruct_bin):
    for args in ([], ["analyze"], ["scan"]):
        result = run(vlmstruct_bin, *args, "--help")
        assert result.returncode == 0
        assert "Exit status: 0 success, 1 bad input" in result.stdout and "2 usage error" in result.stdout


def test_scan_says_what_it_skips_and_recurses_when_asked(vlmstruct_bin, sample_csv, tmp_path):
    market = tmp_path / "market"
    (market / "sub" / "deeper").mkdir(parents=True)
    shutil.copy(sample_csv, market / "top.csv")
    shutil.copy(sample_csv, market / "sub" / "a.csv")
    shutil.copy(sample_csv, market / "sub" / "deeper" / "b.TXT")
    summary = market / "summary.csv"  # written into the folder it scans: never read as bars
    flat = run(vlmstruct_bin, "scan", market, "-o", summary)
    assert flat.returncode == 0 and "1 subfolder of" in flat.stderr and "--recursive" in flat.stderr
    assert [line.split(",")[0] for line in summary.read_text().splitlines()[1:]] == ["top.csv"]
    deep = run(vlmstruct_bin, "scan", market, "--recursive", "-o", summary)
    assert deep.returncode == 0, deep.stderr
    assert [line.split(",")[0] for line in summary.read_text().splitlines()[1:]] == [
        "sub/a.csv", "sub/deeper/b.TXT", "top.csv"]
    assert "3 of 3 files analysed" in deep.stderr


@pytest.mark.parametrize("contents", ["empty", "only_other_files", "missing"])
def test_scan_of_a_folder_without_bar_files_fails(vlmstruct_bin, tmp_path, contents):
    folder = tmp_path / "market"
    if contents != "missing":
        folder.mkdir()
    if contents == "only_other_files":
        (folder / "notes.md").write_text("no bars here")
    result = run(vlmstruct_bin, "scan", folder, "-o", tmp_path / "s.csv")
    assert result.returncode == 1
    assert ("no such folder" if contents == "missing" else "no bar files") in result.stderr
    assert not (tmp_path / "s.csv").exists()


def test_scan_errors_stay_short_in_the_summary(vlmstruct_bin, sample_csv, tmp_path):
    folder = tmp_path / "market"
    folder.mkdir()
    shutil.copy(sample_csv, folder / "good.csv")
    (folder / "huge.csv").write_text("date,high,low\n2024-01-02," + "7" * 5_000_000 + ",1\n")
    result = run(vlmstruct_bin, "scan", folder, "-o", tmp_path / "s.csv")
    assert result.returncode == 1
    text = (tmp_path / "s.csv").read_text()
    assert len(text) < 2000 and "huge.csv:2:2" in text and "(5000000 bytes)" in text


# The sample maker: a word it cannot take is a usage error that writes nothing.
MAKER_CASES = {
    "help": (["--help"], 0, False),
    "unknown option": (["-x"], 2, False),
    "count not a number": (["{out}", "ten"], 2, False),
    "count of none": (["{out}", "0"], 2, False),
    "seed not a number": (["{out}", "5", "seed"], 2, False),
    "a word too many": (["{out}", "5", "1", "extra"], 2, False),
    "daily bars": (["{out}", "5"], 0, True),
    "intraday days": (["intraday", "{out}", "1"], 0, True),
}


@pytest.mark.parametrize("case", sorted(MAKER_CASES))
def test_sample_maker_refuses_what_it_cannot_take(case, tmp_path):
    words, status, writes = MAKER_CASES[case]
    out = tmp_path / "bars.csv"
    maker = Path(__file__).resolve().parents[2] / "tools" / "make_sample_bars.py"
    result = subprocess.run([sys.executable, str(maker), *(w.format(out=out) for w in words)],
                            capture_output=True, text=True, cwd=tmp_path, timeout=60)
    assert result.returncode == status, result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == (["bars.csv"] if writes else [])
    if writes:
        lines = out.read_text().splitlines()
        assert len(lines) > 1 and lines[0].endswith("open,high,low,close,volume")
