#!/usr/bin/python3
"""Selector search: vemor's two search paths against lxml, on the same trees, in one run.

    /usr/bin/python3 bench/selector_vs_lxml.py [--build-dir build/release] [--no-build]
                                               [--reps N] [--quick]

Builds `selector_bench` (Release, -DVEMOR_BUILD_BENCH=ON) in the build directory unless
--no-build is given, lets it write its generated trees (10k and 100k elements) as XML and its
results, then times the ten selectors on both sides, alternately, in two long-lived processes:
`selector_bench --serve` for ours, this interpreter for lxml.

Ours is timed twice, selector parsing included each time:
- provider: `find_elements_group` of a mock provider holding the tree, from the top level;
- locator: what a library user calls over the whole desktop, a `Locator` with no scope and
  `elements()` (the core call behind Python's `vemor.locator(selector).elements()`, without
  building Python objects): the application list, the search under each application, and the
  merge into bound elements.
Each selector has lxml peers: cssselect's translation of the CSS form (where CSS can say it) and
the XPath forms a user who cares would write (the fastest is kept). Every lxml query is a fresh
evaluation whose result is dropped before the next one: nothing from an earlier query is kept
alive, so lxml builds its element proxies every time, as a user's fresh query does.

One repetition times each side in turn (ours then the peers, each for about 40 ms of calls
after one untimed call); the figure is the median of the repetitions (at least 5). A ratio is
ours / the fastest peer (below 1.0 we are faster). Both of our results must be the same elements
in the same order as every peer's. The XML has no indentation, so lxml walks exactly the
elements our tree has.

Needs Debian's python3-lxml and python3-cssselect.
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from cssselect import GenericTranslator
from lxml import etree

sys.dont_write_bytecode = True  # no __pycache__ left in the checkout
import bench_args  # noqa: E402  (beside this script)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
LOWER = "abcdefghijklmnopqrstuvwxyz"

# label -> (our selector, CSS for cssselect or None, XPath forms). CSS has no case-insensitive
# substring test and no "nth match in the whole tree": those have XPath peers only (the tree's
# names are ASCII, where `translate` is the full lowercase form). Every XPath is evaluated from
# the document element, under which `descendant::` covers exactly our top-level search; `//` starts
# at the document, whose element (`desktop`) matches none of these names.
QUERIES = [
    ("type", "button", "button", ["descendant::button"]),
    ("name_exact", '[name="Open"]', '[name="Open"]', ['descendant::*[@name="Open"]']),
    ("name_contains", '[name*="FILE"]', None,
     [f"descendant::*[contains(translate(@name, '{UPPER}', '{LOWER}'), 'file')]"]),
    # `descendant::window//button` rebuilds every window's descendant set (quadratic here).
    ("descendant", "window button", "window button", ["descendant::button[ancestor::window]"]),
    ("child", "group > button", "group > button", ["descendant::group/button"]),
    ("compound", 'button[name="Save"][enabled="true"]', 'button[name="Save"][enabled="true"]',
     ['descendant::button[@name="Save"][@enabled="true"]']),
    # The axis position lets lxml stop at the 500th button.
    ("nth", "button:nth(500)", None, ["descendant::button[500]"]),
    ("union", "link, check_box", "link, check_box",
     ["descendant::*[self::link or self::check_box]", "//link | //check_box"]),
    ("no_match", 'button[name="No such name"]', 'button[name="No such name"]',
     ['descendant::button[@name="No such name"]']),
    ("any", "*", "*", ["descendant::*"]),
]
SIZES = ["10000", "100000"]
PATHS = ["provider", "locator"]
SAMPLE_SECONDS = 0.04
SLOW_SECONDS = 1.0


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DVEMOR_BUILD_BENCH=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "selector_bench"], check=True,
                   stdout=subprocess.DEVNULL)


def export(binary, work):
    """Writes the trees as XML and both paths' results (stable ids in result order)."""
    subprocess.run([binary, f"--export-xml={work}", f"--results={os.path.join(work, 'ids.json')}",
                    "--benchmark_filter=^$"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(work, "ids.json")) as f:
        return json.load(f)


class Ours:
    """`selector_bench --serve`: one line per request, the mean seconds of its calls."""

    def __init__(self, binary):
        self.proc = subprocess.Popen([binary, "--serve"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)

    def mean(self, path, size, label, runs):
        self.proc.stdin.write(f"{path} {size} {label} {runs}\n")
        self.proc.stdin.flush()
        line = self.proc.stdout.readline().strip()
        if line in ("", "error"):
            raise RuntimeError(f"selector_bench cannot time {path} {size} {label}")
        return float(line)

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def lxml_mean(xpath, root, runs):
    """Mean seconds of `runs` fresh evaluations, each result dropped at once, after one untimed
    evaluation that brings the tree back into the caches (as ours gets)."""
    xpath(root)
    start = time.perf_counter()
    for _ in range(runs):
        xpath(root)
    return (time.perf_counter() - start) / runs


def first_call(xpath, root):
    """Seconds of one evaluation, and its result as stable ids, read once the clock has stopped;
    the result is dropped before anything else is timed."""
    start = time.perf_counter()
    found = xpath(root)
    took = time.perf_counter() - start
    return took, [e.get("stable_id") for e in found]


def runs_for(once):
    return max(1, int(SAMPLE_SECONDS / max(once, 1e-7)))


def ms(seconds):
    return "        -" if seconds is None else f"{seconds * 1000:9.3f}"


def main():
    parser = bench_args.Parser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--reps", type=bench_args.count, default=7,
                        help="repetitions (5 at the least: fewer count as 5)")
    parser.add_argument("--quick", action="store_true", help="one repetition each")
    args = parser.parse_args()
    reps = 1 if args.quick else max(5, args.reps)

    bench_args.build_folder(args.build_dir, *(["bench/selector_bench"] if args.no_build else []))
    if not args.no_build:
        build(args.build_dir)
    binary = os.path.join(args.build_dir, "bench", "selector_bench")

    translator = GenericTranslator()
    worst = (0.0, "")
    disagreements = 0
    with tempfile.TemporaryDirectory() as work:
        our_ids = export(binary, work)
        ours = Ours(binary)
        print(f"{'size':>7} {'selector':<36} {'provider':>9} {'locator':>9} {'css ms':>9} "
              f"{'xpath ms':>9} {'prov x':>7} {'loc x':>7} {'matches':>7}  result")
        for size in SIZES:
            root = etree.parse(os.path.join(work, f"tree_{size}.xml")).getroot()
            for label, ours_text, css, xpaths in QUERIES:
                peers = []  # (kind, compiled XPath)
                if css is not None:
                    expr = translator.css_to_xpath(css, prefix="descendant::")
                    peers.append(("css", etree.XPath(expr)))
                peers += [("xpath", etree.XPath(x)) for x in xpaths]

                # Calibrate: how many calls fill one sample on each side.
                our_runs = {p: runs_for(ours.mean(p, size, label, 1)) for p in PATHS}
                # A peer slower than a second per call (cssselect's `window button` at 100k takes
                # about 20 s) is far from the fastest and is timed by that one call.
                firsts, peer_ids = zip(*(first_call(x, root) for _, x in peers))
                peer_runs = [runs_for(t) for t in firsts]
                samples = {p: [] for p in PATHS}
                peer_samples = [[t] if t > SLOW_SECONDS else [] for t in firsts]
                for _ in range(reps):
                    for p in PATHS:
                        samples[p].append(ours.mean(p, size, label, our_runs[p]))
                    for i, (_, x) in enumerate(peers):
                        if firsts[i] <= SLOW_SECONDS:
                            peer_samples[i].append(lxml_mean(x, root, peer_runs[i]))
                mine = {p: statistics.median(samples[p]) for p in PATHS}
                peer_times = [statistics.median(s) for s in peer_samples]

                verdict = "same elements, same order"
                for ids in peer_ids:
                    for p in PATHS:
                        if ids != our_ids[p][size][label]:
                            disagreements += 1
                            verdict = (f"DIFFERENT ({p}: {len(our_ids[p][size][label])} vs "
                                       f"{len(ids)})")

                css_time = peer_times[0] if css is not None else None
                xpath_time = min(t for (kind, _), t in zip(peers, peer_times) if kind == "xpath")
                fastest = min(peer_times)
                ratios = {p: mine[p] / fastest for p in PATHS}
                for p in PATHS:
                    if ratios[p] > worst[0]:
                        worst = (ratios[p], f"{p}, {size} {ours_text}")
                print(f"{size:>7} {ours_text:<36} {ms(mine['provider'])} {ms(mine['locator'])} "
                      f"{ms(css_time)} {ms(xpath_time)} {ratios['provider']:6.2f}x "
                      f"{ratios['locator']:6.2f}x {len(our_ids['provider'][size][label]):>7}  "
                      f"{verdict}", flush=True)
        ours.close()
    print(f"medians of {reps} alternating repetitions; provider: find_elements_group from the top "
          "level; locator: Locator with no scope, elements(); css: cssselect's translation; "
          "xpath: the fastest XPath form; ratios: ours / the fastest lxml peer")
    if disagreements:
        print(f"{disagreements} peer results differ from ours")
    print(f"worst ratio: {worst[0]:.2f}x ({worst[1]})")
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
