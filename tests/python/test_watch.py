"""`vlmstruct watch` following a file as a feed appends to it: its alerts against `replay --events` of the
same bars, kills and restarts with --state, a webhook that fails, a file changed under it."""
import csv
import http.server
import json
import os
import queue
import random
import signal
import subprocess
import threading
import time

import pytest

from conftest import SOURCE

DAILY = SOURCE / "data" / "synthetic_daily_bars.csv"
INTRADAY = SOURCE / "data" / "synthetic_intraday_bars.csv"
INTERVAL = "0.02"


def bar_lines(path, rows):
    lines = path.read_text().splitlines(keepends=True)
    return lines[0], lines[1:rows + 1]


def replay_events(vlmstruct_bin, bars, tmp_path):
    out = tmp_path / "replay_events.csv"
    subprocess.run([str(vlmstruct_bin), "replay", str(bars), "-o", os.devnull, "--events", str(out)], check=True,
                   capture_output=True)
    with open(out, newline="") as f:
        return list(csv.DictReader(f))


class Watch:
    """watch as a child process, its alerts read as they come."""
    running = []

    def __init__(self, binary, bars, *options):
        self.proc = subprocess.Popen([str(binary), "watch", str(bars), "--interval", INTERVAL, *map(str, options)],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.running.append(self.proc)
        self.alerts = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.err, self.started = [], threading.Event()
        self.err_reader = threading.Thread(target=self._read_err, daemon=True)
        self.err_reader.start()
        # Its first words come once it catches SIGINT and SIGTERM (or it has failed).
        self.started.wait(30)

    def _read(self):
        for line in self.proc.stdout:
            self.alerts.put(json.loads(line))

    def _read_err(self):
        for line in self.proc.stderr:
            self.err.append(line)
            self.started.set()
        self.started.set()

    def take(self, n, timeout=60):
        got = []
        deadline = time.monotonic() + timeout
        while len(got) < n:
            got.append(self.alerts.get(timeout=max(0.01, deadline - time.monotonic())))
        return got

    def stop(self, sig=signal.SIGINT):
        self.proc.send_signal(sig)
        code = self.proc.wait(timeout=30)
        self.reader.join(timeout=10)
        self.err_reader.join(timeout=10)
        rest = []
        while not self.alerts.empty():
            rest.append(self.alerts.get())
        return code, rest, "".join(self.err)


@pytest.fixture(autouse=True)
def no_watch_left():
    yield
    while Watch.running:
        proc = Watch.running.pop()
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def assert_alerts_are_the_replay(alerts, rows):
    """Each alert is the events file's row: same id (bar-k@date), date, subject, event, columns and text."""
    assert len(alerts) == len(rows)
    k, last_bar = 0, None
    for alert, row in zip(alerts, rows):
        k = k + 1 if row["bar"] == last_bar else 0
        last_bar = row["bar"]
        assert alert["id"] == f"{row['bar']}-{k}@{row['date'].replace(' ', 'T')}" and alert["final"] is True
        for name, cell in row.items():
            value = alert[name if name != "event" else "event"]
            if name in ("date", "subject", "event", "text"):
                assert value == cell, (alert["id"], name)
            else:
                assert (value is None) == (cell == ""), (alert["id"], name)
                if cell != "":
                    assert value == float(cell), (alert["id"], name)


def append_in_chunks(path, text, rng, pause=0.004, by_rename=False):
    """Writes text at the end of path in pieces of random sizes, lines cut anywhere; `by_rename`: each time as a
    new copy of the file renamed over it, as some feeds write."""
    at = 0
    while at < len(text):
        n = rng.randint(1, 300)
        if by_rename:
            replace(path, path.read_text() + text[at:at + n])
        else:
            with open(path, "a") as f:
                f.write(text[at:at + n])
        at += n
        time.sleep(rng.uniform(0, pause))


@pytest.mark.parametrize("source,rows,seed,by_rename", [(DAILY, 700, 1, False), (INTRADAY, 900, 2, False),
                                                        (DAILY, 500, 6, True)])
def test_alerts_of_a_file_appended_in_chunks_are_the_replays_events_once_each(vlmstruct_bin, tmp_path, source, rows,
                                                                              seed, by_rename):
    header, lines = bar_lines(source, rows)
    bars = tmp_path / "bars.csv"
    bars.write_text(header + "".join(lines[:50]))
    watch = Watch(vlmstruct_bin, bars)
    append_in_chunks(bars, "".join(lines[50:]), random.Random(seed), by_rename=by_rename)
    expected = replay_events(vlmstruct_bin, bars, tmp_path)
    alerts = watch.take(len(expected))
    code, extra, err = watch.stop()
    assert code == 0, err
    assert extra == []
    assert "starting over" not in err
    assert_alerts_are_the_replay(alerts, expected)


def test_with_levels_each_alert_carries_every_levels_row_at_its_bar_as_replay_levels_writes_it(vlmstruct_bin,
                                                                                               tmp_path):
    header, lines = bar_lines(INTRADAY, 500)
    bars = tmp_path / "bars.csv"
    bars.write_text(header + "".join(lines[:300]))
    watch = Watch(vlmstruct_bin, bars, "--levels", "30min,day")
    append_in_chunks(bars, "".join(lines[300:]), random.Random(4))
    expected = replay_events(vlmstruct_bin, bars, tmp_path)
    alerts = watch.take(len(expected))
    assert watch.stop()[0] == 0
    table = tmp_path / "levels.csv"
    subprocess.run([str(vlmstruct_bin), "replay", str(bars), "--levels", "30min,day", "-o", str(table)], check=True,
                   capture_output=True)
    with open(table, newline="") as f:
        rows = list(csv.DictReader(f))
    columns = [c for c in rows[0] if c != "date"]
    assert any(c.startswith("day_") for c in columns) and any(c.startswith("30min_") for c in columns)
    for alert in alerts:
        row = rows[alert["bar"]]
        for c in columns:
            assert (alert[c] is None) == (row[c] == "") and (row[c] == "" or alert[c] == float(row[c])), (alert["id"], c)


def test_forming_rows_rewritten_then_followed_give_the_finished_events_of_the_plain_file(vlmstruct_bin, tmp_path):
    header, lines = bar_lines(DAILY, 300)
    bars = tmp_path / "bars.csv"
    bars.write_text(header)
    watch = Watch(vlmstruct_bin, bars, "--forming")
    rng = random.Random(3)
    at = len(header)
    for line in lines:
        date, o, h, l, c, v = line.strip().split(",")
        # Two provisional versions of the bar, within its final range, then the bar as it closed, each written
        # over the one before.
        closes = [round(rng.uniform(float(l), float(h)), 2) for _ in range(2)]
        drafts = [f"{date},{o},{max(float(o), x):.2f},{min(float(o), x):.2f},{x},{v}\n" for x in closes]
        for version in drafts + [line]:
            with open(bars, "r+") as f:
                f.seek(at)
                f.truncate()
                f.write(version)
            time.sleep(0.003)
        at += len(line)
    # The last row stays forming: the finished bars are all but it.
    finished = tmp_path / "finished.csv"
    finished.write_text(header + "".join(lines[:-1]))
    expected = replay_events(vlmstruct_bin, finished, tmp_path)
    time.sleep(0.5)
    code, alerts, err = watch.stop()
    assert code == 0, err
    final = [a for a in alerts if a["final"]]
    forming = [a for a in alerts if not a["final"]]
    assert_alerts_are_the_replay(final, expected)
    assert forming, "a forming bar made no alert"
    ids = [a["id"] for a in forming]
    assert len(ids) == len(set(ids)), "a forming alert fired twice"
    assert all(a["id"].startswith(f"{a['bar']}-f") and a["id"].endswith("@" + a["date"]) for a in forming)
    assert "starting over" not in err


@pytest.mark.parametrize("kill", [signal.SIGKILL, signal.SIGINT])
def test_stopped_and_restarted_with_state_every_event_goes_out_in_order_repeating_only_the_bar_in_flight(
        vlmstruct_bin, tmp_path, kill):
    header, lines = bar_lines(DAILY, 1500)
    bars, state = tmp_path / "bars.csv", tmp_path / "watch.state"
    bars.write_text(header)
    rng = random.Random(int(kill))
    text = "".join(lines)
    runs, at = [], 0
    while at < len(text):
        watch = Watch(vlmstruct_bin, bars, "--state", state)
        stop_at = time.monotonic() + rng.uniform(0.05, 0.5)
        while at < len(text) and time.monotonic() < stop_at:
            n = rng.randint(1, 400)
            with open(bars, "a") as f:
                f.write(text[at:at + n])
            at += n
            time.sleep(rng.uniform(0, 0.01))
        code, alerts, err = watch.stop(kill)
        assert code == (-signal.SIGKILL if kill == signal.SIGKILL else 0), err
        runs.append(alerts)
    expected = replay_events(vlmstruct_bin, bars, tmp_path)
    # A last run, stopped cleanly once every event went out.
    watch = Watch(vlmstruct_bin, bars, "--state", state)
    seen = {a["id"] for alerts in runs for a in alerts}
    last = []
    ids = expected_ids(expected)
    while not ids <= seen | {a["id"] for a in last}:
        last.append(watch.take(1, timeout=30)[0])
    code, rest, err = watch.stop()
    assert code == 0, err
    runs.append(last + rest)
    seen, delivered = set(), []
    for n, alerts in enumerate(runs):
        repeats = [a for a in alerts if a["id"] in seen]
        if kill == signal.SIGINT:
            assert repeats == [], f"run {n} sent again after a clean stop"
        else:
            # Only the bar whose alerts were going out when the run before was killed.
            assert alerts[:len(repeats)] == repeats, f"run {n}: a repeat after new alerts"
            assert all(a["bar"] == delivered[-1]["bar"] for a in repeats), f"run {n}: repeats of several bars"
        for a in alerts:
            if a["id"] not in seen:
                seen.add(a["id"])
                delivered.append(a)
    assert len(runs) > 3
    assert_alerts_are_the_replay(delivered, expected)


def expected_ids(rows):
    ids, k, last_bar = set(), 0, None
    for row in rows:
        k = k + 1 if row["bar"] == last_bar else 0
        last_bar = row["bar"]
        ids.add(f"{row['bar']}-{k}@{row['date'].replace(' ', 'T')}")
    return ids


class FlakyReceiver(http.server.BaseHTTPRequestHandler):
    """Answers 500 to some posts and drops the connection of others before reading them; keeps the rest."""
    plan = {}

    def do_POST(self):
        n = self.server.count = getattr(self.server, "count", 0) + 1
        fate = self.plan.get(n)
        if fate == "drop":
            self.close_connection = True
            self.connection.shutdown(2)
            return
        body = self.rfile.read(int(self.headers["Content-Length"]))
        if fate == "fail":
            self.send_response(500)
            self.end_headers()
            return
        self.server.received.append(json.loads(body))
        self.send_response(200)
        self.end_headers()

    def log_message(self, *args):
        pass


def test_a_webhook_that_fails_some_requests_receives_every_alert_in_order_once(vlmstruct_bin, tmp_path):
    header, lines = bar_lines(DAILY, 800)
    bars = tmp_path / "bars.csv"
    bars.write_text(header + "".join(lines[:400]))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), FlakyReceiver)
    server.received = []
    FlakyReceiver.plan = {2: "fail", 3: "fail", 6: "drop", 9: "fail", 15: "drop"}
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        url = f"http://127.0.0.1:{server.server_address[1]}/alerts"
        watch = Watch(vlmstruct_bin, bars, "--on", "trading_point:*", "--webhook", url)
        append_in_chunks(bars, "".join(lines[400:]), random.Random(5))
        expected = [r for r in replay_events(vlmstruct_bin, bars, tmp_path) if r["subject"] == "trading_point"]
        printed = watch.take(len(expected))
        deadline = time.monotonic() + 60
        while len(server.received) < len(expected) and time.monotonic() < deadline:
            time.sleep(0.1)
        code, extra, err = watch.stop()
    finally:
        server.shutdown()
    assert code == 0, err
    assert extra == []
    assert server.count > len(expected), "no request failed"
    assert [a["id"] for a in server.received] == [a["id"] for a in printed]
    assert server.received == printed


def rewrite_at(path, offset, text):
    with open(path, "r+") as f:
        f.seek(offset)
        f.write(text)


def replace(path, text):
    new = path.with_suffix(".new")
    new.write_text(text)
    new.replace(path)


def test_a_file_changed_under_watch_is_read_again_from_its_first_bar(vlmstruct_bin, tmp_path):
    header, lines = bar_lines(DAILY, 200)
    bars = tmp_path / "bars.csv"
    bars.write_text(header + "".join(lines[:150]))
    watch = Watch(vlmstruct_bin, bars)
    first = replay_events(vlmstruct_bin, bars, tmp_path)
    assert_alerts_are_the_replay(watch.take(len(first)), first)
    changes = [
        # truncated to fewer rows
        lambda: os.truncate(bars, len(header + "".join(lines[:120]))),
        # its last row rewritten in place, same length
        lambda: rewrite_at(bars, len(header + "".join(lines[:119])), "2099-01-01"),
        # replaced by another file
        lambda: replace(bars, header + "".join(lines[:130])),
    ]
    for change in changes:
        time.sleep(0.1)
        change()
        expected = replay_events(vlmstruct_bin, bars, tmp_path)
        assert_alerts_are_the_replay(watch.take(len(expected)), expected)
    code, extra, err = watch.stop()
    assert code == 0 and extra == []
    assert err.count("starting over") == 3, err
    for why in ("truncated", "rewritten", "replaced"):
        assert why in err


REFUSED = {
    "unknown_subject": (["--on", "strok:appeared"], 2, "no subject 'strok'; did you mean 'stroke'?"),
    "unknown_event": (["--on", "stroke:apeared"], 2, "no event 'apeared'; did you mean 'appeared'?"),
    "not_a_pair": (["--on", "stroke"], 2, "--on takes subject:event pairs"),
    "bad_webhook": (["--webhook", "ftp://x"], 2, "--webhook"),
    "state_of_other_options": (["--state", "{state}", "--macd", "5,35,5"], 2, "other options (macd '12,26,9', now"),
    "bad_row_appended": ([], 1, "bars.csv:4:3: column 'high' is not a number: 'x'"),
}


@pytest.mark.parametrize("case", REFUSED)
def test_what_watch_refuses_it_names(vlmstruct_bin, tmp_path, case):
    options, status, message = REFUSED[case]
    header, lines = bar_lines(DAILY, 3)
    bars, state = tmp_path / "bars.csv", tmp_path / "s.state"
    bars.write_text(header + "".join(lines[:2]))
    if case == "state_of_other_options":
        first = Watch(vlmstruct_bin, bars, "--state", state, "--macd", "12,26,9")
        first.take(1)
        assert first.stop()[0] == 0
    watch = Watch(vlmstruct_bin, bars, *[o.format(state=state) for o in options])
    if case == "bad_row_appended":
        watch.take(1)
        with open(bars, "a") as f:
            f.write("2012-01-05,25,x,24,25,100\n")
    assert watch.proc.wait(timeout=30) == status
    watch.err_reader.join(timeout=10)
    assert message in "".join(watch.err)


def test_a_row_the_stream_refuses_stops_watch_and_a_restart_on_the_mended_file_takes_the_rows_after_it(
        vlmstruct_bin, tmp_path):
    header, lines = bar_lines(DAILY, 400)
    bars, state = tmp_path / "bars.csv", tmp_path / "watch.state"
    bars.write_text(header + "".join(lines[:300]))
    watch = Watch(vlmstruct_bin, bars, "--state", state)
    first = watch.take(len(replay_events(vlmstruct_bin, bars, tmp_path)))
    # One chunk: the last row read again (a date not after the last), then good rows.
    with open(bars, "a") as f:
        f.write(lines[299] + "".join(lines[300:]))
    assert watch.proc.wait(timeout=30) == 1
    watch.err_reader.join(timeout=10)
    assert f"bars.csv:{302}:" in "".join(watch.err), watch.err
    bars.write_text(header + "".join(lines))
    watch = Watch(vlmstruct_bin, bars, "--state", state)
    expected = replay_events(vlmstruct_bin, bars, tmp_path)
    rest = watch.take(len(expected) - len(first))
    code, extra, err = watch.stop()
    assert code == 0 and extra == [], err
    assert "starting over" not in err
    assert_alerts_are_the_replay(first + rest, expected)
    # A state names its targets: the owner's alone.
    for kept in (state, state.with_name("watch.state.snapshot")):
        assert os.stat(kept).st_mode & 0o777 == 0o600, kept


def test_a_forming_row_rewritten_to_the_same_length_within_the_same_file_time_is_still_seen(vlmstruct_bin, tmp_path):
    header, lines = bar_lines(DAILY, 101)
    bars = tmp_path / "bars.csv"
    bars.write_text(header + "".join(lines))
    watch = Watch(vlmstruct_bin, bars, "--forming", "--new-only")
    time.sleep(0.3)
    seen = os.stat(bars).st_mtime_ns
    # The forming bar's high soars, the row's length kept, the file's time put back as it was.
    date, o, h, l, c, v = lines[-1].strip().split(",")
    soared = "".join("." if ch == "." else "9" for ch in h)
    rewrite_at(bars, len(header + "".join(lines[:-1])), ",".join([date, o, soared, l, c, v]) + "\n")
    os.utime(bars, ns=(seen, seen))
    alerts = watch.take(1, timeout=5)
    code, rest, err = watch.stop()
    assert code == 0, err
    assert all(a["final"] is False and a["bar"] == 100 for a in alerts + rest)
