"""`pip install` of a clean copy of the repository, offline, into a fresh virtual environment and for
the user, then the module and the console command used from another folder.

Slow (a full Release build of the module and the tool): ctest runs it as python_install.
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import BUILD, SOURCE

PYTHON = "/usr/bin/python3"


def clean_copy(dest):
    """The working tree's files as git knows them (tracked and not ignored), without any build output."""
    try:
        listed = subprocess.run(["git", "-C", str(SOURCE), "ls-files", "-z", "--cached", "--others",
                                 "--exclude-standard"], capture_output=True, check=True).stdout
        files = [f for f in listed.decode().split("\0") if f]
    except (OSError, subprocess.CalledProcessError):
        skip = {"build", "node_modules", "__pycache__", "dist", "out", ".git"}
        files = [str(p.relative_to(SOURCE)) for p in SOURCE.rglob("*")
                 if p.is_file() and not skip & set(p.relative_to(SOURCE).parts)]
    for f in files:
        if (SOURCE / f).is_file():  # a tracked file deleted in the working tree is not copied
            (dest / f).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(SOURCE / f, dest / f)
    assert not (dest / "tools" / "chart" / "node_modules").exists()


def environment(**extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "VLM", "VIRTUAL_ENV", "PIP_"))}
    # No index at all: everything must come from this machine.
    env.update(PIP_NO_INDEX="1", PIP_NO_CACHE_DIR="1", PIP_DISABLE_PIP_VERSION_CHECK="1",
               CMAKE_BUILD_PARALLEL_LEVEL="2", **extra)
    return env


def run(args, cwd, env, timeout=1500):
    result = subprocess.run([str(a) for a in args], cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout)
    return result


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    root = tmp_path_factory.mktemp("install")
    source = root / "source"
    clean_copy(source)
    venv = root / "venv"
    made = run([PYTHON, "-m", "venv", "--system-site-packages", venv], root, environment())
    assert made.returncode == 0, made.stderr
    env = environment()
    pip = run([venv / "bin" / "python", "-m", "pip", "install", "--no-build-isolation", source], root, env)
    assert pip.returncode == 0, pip.stdout[-4000:] + pip.stderr[-4000:]
    user = root / "user"
    user_env = environment(PYTHONUSERBASE=str(user))
    pip_user = run([PYTHON, "-m", "pip", "install", "--user", "--break-system-packages", "--no-build-isolation",
                    source], root, user_env)
    assert pip_user.returncode == 0, pip_user.stdout[-4000:] + pip_user.stderr[-4000:]
    elsewhere = root / "elsewhere"
    elsewhere.mkdir()
    return {"venv": (venv / "bin" / "python", venv / "bin" / "vlmstruct", env, venv),
            "user": (PYTHON, user / "bin" / "vlmstruct", user_env, user),
            "elsewhere": elsewhere}


@pytest.mark.parametrize("kind", ["venv", "user"])
def test_the_module_imports_from_the_installation(installed, kind, sample_csv):
    python, _, env, prefix = installed[kind]
    code = ("import sys, vlmstruct, vlmstruct.distributed, pandas as pd; "
            "df = pd.read_csv(sys.argv[1], index_col='date', parse_dates=True); "
            "out, zones = vlmstruct.analyze(df); asof, events = vlmstruct.replay(df); "
            "print(vlmstruct.__file__); print(vlmstruct.__version__, len(out), len(zones), len(events))")
    result = run([python, "-c", code, sample_csv], installed["elsewhere"], env)
    assert result.returncode == 0, result.stderr
    where, numbers = result.stdout.splitlines()
    assert Path(where).resolve().is_relative_to(prefix.resolve()), where

    sys.path.insert(0, str(BUILD / "python"))
    import pandas as pd
    import vlmstruct

    df = pd.read_csv(sample_csv, index_col="date", parse_dates=True)
    out, zones = vlmstruct.analyze(df)
    expected = f"{vlmstruct.__version__} {len(out)} {len(zones)} {len(vlmstruct.replay(df)[1])}"
    assert numbers == expected


@pytest.mark.parametrize("kind", ["venv", "user"])
@pytest.mark.parametrize("args, status", [
    (["--version"], 0),
    (["analyze", "{sample}", "-o", "{out}/a.csv", "--json", "{out}/s.json"], 0),
    (["replay", "{sample}", "-o", "{out}/asof.csv", "--events", "{out}/events.csv"], 0),
    (["analyze", "{out}/missing.csv"], 1),
    (["analyse", "{sample}"], 2),
], ids=["version", "analyze", "replay", "missing_file", "unknown_command"])
def test_the_console_command_is_the_built_tool(installed, vlmstruct_bin, sample_csv, tmp_path, kind, args, status):
    _, command, env, _ = installed[kind]
    mine, built = tmp_path / "mine", tmp_path / "built"
    mine.mkdir(), built.mkdir()
    fill = lambda out: [a.format(sample=sample_csv, out=out) for a in args]
    got = run([command, *fill(mine)], installed["elsewhere"], env)
    want = run([vlmstruct_bin, *fill(built)], installed["elsewhere"], env)
    assert (got.returncode, got.stdout.replace(str(mine), "OUT"), got.stderr.replace(str(mine), "OUT")) == \
           (want.returncode, want.stdout.replace(str(built), "OUT"), want.stderr.replace(str(built), "OUT"))
    assert got.returncode == status
    assert sorted(p.name for p in mine.iterdir()) == sorted(p.name for p in built.iterdir())
    for f in built.iterdir():
        assert (mine / f.name).read_bytes() == f.read_bytes(), f.name


@pytest.mark.parametrize("kind", ["venv", "user"])
def test_scan_on_a_scheduler_runs_with_the_installed_module(installed, sample_csv, tmp_path, kind):
    _, command, env, _ = installed[kind]
    folder = tmp_path / "market"
    folder.mkdir()
    shutil.copy(sample_csv, folder / "a.csv")
    # No scheduler listens there: the interpreter the command chose imported the module and Dask
    # and tried to connect.
    result = run([command, "scan", folder, "--scheduler", "tcp://127.0.0.1:1"], installed["elsewhere"], env,
                 timeout=120)
    assert result.returncode == 1
    assert "cannot reach the scheduler at tcp://127.0.0.1:1" in result.stderr, result.stderr
