"""vlmstruct.distributed on a LocalCluster of worker processes: the same results as the tool, file for
file, with failures reported and nothing lost when a worker dies."""
import os
import shutil
import signal
import subprocess
import threading

import numpy as np
import pandas as pd
import pytest

from conftest import BUILD, generated_bars

distributed = pytest.importorskip("distributed")
import vlmstruct.distributed as vd  # noqa: E402


def write_bars(path, n, seed, close=True):
    high, low = generated_bars("walk", n, seed)
    frame = pd.DataFrame({"date": pd.date_range("2020-01-01", periods=n, freq="min").strftime("%Y-%m-%d %H:%M"),
                          "high": high, "low": low})
    if close:
        frame["close"] = ((high.astype(np.float64) + low) / 2).round(2)
    frame.to_csv(path, index=False)


@pytest.fixture(scope="module")
def market(tmp_path_factory):
    """Files of several lengths, one without closes, one broken, one in a subfolder."""
    folder = tmp_path_factory.mktemp("market")
    for k, n in enumerate([300, 2000, 5000, 12000, 800, 40]):
        write_bars(folder / f"s{k}.csv", n, k)
    write_bars(folder / "noclose.txt", 3000, 9, close=False)
    (folder / "broken.csv").write_text("date,high,low\n2024-01-02,10,9\n2024-01-03,x,1\n")
    (folder / "notes.md").write_text("not bars")
    (folder / "sub").mkdir()
    write_bars(folder / "sub" / "deep.csv", 1500, 11)
    return folder


def new_cluster():
    # Spawned workers import the module from the build folder, as the test process does.
    paths = os.environ.get("PYTHONPATH", "").split(os.pathsep)
    if str(BUILD / "python") not in paths:
        os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(BUILD / "python"), *paths]))
    return distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0")


@pytest.fixture(scope="module")
def client():
    with new_cluster() as cluster, distributed.Client(cluster, set_as_default=False) as c:
        yield c


def tool(vlmstruct_bin, *args):
    return subprocess.run([str(vlmstruct_bin), *map(str, args)], capture_output=True, text=True, timeout=300)


@pytest.mark.parametrize("recursive", [False, True])
@pytest.mark.parametrize("batch_size", [1, 3, None])
def test_scan_equals_the_tools_summary(client, market, vlmstruct_bin, tmp_path, recursive, batch_size):
    flags = ["--recursive"] if recursive else []
    tool(vlmstruct_bin, "scan", market, "-o", tmp_path / "local.csv", *flags)
    expected = vd._scan_frame((tmp_path / "local.csv").read_text())
    got = vd.scan(market, client=client, recursive=recursive, batch_size=batch_size)
    pd.testing.assert_frame_equal(got, expected)
    assert ("sub/deep.csv" in set(got.file)) == recursive
    failed = got[got.error != ""]
    assert failed.file.tolist() == ["broken.csv"] and "broken.csv:3:2" in failed.error.iloc[0]
    assert got.loc[got.file == "noclose.txt", "close_vs_pivot"].item() in ("n/a", "none")


def test_scan_of_a_list_of_files_names_them_as_given(client, market):
    files = [market / "s1.csv", market / "sub" / "deep.csv", market / "missing.csv"]
    got = vd.scan([str(f) for f in files], client=client)
    assert got.file.tolist() == [str(f) for f in files]
    assert got.error.iloc[:2].tolist() == ["", ""] and got.bars.iloc[:2].tolist() == [2000, 1500]
    assert "missing.csv" in got.error.iloc[2]


def test_scan_on_the_command_line_writes_the_tools_bytes(client, market, vlmstruct_bin, tmp_path):
    local = tool(vlmstruct_bin, "scan", market, "-o", tmp_path / "local.csv")
    remote = tool(vlmstruct_bin, "scan", market, "--scheduler", client.scheduler.address, "-o", tmp_path / "dist.csv")
    assert remote.returncode == local.returncode == 1, remote.stderr
    assert (tmp_path / "dist.csv").read_bytes() == (tmp_path / "local.csv").read_bytes()
    assert "7 of 8 files analysed" in remote.stderr and "broken.csv:3:2" in remote.stderr
    assert "1 subfolder" in remote.stderr
    assert "8/8" in remote.stderr  # progress, one line per file


@pytest.mark.parametrize("args, status, message", [
    (["--scheduler", "tcp://127.0.0.1:1", "-o", "{tmp}/s.csv"], 1, "cannot reach the scheduler at tcp://127.0.0.1:1"),
    (["--scheduler", "tcp://127.0.0.1:1", "--jobs", "2"], 2, "--jobs excludes --scheduler"),
    (["--scheduler", "tcp://127.0.0.1:1", "-o", "{tmp}/no/such/s.csv"], 1, "no such folder"),
], ids=["unreachable", "with_jobs", "output_folder_missing"])
def test_scan_on_the_command_line_refuses_clearly(market, vlmstruct_bin, tmp_path, args, status, message):
    result = tool(vlmstruct_bin, "scan", market, *[a.format(tmp=tmp_path) for a in args])
    assert result.returncode == status and message in result.stderr, result.stderr
    assert not list(tmp_path.iterdir())


def test_replay_many_writes_what_the_tool_writes(client, market, vlmstruct_bin, tmp_path):
    out = tmp_path / "replays"
    out.mkdir()
    summary = vd.replay_many(market, client=client, out_dir=out, recursive=True, batch_size=2)
    assert summary.file.tolist() == ["broken.csv", "noclose.txt"] + [f"s{k}.csv" for k in range(6)] + ["sub/deep.csv"]
    written = pd.read_csv(out / "summary.csv", keep_default_na=False, na_values={"bars": [""], "events": [""]},
                          dtype={"bars": "Int64", "events": "Int64"})
    pd.testing.assert_frame_equal(written, summary)
    for row in summary.itertuples():
        if row.error:
            assert row.file == "broken.csv" and "broken.csv:3:2" in row.error
            assert not (out / "broken.asof.csv").exists() and not (out / "broken.events.csv").exists()
            continue
        asof, events = tmp_path / "a.csv", tmp_path / "e.csv"
        result = tool(vlmstruct_bin, "replay", market / row.file, "-o", asof, "--events", events)
        assert result.returncode == 0, result.stderr
        assert (out / row.asof).read_bytes() == asof.read_bytes(), row.file
        assert (out / row.events_file).read_bytes() == events.read_bytes(), row.file
        assert row.bars == len(asof.read_text().splitlines()) - 1
        assert row.events == len(pd.read_csv(events))


@pytest.mark.parametrize("call, error, message", [
    (lambda m, o: vd.replay_many(m, client=None, out_dir=o / "missing"), FileNotFoundError, "No such output folder"),
    (lambda m, o: vd.replay_many(m, out_dir=m), ValueError, "inside the scanned folder"),
    (lambda m, o: vd.replay_many([m / "s1.csv", m / "sub" / "s1.csv"], out_dir=o), ValueError, "would both be replayed"),
    (lambda m, o: vd.scan(m), ValueError, "no Dask client"),
    (lambda m, o: vd.scan(o), ValueError, "no bar files"),
    (lambda m, o: vd.scan(o / "missing"), FileNotFoundError, None),
], ids=["out_dir_missing", "out_dir_is_input", "same_output_twice", "no_client", "empty_folder", "no_folder"])
def test_refused_before_anything_is_sent(market, tmp_path, call, error, message):
    with pytest.raises(error, match=message):
        call(market, tmp_path)
    assert not list(tmp_path.iterdir())


class FailingCore:
    """The engine, except that one file raises past its per-file handling, as running out of memory would."""

    def __init__(self, core, bad):
        self.core, self.bad = core, bad

    def scan_rows(self, paths, names, no_dates):
        if any(p.endswith(self.bad) for p in paths):
            raise MemoryError("no room for its bars")
        return self.core.scan_rows(paths, names, no_dates)

    def __getattr__(self, name):
        return getattr(self.core, name)


def test_a_batch_that_raises_is_split_and_only_its_bad_file_fails(market, monkeypatch):
    monkeypatch.setattr(vd, "_core", FailingCore(vd._core, "s3.csv"))
    # Threads in this process, so that the patched engine is the one the tasks run.
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False, dashboard_address=":0") as c, \
            distributed.Client(c, set_as_default=False) as client:
        got = vd.scan(market, client=client, batch_size=4, retries=0)
    errors = dict(zip(got.file, got.error))
    assert errors.pop("s3.csv") == "s3.csv: MemoryError: no room for its bars"
    assert {f for f, e in errors.items() if e} == {"broken.csv"}
    assert got.bars.notna().sum() == 6  # s0 to s5 but s3, and noclose.txt


def kill_a_busy_worker(client, killed):
    """Kills (SIGKILL, by process id) a worker that holds tasks, once."""
    if killed:
        return
    busy = [(w, keys) for w, keys in client.processing().items() if keys]
    if not busy:
        return
    worker, held = busy[0]
    pid = client.run(os.getpid, workers=[worker])[worker]
    os.kill(pid, signal.SIGKILL)
    # What it held just before: once it is gone the scheduler may no longer list it.
    killed.append((pid, len(held)))


@pytest.fixture()
def big_market(tmp_path):
    folder = tmp_path / "big"
    folder.mkdir()
    for k in range(16):
        write_bars(folder / f"b{k:02d}.csv", 60000, 100 + k)
    return folder


@pytest.mark.parametrize("what", ["scan", "replay_many"])
def test_a_worker_killed_mid_run_loses_no_file(big_market, vlmstruct_bin, tmp_path, what):
    killed = []
    with new_cluster() as cluster, distributed.Client(cluster, set_as_default=False) as client:
        before = set(client.run(os.getpid).values())

        def progress(done, total, name, failed):
            kill_a_busy_worker(client, killed)

        if what == "scan":
            got = vd.scan(big_market, client=client, batch_size=1, progress=progress)
        else:
            out = tmp_path / "out"
            out.mkdir()
            got = vd.replay_many(big_market, client=client, out_dir=out, batch_size=1, progress=progress)
        after = set(client.run(os.getpid).values())
    assert killed and killed[0][1] > 0, "no worker held tasks when one was to be killed"
    assert killed[0][0] in before and killed[0][0] not in after
    assert (got.error == "").all() and len(got) == 16
    if what == "scan":
        tool(vlmstruct_bin, "scan", big_market, "-o", tmp_path / "local.csv")
        pd.testing.assert_frame_equal(got, vd._scan_frame((tmp_path / "local.csv").read_text()))
    else:
        for name in ("b00", "b07", "b15"):
            tool(vlmstruct_bin, "replay", big_market / f"{name}.csv", "-o", tmp_path / "a.csv", "--events", tmp_path / "e.csv")
            assert (out / f"{name}.asof.csv").read_bytes() == (tmp_path / "a.csv").read_bytes()
            assert (out / f"{name}.events.csv").read_bytes() == (tmp_path / "e.csv").read_bytes()
        assert sorted(p.name for p in out.iterdir()) == sorted(
            [f"b{k:02d}.{kind}.csv" for k in range(16) for kind in ("asof", "events")] + ["summary.csv"])
