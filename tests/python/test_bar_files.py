"""One table of bar files, good and bad, through the command-line tool and the Python module alike.

Every good file holds the same bars as the clean one and must analyse to exactly its output; every
bad file must be refused by both, naming the file, line and column, with existing outputs left as
they were.
"""
import subprocess
import warnings
from decimal import Decimal

import pandas as pd
import pytest

import vlmstruct

ROWS = 400
CLEAN_HEADER = ["date", "open", "high", "low", "close", "volume"]


@pytest.fixture(scope="module")
def clean_rows(sample_csv):
    lines = sample_csv.read_text().splitlines()
    assert lines[0].split(",") == CLEAN_HEADER
    return [line.split(",") for line in lines[1:ROWS + 1]]


def csv(header, rows, delimiter=",", end="\n"):
    return end.join(delimiter.join(r) for r in [header] + rows) + end


def compact(date):
    return date.replace("-", "")


def with_thousands(volume):
    return f"{int(volume):,}"


def scientific(price):
    return f"{Decimal(price):e}"  # the same decimal number, so the same float


def quoted(fields):
    return ['"' + f.replace('"', '""') + '"' for f in fields]


def utf16(text, byte_order):
    mark = b"\xff\xfe" if byte_order == "le" else b"\xfe\xff"
    return mark + text.encode("utf-16-le" if byte_order == "le" else "utf-16-be")


def reorder(row, order):
    return [row[CLEAN_HEADER.index(c)] for c in order]


# name -> (bytes from the clean rows, rows were out of date order)
GOOD = {
    "clean": (lambda r: csv(CLEAN_HEADER, r).encode(), False),
    "gbk_crlf_compact_dates": (lambda r: csv(["日期", "开盘", "最高", "最低", "收盘", "成交量"],
                                             [[compact(x[0])] + x[1:] for x in r], end="\r\n").encode("gbk"), False),
    "bom_tabs_close_before_high": (lambda r: b"\xef\xbb\xbf" + csv(
        ["Date", "Close", "High", "Low", "Open", "Volume"],
        [reorder(x, ["date", "close", "high", "low", "open", "volume"]) for x in r], "\t").encode(), False),
    "newest_first": (lambda r: csv(CLEAN_HEADER, r[::-1]).encode(), True),
    "tushare_newest_first": (lambda r: csv(
        ["ts_code", "trade_date", "open", "high", "low", "close", "pre_close", "change", "pct_chg", "vol", "amount"],
        [["600000.SH", compact(x[0])] + x[1:5] + ["1", "0", "0", x[5], "123456.7"] for x in r[::-1]]).encode(), True),
    "chinese_vendor_names": (lambda r: csv(["交易日期", "开盘价", "最高价", "最低价", "收盘价", "成交量", "成交额"],
                                           [x + ["99.5"] for x in r]).encode(), False),
    "datetime_header_and_padding": (lambda r: csv(["DateTime ", " open", "HIGH", "low ", "Close", "vol"],
                                                  [[f" {f} " for f in x] for x in r]).encode(), False),
    "quoted_with_thousands": (lambda r: csv(quoted(CLEAN_HEADER),
                                            [quoted(x[:5] + [with_thousands(x[5])]) for x in r]).encode(), False),
    "quoted_name_with_delimiter_and_line_break": (lambda r: csv(
        ["name"] + CLEAN_HEADER, [['"Acme, ""A""\nshares"'] + x for x in r]).encode(), False),
    "bare_cr": (lambda r: csv(CLEAN_HEADER, r, end="\r").encode(), False),
    "rows_of_delimiters": (lambda r: (csv(CLEAN_HEADER, r[:100]) + ",,,,,\n" + csv(CLEAN_HEADER, r[100:])
                                      .split("\n", 1)[1] + " , ,,, ,\n,,,,,\n").encode(), False),
    "trailing_delimiter_on_rows": (lambda r: csv(CLEAN_HEADER, [x + [""] for x in r]).encode(), False),
    "sep_line": (lambda r: ("sep=;\n" + csv(CLEAN_HEADER, r, ";")).encode(), False),
    "utf16le_tabs_crlf": (lambda r: utf16(csv(CLEAN_HEADER, r, "\t", "\r\n"), "le"), False),
    "utf16be": (lambda r: utf16(csv(CLEAN_HEADER, r), "be"), False),
    "scientific_prices": (lambda r: csv(CLEAN_HEADER, [[x[0]] + [scientific(p) for p in x[1:5]] + [x[5]]
                                                       for x in r]).encode(), False),
}

ROW = 10            # the row a bad file spoils
LINE = ROW + 2      # its line: the header is line 1
COLUMN = {name: k + 1 for k, name in enumerate(CLEAN_HEADER)}


def spoil(column, text):
    def make(rows):
        rows = [list(x) for x in rows]
        rows[ROW][CLEAN_HEADER.index(column)] = text(rows[ROW]) if callable(text) else text
        return csv(CLEAN_HEADER, rows).encode()
    return make


def two_ways_of_one_minute(rows):
    rows = [list(x) for x in rows]
    day = rows[ROW][0]
    rows[ROW][0], rows[ROW + 1][0] = day + " 09:30", day + " 09:30:00"
    return csv(CLEAN_HEADER, rows).encode()


def whole_row_quoted(rows):
    rows = [list(x) for x in rows]
    rows[ROW] = ['"' + ",".join(rows[ROW]) + '"']
    return csv(CLEAN_HEADER, rows).encode()


def mixed_delimiters(rows):
    text = csv(CLEAN_HEADER, rows).splitlines(keepends=True)
    text[LINE - 1] = text[LINE - 1].replace(",", ";")
    return "".join(text).encode()


# name -> (bytes from the clean rows, where the error must point, further text it must hold)
BAD = {
    "nan_high": (spoil("high", "nan"), f"bad.csv:{LINE}:{COLUMN['high']}", "'nan'"),
    "inf_high": (spoil("high", "inf"), f"bad.csv:{LINE}:{COLUMN['high']}", "'inf'"),
    "minus_inf_low": (spoil("low", "-inf"), f"bad.csv:{LINE}:{COLUMN['low']}", "'-inf'"),
    "nan_open": (spoil("open", "nan"), f"bad.csv:{LINE}:{COLUMN['open']}", "'open'"),
    "empty_high": (spoil("high", ""), f"bad.csv:{LINE}:{COLUMN['high']}", "empty"),
    "low_above_high": (spoil("low", lambda r: str(float(r[2]) + 1)), f"bad.csv:{LINE}:{COLUMN['low']}", "above high"),
    "february_31": (spoil("date", "2012-02-31"), f"bad.csv:{LINE}:1", "'2012-02-31'"),
    "year_0000": (spoil("date", "0000-01-16"), f"bad.csv:{LINE}:1", "'0000-01-16'"),
    "seconds_99": (spoil("date", lambda r: r[0] + " 09:30:99"), f"bad.csv:{LINE}:1", "09:30:99"),
    "one_minute_written_two_ways": (two_ways_of_one_minute, f"bad.csv:{LINE + 1}", "duplicate date"),
    "duplicate_day": (spoil("date", lambda r: "2012-01-02"), f"bad.csv:{LINE}", "duplicate date 2012-01-02"),
    "no_date_column": (lambda r: csv(["day"] + CLEAN_HEADER[1:], r).encode(), "bad.csv:1", "trade_date"),
    "no_low_column": (lambda r: csv(CLEAN_HEADER[:3] + ["bottom"] + CLEAN_HEADER[4:], r).encode(), "bad.csv:1",
                      "'low'"),
    "doubled_quote_is_no_number": (spoil("high", '"10"""'), f"bad.csv:{LINE}:{COLUMN['high']}", "'10\"'"),
    "quote_never_closed": (spoil("high", '"25.1'), f"bad.csv:{LINE}:{COLUMN['high']}", "never closed"),
    "whole_row_quoted": (whole_row_quoted, f"bad.csv:{LINE}", "one quoted field"),
    "mixed_delimiters": (mixed_delimiters, f"bad.csv:{LINE}", "expected 6 fields"),
    "huge_field": (spoil("high", "9" * 1_000_000 + "x"), f"bad.csv:{LINE}:{COLUMN['high']}", "(1000001 bytes)"),
    "header_only": (lambda r: csv(CLEAN_HEADER, []).encode(), "bad.csv", "no bars"),
    "empty": (lambda r: b"", "bad.csv", "empty"),
}


def tool(binary, *args):
    return subprocess.run([str(binary), *map(str, args)], capture_output=True, text=True, timeout=120)


def module_outputs(path):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        df = vlmstruct.read_bars(path)
    outputs, zones = vlmstruct.analyze(df)
    return outputs, zones, [str(w.message) for w in caught]


@pytest.fixture(scope="module")
def clean(tmp_path_factory, clean_rows, vlmstruct_bin):
    path = tmp_path_factory.mktemp("clean") / "clean.csv"
    path.write_bytes(GOOD["clean"][0](clean_rows))
    result = tool(vlmstruct_bin, "analyze", path)
    assert result.returncode == 0, result.stderr
    outputs, zones, _ = module_outputs(path)
    return result.stdout, outputs, zones


@pytest.mark.parametrize("case", sorted(GOOD))
def test_good_files_read_as_the_clean_one(vlmstruct_bin, clean_rows, clean, tmp_path, case):
    make, reordered = GOOD[case]
    path = tmp_path / "good.csv"
    path.write_bytes(make(clean_rows))
    result = tool(vlmstruct_bin, "analyze", path)
    assert result.returncode == 0, result.stderr
    assert result.stdout == clean[0]
    assert ("sorted ascending" in result.stderr) == reordered

    outputs, zones, said = module_outputs(path)
    pd.testing.assert_frame_equal(outputs, clean[1])
    assert zones == clean[2]
    assert any("sorted ascending" in s for s in said) == reordered


def test_the_module_analyses_the_clean_file_as_the_tool_does(clean):
    text, outputs, _ = clean
    cli = pd.read_csv(pd.io.common.StringIO(text), index_col="date", parse_dates=True)
    assert list(outputs.columns) == list(cli.columns[2:])
    for name in outputs.columns:
        if name == "trading_point":  # labels, empty where there is no point
            assert (cli[name].fillna("") == outputs[name]).all()
            continue
        assert (cli[name].to_numpy(dtype="float32") == outputs[name].to_numpy()).all(), name


@pytest.mark.parametrize("case", sorted(BAD))
def test_bad_files_are_refused_by_both_and_nothing_is_touched(vlmstruct_bin, clean_rows, tmp_path, case):
    make, where, detail = BAD[case]
    bad = tmp_path / "bad.csv"
    bad.write_bytes(make(clean_rows))
    previous = {name: f"previous {name}\n" for name in ("out.csv", "s.json", "c.html")}
    for name, text in previous.items():
        (tmp_path / name).write_text(text)
    result = tool(vlmstruct_bin, "analyze", bad, "-o", tmp_path / "out.csv", "--json", tmp_path / "s.json",
                  "--html", tmp_path / "c.html")
    assert result.returncode == 1
    message = result.stderr.strip().splitlines()[0]
    assert where + ":" in message or where + " " in message or message.endswith(where), message
    assert detail in message
    assert len(message) < 1200
    for name, text in previous.items():
        assert (tmp_path / name).read_text() == text
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["bad.csv", *previous])

    with pytest.raises(ValueError) as refused:
        vlmstruct.read_bars(bad)
    assert isinstance(refused.value, vlmstruct.BarFileError)
    assert str(refused.value) == message.removeprefix("vlmstruct: ")


def test_a_file_without_dates_is_taken_in_file_order_only_when_asked(vlmstruct_bin, tmp_path):
    path = tmp_path / "nodates.csv"
    path.write_text("high,low\n10,9\n9,8\n8,7\n7,6\n6,5\n")
    refused = tool(vlmstruct_bin, "analyze", path)
    assert refused.returncode == 1 and "no date column among the headers 'high', 'low'" in refused.stderr
    taken = tool(vlmstruct_bin, "analyze", path, "--no-dates")
    assert taken.returncode == 0 and "bars taken in file order" in taken.stderr
    assert [line.split(",")[0] for line in taken.stdout.splitlines()[1:]] == ["0", "1", "2", "3", "4"]
    df = vlmstruct.read_bars(path, no_dates=True)
    assert isinstance(df.index, pd.RangeIndex) and df["high"].tolist() == [10, 9, 8, 7, 6]
    with pytest.raises(ValueError, match="no date column"):
        vlmstruct.read_bars(path)
