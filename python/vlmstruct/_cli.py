"""The `vlmstruct` console command: the C++ tool packaged beside the module, run with the arguments.

It replaces this process (exec), so the installed command is the built tool: same output, same
exit status, same signals. VLMSTRUCT_PYTHON tells the tool which interpreter runs
`scan --scheduler` (this one, which can import the module and Dask).
"""
import os
import sys
from pathlib import Path

TOOL = Path(__file__).resolve().parent / "bin" / "vlmstruct"


def main():
    if not os.access(TOOL, os.X_OK):
        print(f"vlmstruct: the packaged tool {TOOL} is missing or not executable; reinstall the package",
              file=sys.stderr)
        return 1
    os.environ.setdefault("VLMSTRUCT_PYTHON", sys.executable)
    os.execv(TOOL, [str(TOOL), *sys.argv[1:]])


if __name__ == "__main__":
    sys.exit(main())
