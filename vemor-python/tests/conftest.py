import re

import pytest

import vemor

# What a sanitizer writes when it finds a fault. The report can reach standard error while the
# process still finishes exiting with code 0, so the exit code alone does not tell.
SANITIZER_REPORT = re.compile(r"runtime error: |(Address|Leak|Thread|UndefinedBehavior)Sanitizer")


@pytest.fixture
def probe():
    """A fresh mock desktop with its action log."""
    return vemor._make_test_action_probe()


@pytest.fixture
def window(probe):
    return probe.locator("window")


def run_python(code, **env):
    """Runs `code` in a new interpreter that imports this build of the package."""
    import os
    import pathlib
    import subprocess
    import sys

    package_root = str(pathlib.Path(vemor.__file__).parent.parent)
    full_env = dict(os.environ, PYTHONPATH=package_root, **env)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            env=full_env, timeout=60)
    assert result.returncode == 0, result.stderr
    assert not SANITIZER_REPORT.search(result.stderr), result.stderr
    return result
