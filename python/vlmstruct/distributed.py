"""Scans and replays of many bar files on Dask's distributed scheduler, over one or several machines.

    from distributed import Client
    import vlmstruct.distributed as vd

    client = Client("tcp://scheduler-host:8786")
    summary = vd.scan("/shared/market", client=client)          # DataFrame, one row per file
    report = vd.replay_many("/shared/market", client=client, out_dir="/shared/replays")

Files are sent to the workers by path, in batches; every worker must see them (and out_dir) at
the same path, on a shared folder. Each worker runs the C++ engine with the GIL released, so a
worker's threads work in parallel. A file that fails is reported with its error and the others
complete. The files of a worker that is lost are run again on another (the scheduler does this);
a batch that still cannot finish is split and its files retried one by one, so only a file that
keeps failing is reported, with why.

`python3 -m vlmstruct.distributed scan FOLDER --scheduler ADDRESS [-o SUMMARY] [--recursive]
[--no-dates]` is what `vlmstruct scan --scheduler ADDRESS` runs: the summary equals the tool's.
"""
import io
import math
import os
import sys
import uuid
from pathlib import Path

from . import _core

__all__ = ["scan", "replay_many", "bar_files"]


def bar_files(folder, recursive=False, exclude=()):
    """The bar files `vlmstruct scan FOLDER` takes (.csv, .txt, .tsv, sorted), named as it names them.

    Returns (paths, names, skipped): absolute paths, names relative to the folder, and how many
    subfolders were not looked into (without recursive).
    """
    folder = Path(folder)
    if not folder.is_dir():
        raise FileNotFoundError(2, "No such folder" if not folder.exists() else "Not a folder", str(folder))
    paths, skipped = _core.bar_files(str(folder), recursive, [str(p) for p in exclude])
    names = [Path(p).relative_to(folder).as_posix() for p in paths]
    return [os.path.abspath(p) for p in paths], names, skipped


def _inputs(paths, recursive, exclude=()):
    """(absolute paths, names, folder or None): a folder as the tool lists it, or the files given."""
    if isinstance(paths, (str, os.PathLike)):
        if Path(paths).is_dir():
            files, names, _ = bar_files(paths, recursive, exclude)
            if not files:
                raise ValueError(f"{os.fspath(paths)}: no bar files (.csv, .txt, .tsv) to scan")
            return files, names, Path(paths)
        if not Path(paths).exists():
            raise FileNotFoundError(2, "No such folder or bar file", os.fspath(paths))
        paths = [paths]
    names = [os.fspath(p) for p in paths]
    return [os.path.abspath(n) for n in names], names, None


def _client(client):
    if client is not None:
        return client
    from distributed import default_client

    try:
        return default_client()
    except ValueError:
        raise ValueError("no Dask client: pass client=Client(ADDRESS) or create one first") from None


# Run on the workers: module-level so that they are sent by name.

def _scan_batch(batch, no_dates):
    _, lines, errors = _core.scan_rows([p for _, p, _ in batch], [n for _, _, n in batch], no_dates)
    return [(k, line, error) for (k, _, _), line, error in zip(batch, lines, errors)]


def _replay_batch(batch, no_dates):
    done = []
    for k, path, asof, events in batch:
        try:
            r = _core.replay_file(path, asof, events, no_dates)
            done.append((k, r["bars"], r["events"], ""))
        except Exception as e:  # one file's failure is its row, not the batch's
            done.append((k, None, None, str(e)))
    return done


def _evaluate_batch(batch, no_dates, horizons, cost_bp, options):
    from .evaluation import evaluate_path

    return [(k, *evaluate_path(path, name, horizons, cost_bp, options, no_dates)) for k, path, name in batch]


def _batch_size(client, count, batch_size):
    if batch_size is not None:
        if batch_size < 1:
            raise ValueError("batch_size must be at least 1")
        return batch_size
    threads = max(1, sum(client.nthreads().values()))
    # About four batches per worker thread: even load, little scheduling per file.
    return max(1, min(64, math.ceil(count / (4 * threads))))


def _reporter(progress):
    if callable(progress):
        return progress
    if not progress:
        return lambda done, total, name, failed: None
    terminal = sys.stderr.isatty()

    def report(done, total, name, failed):
        if terminal:
            filled = 30 * done // max(total, 1)
            print(f"\r[{'#' * filled}{'.' * (30 - filled)}] {done}/{total}", end="\n" if done == total else "",
                  file=sys.stderr, flush=True)
        else:
            print(f"{done}/{total} {name}{' FAILED' if failed else ''}", file=sys.stderr, flush=True)
    return report


def _run(client, work, items, names, no_dates, batch_size, retries, progress, failure, extra=()):
    """Runs `work` on batches of items; returns {item index: result}, one per item.

    A batch that raises (its workers kept dying, or the engine threw past its own per-file
    handling) is split into single files, so one bad file cannot take its batch with it; a single
    file that still fails gets failure(index, message). Every result ends with the item's error
    ('' when it succeeded).
    """
    from distributed import as_completed

    size = _batch_size(client, len(items), batch_size)
    batches = [items[i:i + size] for i in range(0, len(items), size)]
    run = uuid.uuid4().hex[:8]
    futures = [client.submit(work, batch, no_dates, *extra, key=f"vlmstruct-{work.__name__[1:]}-{run}-{i}",
                             retries=retries, pure=False) for i, batch in enumerate(batches)]
    batch_of = dict(zip((f.key for f in futures), batches))
    results, report = {}, _reporter(progress)
    pending = as_completed(futures, loop=client.loop)
    for future in pending:
        batch = batch_of.pop(future.key)
        try:
            done = future.result()
        except Exception as e:
            if len(batch) > 1:
                for item in batch:
                    single = client.submit(work, [item], no_dates, *extra, key=f"{future.key}-{item[0]}",
                                           retries=retries, pure=False)
                    batch_of[single.key] = [item]
                    pending.add(single)
                continue
            done = [failure(batch[0][0], f"{names[batch[0][0]]}: {type(e).__name__}: {e}")]
        finally:
            future.release()
        for k, *result in done:
            results[k] = result
            report(len(results), len(items), names[k], bool(result[-1]))
    return results


def _scan_lines(paths, client, recursive, no_dates, batch_size, retries, progress, exclude=()):
    files, names, _ = _inputs(paths, recursive, exclude)
    client = _client(client)
    header = _core.scan_rows([], [], False)[0]
    if not files:
        return header, [], []
    items = [(k, p, n) for k, (p, n) in enumerate(zip(files, names))]
    results = _run(client, _scan_batch, items, names, no_dates, batch_size, retries, progress,
                   lambda k, message: (k, _core.scan_error_row(names[k], message), message))
    return header, [results[k][0] for k in range(len(items))], [results[k][1] for k in range(len(items))]


def _scan_frame(text):
    import pandas as pd

    # Empty cells are missing values; "n/a" (a file without closes) is one of close_vs_pivot's words.
    frame = pd.read_csv(io.StringIO(text), keep_default_na=False, na_values=[""],
                        dtype={"file": str, "last_date": str, "close_vs_pivot": str, "error": str})
    frame["error"] = frame["error"].fillna("")
    return frame


def scan(paths, client=None, *, recursive=False, no_dates=False, batch_size=None, retries=2, progress=False):
    """`vlmstruct scan` on a Dask cluster: one summary row per file, as a DataFrame.

    paths: a folder (its bar files as the tool takes them, named relative to it; subfolders with
    recursive=True) or a list of bar files (named as given). The columns are the tool's summary
    columns; a file that failed has only `file` and `error` (empty for the others). progress:
    True prints a line per file to standard error, or a callable(done, total, name, failed).
    """
    header, lines, _ = _scan_lines(paths, client, recursive, no_dates, batch_size, retries, progress)
    return _scan_frame(header + "".join(lines))


def evaluate(paths, client=None, *, recursive=False, no_dates=False, horizons=(1, 5, 10, 20), cost_bp=0.0,
             macd=(12, 26, 9), force="area", class1_min_run=2, divergence_ratio=1.0, batch_size=None, retries=2,
             progress=False):
    """`vlmstruct evaluate` on a Dask cluster: each file evaluated on a worker by the tool's routine,
    the statistics pooled here; returns the Evaluation that vlmstruct.evaluate(paths) returns on
    one machine, number for number. A file that fails is listed in .errors; the others complete.
    """
    from .evaluation import _point_options, finished, named_inputs

    options = _point_options(macd, force, class1_min_run, divergence_ratio)
    files, names, single = named_inputs(paths, recursive)
    client = _client(client)
    items = [(k, p, n) for k, (p, n) in enumerate(zip(files, names))]
    results = _run(client, _evaluate_batch, items, names, no_dates, batch_size, retries, progress,
                   lambda k, message: (k, None, message), extra=(list(horizons), float(cost_bp), options))
    found = [results[k][0] for k in range(len(items)) if not results[k][1]]
    errors = [(names[k], results[k][1]) for k in range(len(items)) if results[k][1]]
    return finished(found, errors, single, horizons, cost_bp)


def _output_names(names, out_dir, in_folder):
    """(as-of path, events path) in out_dir for each input, refusing two inputs on one output.

    The files of a folder keep their path from it (a recursive scan's subfolders); files given
    one by one are placed by their name alone.
    """
    seen, outputs = {}, []
    for k, name in enumerate(names):
        stem = Path(name).with_suffix("").as_posix() if in_folder else Path(name).stem
        if stem in seen:
            raise ValueError(f"{names[seen[stem]]} and {name} would both be replayed into {stem}.asof.csv")
        seen[stem] = k
        outputs.append((out_dir / f"{stem}.asof.csv", out_dir / f"{stem}.events.csv"))
    return outputs


def _remove_stale_temporaries(outputs):
    # A worker killed while writing leaves its temporary beside the output; the file itself was
    # written again, whole, by the worker that took over.
    for path in (p for pair in outputs for p in pair):
        for stale in path.parent.glob(f".{path.name}.tmp-*"):
            try:
                stale.unlink()
            except OSError:
                pass


def replay_many(paths, client=None, *, out_dir, recursive=False, no_dates=False, batch_size=None, retries=2,
                progress=False, summary="summary.csv"):
    """`vlmstruct replay` of every file on a Dask cluster, written by the workers into out_dir.

    Each file NAME.csv gives NAME.asof.csv and NAME.events.csv in out_dir (subfolders kept for a
    recursive folder), exactly what `vlmstruct replay NAME.csv -o ... --events ...` writes, both
    or neither. Returns the summary (file, bars, events, asof, events_file, error; paths relative
    to out_dir), also written to out_dir/summary (None: not written). out_dir must exist and be
    reachable by every worker at the same path.
    """
    import pandas as pd

    out_dir = Path(out_dir)
    if not out_dir.is_dir():
        raise FileNotFoundError(2, "No such output folder", str(out_dir))
    folder = Path(paths) if isinstance(paths, (str, os.PathLike)) and Path(paths).is_dir() else None
    if folder is not None:
        inside = out_dir.resolve() == folder.resolve() or (recursive and folder.resolve() in out_dir.resolve().parents)
        if inside:
            raise ValueError(f"out_dir {out_dir} is inside the scanned folder {folder}: the replays would be read as bars")
    summary_path = None if summary is None else out_dir / summary
    files, names, _ = _inputs(paths, recursive, [summary_path] if summary_path else ())
    outputs = _output_names(names, out_dir, folder is not None)
    for asof, _ in outputs:
        asof.parent.mkdir(parents=True, exist_ok=True)
    client = _client(client)
    items = [(k, p, str(a.resolve()), str(e.resolve())) for k, (p, (a, e)) in enumerate(zip(files, outputs))]
    results = _run(client, _replay_batch, items, names, no_dates, batch_size, retries, progress,
                   lambda k, message: (k, None, None, message)) if items else {}
    _remove_stale_temporaries(outputs)
    rows = []
    for k, name in enumerate(names):
        bars, events, error = results[k]
        asof, events_file = (p.relative_to(out_dir).as_posix() for p in outputs[k])
        rows.append({"file": name, "bars": bars, "events": events, "asof": "" if error else asof,
                     "events_file": "" if error else events_file, "error": error})
    frame = pd.DataFrame(rows, columns=["file", "bars", "events", "asof", "events_file", "error"])
    frame[["bars", "events"]] = frame[["bars", "events"]].astype("Int64")
    if summary_path is not None:
        temp = summary_path.with_name(f".{summary_path.name}.tmp-{os.getpid()}")
        frame.to_csv(temp, index=False)
        os.replace(temp, summary_path)
    return frame


def _main(argv=None):
    """`vlmstruct scan FOLDER --scheduler ADDRESS ...`: the tool's scan, on a Dask cluster."""
    import argparse

    parser = argparse.ArgumentParser(prog="vlmstruct scan --scheduler",
                                     description="Summarise every bar file of a folder on a Dask cluster")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("scan")
    p.add_argument("folder")
    p.add_argument("--scheduler", required=True, help="Dask scheduler address, e.g. tcp://host:8786")
    p.add_argument("-o", "--output", default="-", help="Summary CSV (default: standard output)")
    p.add_argument("-r", "--recursive", action="store_true")
    p.add_argument("--no-dates", action="store_true")
    p.add_argument("--batch-size", type=int, default=None, help="Files per task (default: about 4 tasks per thread)")
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:
        return 2 if e.code else 0

    def say(message):
        print(f"vlmstruct: {message}", file=sys.stderr)

    folder = Path(args.folder)
    if not folder.is_dir():
        say(f"{args.folder}: {'not a folder' if folder.exists() else 'no such folder'}")
        return 1
    exclude = [] if args.output == "-" else [args.output]
    files, _, skipped = bar_files(folder, args.recursive, exclude)
    if skipped:
        say(f"{skipped} subfolder{'' if skipped == 1 else 's'} of {args.folder} not looked into (--recursive scans them)")
    if not files:
        say(f"{args.folder}: no bar files (.csv, .txt, .tsv) to scan")
        return 1
    if args.output != "-" and not Path(args.output).resolve().parent.is_dir():
        say(f"cannot write {args.output}: no such folder")
        return 1
    try:
        from distributed import Client
    except ImportError:
        say("--scheduler needs Dask's distributed for " + sys.executable +
            " (Debian: apt-get install python3-distributed)")
        return 1
    try:
        client = Client(args.scheduler, timeout="10s")
    except Exception as e:
        say(f"cannot reach the scheduler at {args.scheduler}: {e}")
        return 1
    with client:
        header, lines, errors = _scan_lines(folder, client, args.recursive, args.no_dates, args.batch_size,
                                            2, True, exclude)
    text = header + "".join(lines)
    if args.output == "-":
        sys.stdout.write(text)
        sys.stdout.flush()
    else:
        out = Path(args.output)
        temp = out.with_name(f".{out.name}.tmp-{os.getpid()}")
        try:
            temp.write_text(text)
            os.replace(temp, out)
        except OSError as e:
            temp.unlink(missing_ok=True)
            say(f"cannot write {args.output}: {e.strerror}")
            return 1
    failed = [e for e in errors if e]
    for error in failed:
        say(error)
    say(f"{len(lines) - len(failed)} of {len(lines)} files analysed")
    return 1 if len(failed) else 0


if __name__ == "__main__":
    sys.exit(_main())
