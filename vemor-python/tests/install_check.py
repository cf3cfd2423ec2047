"""The package as a user gets it: a stable-ABI wheel built offline from the CMake build by the
README's own command, installed into a fresh virtual environment, where `import vemor`, the
`vemor` console script and `python -m vemor` work. Run by its own ctest entry, which names the
build in VEMOR_CMAKE_BUILD_DIR."""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import zipfile

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[1]
README = SOURCE.parent / "README.md"


def run(args, cwd):
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    env["PWD"] = str(cwd)
    # pip would keep every wheel it builds in the user's cache, one more on each run (it keys
    # them on the temporary checkout's path).
    env["PIP_NO_CACHE_DIR"] = "1"
    # Each step takes seconds; its bound lies well within the one on the whole test.
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env,
                            cwd=cwd, timeout=60)
    assert result.returncode == 0, (args, result.stdout, result.stderr)
    return result


def readme_wheel_command():
    """The shell command with which the README builds the wheel, its line breaks undone."""
    found = re.search(r"To install the package: `([^`]+)`", README.read_text())
    assert found, "the README gives no command that builds the wheel"
    return " ".join(found.group(1).split())


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """The wheel that the README's command builds, run word for word at the top of a checkout
    holding a copy of the package sources (so that building leaves the real one untouched) and,
    as build/release, the CMake build under test."""
    build = os.environ.get("VEMOR_CMAKE_BUILD_DIR")
    if not build:
        pytest.skip("VEMOR_CMAKE_BUILD_DIR names no CMake build")
    root = tmp_path_factory.mktemp("checkout")
    package = root / SOURCE.name
    package.mkdir()
    for name in ("pyproject.toml", "setup.py"):
        shutil.copy(SOURCE / name, package / name)
    shutil.copytree(SOURCE / "vemor", package / "vemor",
                    ignore=shutil.ignore_patterns("__pycache__", "*.so"))
    (root / "build").mkdir()
    (root / "build" / "release").symlink_to(pathlib.Path(build).resolve())
    run(["/bin/bash", "-c", readme_wheel_command()], cwd=root)
    [built] = (root / "dist").glob("*.whl")
    return built


def test_wheel_is_tagged_for_the_stable_abi(wheel):
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    assert wheel.name == f"vemor-0.1.0-cp311-abi3-{platform}.whl"
    names = set(zipfile.ZipFile(wheel).namelist())
    assert {"vemor/__init__.py", "vemor/__main__.py", "vemor/_console.py", "vemor/_native.pyi",
            "vemor/py.typed", "vemor/_native.abi3.so"} <= names
    assert any(n.endswith("entry_points.txt") for n in names)


def test_installs_and_runs_in_a_fresh_virtual_environment(wheel, tmp_path):
    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--system-site-packages", venv], cwd=tmp_path)
    python = venv / "bin" / "python"
    run([python, "-m", "pip", "install", "--no-index", wheel], cwd=tmp_path)

    imported = run([python, "-c", "import vemor; print(vemor.__version__); print(vemor.__file__)"],
                   cwd=tmp_path).stdout.splitlines()
    assert imported[0] == "0.1.0"
    assert pathlib.Path(imported[1]).is_relative_to(venv)
    for command in ([venv / "bin" / "vemor", "apps"], [python, "-m", "vemor", "apps"]):
        out = run(command, cwd=tmp_path).stdout
        assert "TextEdit" in out, command
