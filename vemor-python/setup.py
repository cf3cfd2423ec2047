"""Builds the wheel of the `vemor` package around the extension module from the CMake build.

The module comes from the CMake build tree named by VEMOR_CMAKE_BUILD_DIR (brought up to date
with `cmake --build`), or, without it, from a build configured for the purpose under the
source tree's build/python-wheel. The module is built on the stable ABI, so the wheel is
tagged cp311-abi3 and installs on every CPython 3.11 or newer.
"""

import os
import pathlib
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = pathlib.Path(__file__).resolve().parent
MODULE = "_native.abi3.so"


def cmake_build_dir():
    given = os.environ.get("VEMOR_CMAKE_BUILD_DIR")
    if given:
        return pathlib.Path(given).resolve(), False
    source = pathlib.Path(os.environ.get("VEMOR_SOURCE_DIR", HERE.parent)).resolve()
    return source / "build" / "python-wheel", True


def build_module():
    build_dir, configure = cmake_build_dir()
    # The compilers must not inherit a sanitizer runtime preloaded into this interpreter.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    if configure:
        source = pathlib.Path(os.environ.get("VEMOR_SOURCE_DIR", HERE.parent)).resolve()
        subprocess.check_call(["cmake", "-S", str(source), "-B", str(build_dir), "-G", "Ninja",
                               "-DCMAKE_BUILD_TYPE=Release", "-DVEMOR_BUILD_TESTS=OFF"], env=env)
    subprocess.check_call(["cmake", "--build", str(build_dir), "--target", "vemor_python"],
                          env=env)
    module = build_dir / "vemor-python" / "vemor" / MODULE
    if not module.is_file():
        raise RuntimeError(f"the CMake build produced no {module}")
    return module


class BuildPyWithModule(build_py):
    def run(self):
        super().run()
        target = pathlib.Path(self.build_lib) / "vemor" / MODULE
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(build_module(), target)


class BinaryDistribution(Distribution):
    """A package with a compiled module: the wheel carries a platform tag."""

    def has_ext_modules(self):
        return True


setup(
    cmdclass={"build_py": BuildPyWithModule},
    distclass=BinaryDistribution,
    options={"bdist_wheel": {"py_limited_api": "cp311"}},
)
