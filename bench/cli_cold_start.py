#!/usr/bin/env python3
"""Cold start of the `vemor` command: `vemor apps` timed as a whole process against /bin/true.

Both programs are started the same way (fork and exec, output to /dev/null), alternately, so
that drift of a shared machine hits both alike. Prints per program the median wall time with
its spread (10th and 90th percentiles, minimum and maximum), and the median of the pairwise
difference, which is the figure to hold against the budget of 5 ms above /bin/true.

Usage: bench/cli_cold_start.py [--runs N] [--exe PATH]
Builds (or reuses) the release tree in build/release unless --exe is given.
"""

import os
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ left in the checkout
import bench_args  # noqa: E402  (beside this script)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUDGET_MS = 5.0


def ensure_built():
    build = os.path.join(ROOT, "build", "release")
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run([os.path.join(ROOT, "scripts", "setup")], check=True)
    subprocess.run(["cmake", "--build", build, "--target", "vemor_exe"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "bin", "vemor")


def time_once(argv, devnull):
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1),
                                       (os.POSIX_SPAWN_DUP2, devnull, 2)])
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(argv)} failed with status {status}")
    return elapsed * 1000.0


def describe(name, samples):
    q = statistics.quantiles(samples, n=10) if len(samples) > 1 else samples
    return (f"{name:<14} median {statistics.median(samples):7.3f} ms   "
            f"p10 {q[0]:7.3f}   p90 {q[-1]:7.3f}   min {min(samples):7.3f}   "
            f"max {max(samples):7.3f}")


def main():
    parser = bench_args.Parser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=bench_args.count, default=300, help="runs of each program")
    parser.add_argument("--exe", type=bench_args.executable,
                        help="the vemor executable (default: the release build)")
    args = parser.parse_args()

    exe = args.exe or ensure_built()
    vemor = [exe, "apps"]
    true = ["/bin/true"]
    devnull = os.open(os.devnull, os.O_WRONLY)
    for _ in range(10):  # warm the page cache and the dynamic loader's caches
        time_once(vemor, devnull)
        time_once(true, devnull)

    ours, base = [], []
    for _ in range(args.runs):
        ours.append(time_once(vemor, devnull))
        base.append(time_once(true, devnull))
    diff = [a - b for a, b in zip(ours, base)]

    print(f"cold start, {args.runs} runs each, alternating (wall time per process)")
    print(describe("vemor apps", ours))
    print(describe("/bin/true", base))
    print(describe("difference", diff))
    verdict = "within" if statistics.median(diff) <= BUDGET_MS else "OVER"
    print(f"median difference {statistics.median(diff):.3f} ms: {verdict} the "
          f"{BUDGET_MS:.0f} ms budget")


if __name__ == "__main__":
    main()
