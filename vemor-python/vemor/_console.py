"""The `vemor` console script: runs one command of the command-line tool in this process."""

import os
import signal
import sys

from . import _native


def main(argv=None):
    """Runs the command named by `argv` (the process arguments after the program name by
    default) and returns its exit code."""
    if argv is None:
        argv = sys.argv[1:]
    # The command runs outside the interpreter's own signal handling: Ctrl-C stops `vemor
    # events` or `vemor mcp` at once, and a closed pipe (`vemor tree | head`) ends the process
    # quietly, as for any other command-line program. A SIGINT that the launcher ignored (a
    # shell's background job, say) stays ignored, as it does for the executable.
    if signal.getsignal(signal.SIGINT) is signal.default_int_handler:
        signal.signal(signal.SIGINT, signal.SIG_DFL)
    if hasattr(signal, "SIGPIPE"):
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.stdout.flush()
    return _native._cli_main([os.fsdecode(word) for word in argv])


def run():
    """The console script's entry point."""
    sys.exit(main())
