#!/usr/bin/env python3
"""Writes the committed seed corpora from worked examples (run from the repository root)."""
import os
import struct

CODES = {1.0: 0, -1.0: 1, 0.0: 2}
RAW_INDEPENDENT = 0x13  # every price a raw float, lows independent of highs


def function_seed(number, highs, lows, signal=None):
    n = len(highs)
    out = bytes([number - 1, n // 8, RAW_INDEPENDENT, n % 8])
    for i in range(n):
        if number >= 3:
            out += bytes([CODES[signal[i]]])
        else:
            out += struct.pack("<f", 0.0)
        out += struct.pack("<f", highs[i]) + struct.pack("<f", lows[i])
    return out


def pivot_example():
    s, h, l = [0.0] * 50, [0.0] * 50, [0.0] * 50
    for bar, low in ((10, 5), (20, 7), (30, 8), (40, 9)):
        s[bar], l[bar] = -1.0, low
    for bar, high in ((15, 12), (25, 11), (35, 13), (45, 7.5)):
        s[bar], h[bar] = 1.0, high
    return s, h, l


def endless_walk_example():
    s = [0, 1, -1, 1, -1, 1, 1, 1, -1, -1, -1, 1]
    h, l = [0.0] * 12, [0.0] * 12
    for bar, high in ((1, 100), (3, 80), (5, 75), (6, 70), (7, 40), (11, 25)):
        h[bar] = high
    for bar, low in ((2, 50), (4, 55), (8, 10), (9, 20), (10, 30)):
        l[bar] = low
    return [float(x) for x in s], h, l


def streaming_seed(highs, lows):
    """Raw big-endian prices, lows independent of highs (style 0x12)."""
    out = bytes([0x12])
    for h, l in zip(highs, lows):
        out += struct.pack(">f", h) + struct.pack(">f", l)
    return out


def write_corpus(name, files):
    os.makedirs(f"fuzz/corpus/{name}", exist_ok=True)
    for file_name, data in files.items():
        with open(f"fuzz/corpus/{name}/{file_name}", "wb") as f:
            f.write(data)


def main():
    seeds = {
        "merge_example": function_seed(1, [10, 12, 11, 13, 12, 11], [5, 6, 7, 6, 8, 6]),
        "stroke_example": function_seed(2, [10, 9, 8, 7, 6, 7, 8, 9, 10, 11], [9, 8, 7, 6, 5, 6, 7, 8, 9, 10]),
        "stroke_pending": function_seed(2, [30, 20, 21, 20.5, 20.2], [25, 5, 10, 9, 8]),
        "segment_pullback": function_seed(3, [11, 20, 16, 18, 17, 19, 17, 17], [10, 15, 14, 15, 15, 16, 13, 13],
                                          [-1.0, 1.0, -1.0, 1.0, -1.0, 1.0, -1.0, 0.0]),
    }
    s, h, l = pivot_example()
    for number in range(5, 10):
        seeds[f"pivot_example_f{number}"] = function_seed(number, h, l, s)
    s, h, l = endless_walk_example()
    seeds["pivot_endless_walk"] = function_seed(5, h, l, s)
    write_corpus("functions", seeds)
    write_corpus("streaming", {
        "stroke_example": streaming_seed([10, 9, 8, 7, 6, 7, 8, 9, 10, 11], [9, 8, 7, 6, 5, 6, 7, 8, 9, 10]),
        "merged_last_bar": streaming_seed([10, 9, 8, 7, 6, 5.8, 6.5], [9, 8, 7, 6, 5, 5.2, 4.5]),
        "stroke_pending": streaming_seed([30, 20, 21, 20.5, 20.2, 19.9, 19], [25, 5, 10, 9, 8, 7, 6]),
    })
    # The first byte picks how the bar-file harness hands the rest over: 0 as it is,
    # 0x01 as UTF-16BE, 0x82 as UTF-16LE, 0x02 with every field quoted.
    plain, big_endian, little_endian, quoted = b"\x00", b"\x01", b"\x82", b"\x02"
    bar_files = {
        "comma.csv": plain + b"date,open,high,low,close,volume\n2024-01-02,1,2,0.5,1.5,100\n2024-01-03,1.5,3,1,2,120\n",
        "chinese.csv": plain + "日期,开盘,最高,最低,收盘\n20240102,1,2,1,2\n".encode("utf-8"),
        "tabs.txt": plain + b"\xef\xbb\xbfDate\tHigh\tLow\n2024/01/02 09:30\t2\t1\n",
        "unsorted.csv": plain + b"time;high;low\n2024-01-03;3;2\n2024-01-02;2;1\n",
        "vendor.csv": plain + b"ts_code,trade_date,open,high,low,close,vol,amount\n"
                              b"000001.SZ,20240103,1,3,1,2,7,700\n000001.SZ,20240102,1,2,0.5,1.5,6,600\n",
        "spreadsheet.csv": plain + b'sep=,\r"date","name","high","low","volume"\r'
                                   b'"2024-01-02","Acme, ""the"" firm\r\nline two","2","1","1,234,567",\r,,,,\r',
        "utf16le.txt": little_endian + b"date\thigh\tlow\r\n2024-01-02 09:30\t2\t1\r\n2024-01-02 09:31:00\t3\t2\r\n",
        "utf16be.csv": big_endian + b"date,high,low\n2024-02-29,2,1e-50\n",
        "quoted.csv": quoted + b"date,time,high,low,close\n2024-01-02,09:30,2,1,1.5\n2024-01-02,09:31,3,2,2.5\n",
        # A byte-order mark stays before the first quote when every field is quoted.
        "bom_quoted.csv": quoted + b"\xef\xbb\xbfdate,high,low\n2024-01-02,2,1\n",
    }
    write_corpus("bar_file", bar_files)
    profiles = {
        "two_sections.ini": b"[Main]\r\ncount=42\r\nflag=True\r\n\r\n[Second]\r\nvalue = 2.000000\r\n",
        "odd.ini": b"Main]\n=\n[ Main ]\n k = v \n[[x]]\nkey\n",
    }
    write_corpus("profile", profiles)
    # The snapshot harness makes its own snapshot from the first three bytes
    # (options, bars / 4, the walk's seed) and edits its payload with the
    # 4-byte edits after them (offset, what, value); see fuzz_snapshot.cpp.
    write_corpus("snapshot", {
        "daily_untouched": bytes([0x18, 40, 1]),
        "daily_forming_edited": bytes([0x1c, 60, 2, 0x10, 0x00, 0, 0xff, 0x40, 0x01, 1, 3]),
        "levels_untouched": bytes([0x01, 100, 3]),
        "levels_forming_edited": bytes([0x25, 150, 4, 0x00, 0x02, 2, 0, 0x80, 0x03, 3, 9]),
        "no_close_edited": bytes([0x02, 30, 5, 0x30, 0x00, 1, 200]),
    })


if __name__ == "__main__":
    main()
