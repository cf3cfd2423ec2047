"""The benchmark scripts' checks of their input. Bad input ends a run before anything runs, with
exit status 2 and one line on standard error saying what is wrong."""

import argparse
import os
import sys


def refuse(message):
    print(f"{os.path.basename(sys.argv[0])}: {message}", file=sys.stderr)
    sys.exit(2)


class Parser(argparse.ArgumentParser):
    """argparse, whose errors are the one line of `refuse` instead of the usage and a line."""

    def error(self, message):
        refuse(message)


def count(text):
    """An argparse type: a whole number of at least 1."""
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be a whole number of at least 1, not {text!r}")
    return value


def executable(text):
    """An argparse type: the path of a program that can be run."""
    if not (os.path.isfile(text) and os.access(text, os.X_OK)):
        raise argparse.ArgumentTypeError(f"no program at {text}")
    return text


def build_folder(path, *needs):
    """`path`, a build folder that exists and holds each of `needs` (paths inside it)."""
    if not os.path.isdir(path):
        refuse(f"no build folder at {path} (scripts/setup builds build/release)")
    for need in needs:
        if not os.path.exists(os.path.join(path, need)):
            refuse(f"the build folder {path} holds no {need}")
    return path
