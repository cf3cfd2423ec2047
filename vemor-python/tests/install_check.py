"""The package as a user gets it: a stable-ABI wheel built offline from the CMake build, installed
into a fresh virtual environment, where `import vemor`, the `vemor` console script and
`python -m vemor` work. Run by its own ctest entry, which names the build in
VEMOR_CMAKE_BUILD_DIR."""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import zipfile

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[1]


def run(args, **kwargs):
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env,
                            timeout=600, **kwargs)
    assert result.returncode == 0, (args, result.stdout, result.stderr)
    return result


@pytest.fixture(scope="module")
def project(tmp_path_factory):
    """A copy of the package sources, so that building leaves the checkout untouched."""
    if not os.environ.get("VEMOR_CMAKE_BUILD_DIR"):
        pytest.skip("VEMOR_CMAKE_BUILD_DIR names no CMake build")
    root = tmp_path_factory.mktemp("project")
    for name in ("pyproject.toml", "setup.py"):
        shutil.copy(SOURCE / name, root / name)
    shutil.copytree(SOURCE / "vemor", root / "vemor",
                    ignore=shutil.ignore_patterns("__pycache__", "*.so"))
    return root


def test_wheel_is_tagged_for_the_stable_abi(project, tmp_path):
    run([sys.executable, "-m", "pip", "wheel", "--no-index", "--no-build-isolation", "--no-deps",
         "-w", tmp_path, project], cwd=tmp_path)
    [wheel] = tmp_path.glob("*.whl")
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    assert wheel.name == f"vemor-0.1.0-cp311-abi3-{platform}.whl"
    names = set(zipfile.ZipFile(wheel).namelist())
    assert {"vemor/__init__.py", "vemor/__main__.py", "vemor/_console.py", "vemor/_native.pyi",
            "vemor/py.typed", "vemor/_native.abi3.so"} <= names
    assert any(n.endswith("entry_points.txt") for n in names)


def test_installs_and_runs_in_a_fresh_virtual_environment(project, tmp_path):
    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--system-site-packages", venv], cwd=tmp_path)
    python = venv / "bin" / "python"
    run([python, "-m", "pip", "install", "--no-index", "--no-build-isolation", project],
        cwd=tmp_path)

    imported = run([python, "-c", "import vemor; print(vemor.__version__); print(vemor.__file__)"],
                   cwd=tmp_path).stdout.splitlines()
    assert imported[0] == "0.1.0"
    assert pathlib.Path(imported[1]).is_relative_to(venv)
    for command in ([venv / "bin" / "vemor", "apps"], [python, "-m", "vemor", "apps"]):
        out = run(command, cwd=tmp_path).stdout
        assert "TextEdit" in out, command
