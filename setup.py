"""Builds the Python module and the vlmstruct tool through the repository's own CMake files.

One build description: the extension `_core` and the tool are the CMake targets vlmstruct_core and
vlmstruct, built in Release into setuptools' temporary folder and placed in the package (the
tool as vlmstruct/bin/vlmstruct, run by the `vlmstruct` console command). CMake, a C++20
compiler, pybind11, CLI11, Boost's headers, zlib, libcurl's headers (for watch's webhook) and npm (for the chart's
library, installed from the lock file) are needed, as for the repository's own build. CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    match = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    if not match:
        raise RuntimeError("no project VERSION in CMakeLists.txt")
    return match.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        import pybind11

        build = Path(self.build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DVLM_BUILD_TESTS=OFF", "-DVLM_BUILD_BENCH=OFF",
                     f"-DPython_EXECUTABLE={sys.executable}", f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"]
        if not (build / "CMakeCache.txt").exists() and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        try:
            subprocess.run(configure, check=True)
            subprocess.run(["cmake", "--build", str(build), "--target", "vlmstruct_core", "vlmstruct",
                            "--parallel", jobs], check=True)
        except FileNotFoundError:
            sys.exit("vlmstruct: building needs cmake on PATH (Debian: apt-get install cmake ninja-build g++)")
        except subprocess.CalledProcessError as e:
            sys.exit(f"vlmstruct: the CMake build failed ({' '.join(e.cmd[:2])} ..., exit status {e.returncode})")

        built = sorted((build / "python" / "vlmstruct").glob("_core*.so"))
        if len(built) != 1:
            sys.exit(f"vlmstruct: expected one _core module in {build / 'python' / 'vlmstruct'}, found {len(built)}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built[0], target)
        tool = target.parent / "bin" / "vlmstruct"
        tool.parent.mkdir(exist_ok=True)
        shutil.copy2(build / "tools" / "vlmstruct" / "vlmstruct", tool)


setup(
    version=version(),
    package_dir={"": "python"},
    packages=["vlmstruct"],
    ext_modules=[Extension("vlmstruct._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
