"""`python -m vemor <command> ...`: the same as the `vemor` console script."""

from ._console import run

if __name__ == "__main__":
    run()
