#!/usr/bin/python3
"""Selector search: vemor's product search path against lxml, on the same trees, in one run.

    /usr/bin/python3 bench/selector_vs_lxml.py [--build-dir build/release] [--no-build] [--quick]

Builds `selector_bench` (Release, -DVEMOR_BUILD_BENCH=ON) in the build directory unless
--no-build is given, lets it write its generated trees (10k and 100k elements) as XML and its
results, times the ten selectors with it, then times the same selectors with lxml on the XML.

Ours is `find_elements_group` of a provider holding the tree, selector parsing included. Each
selector has two lxml peers: cssselect's translation of the CSS form (where CSS can say it) and
the XPath a user who cares would write. The ratio is ours / the faster peer (below 1.0 we are
faster). The results must be the same elements in the same order as both peers'. The XML has no
indentation, so lxml walks exactly the elements our tree has.

Needs Debian's python3-lxml and python3-cssselect.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from cssselect import GenericTranslator
from lxml import etree

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
LOWER = "abcdefghijklmnopqrstuvwxyz"

# label -> (our selector, CSS for cssselect or None, XPath). CSS has no case-insensitive
# substring test and no "nth match in the whole tree": those have the XPath peer only (the tree's
# names are ASCII, where `translate` is the full lowercase form). Every XPath is evaluated from
# the document element, so `descendant::` covers exactly our top-level search.
QUERIES = [
    ("type", "button", "button", "descendant::button"),
    ("name_exact", '[name="Open"]', '[name="Open"]', 'descendant::*[@name="Open"]'),
    ("name_contains", '[name*="FILE"]', None,
     f"descendant::*[contains(translate(@name, '{UPPER}', '{LOWER}'), 'file')]"),
    ("descendant", "window button", "window button", "descendant::window//button"),
    ("child", "group > button", "group > button", "descendant::group/button"),
    ("compound", 'button[name="Save"][enabled="true"]', 'button[name="Save"][enabled="true"]',
     'descendant::button[@name="Save"][@enabled="true"]'),
    # The axis position lets lxml stop at the 500th button.
    ("nth", "button:nth(500)", None, "descendant::button[500]"),
    ("union", "link, check_box", "link, check_box", "descendant::*[self::link or self::check_box]"),
    ("no_match", 'button[name="No such name"]', 'button[name="No such name"]',
     'descendant::button[@name="No such name"]'),
    ("any", "*", "*", "descendant::*"),
]
SIZES = ["10000", "100000"]


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DVEMOR_BUILD_BENCH=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "selector_bench"], check=True,
                   stdout=subprocess.DEVNULL)


def export(binary, work):
    """Writes the trees as XML and our results (stable ids in result order)."""
    subprocess.run([binary, f"--export-xml={work}", f"--results={os.path.join(work, 'ids.json')}",
                    "--benchmark_filter=^$"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(work, "ids.json")) as f:
        return json.load(f)


def time_ours(binary, work, size, label, quick):
    """Median seconds per search."""
    out = os.path.join(work, "bench.json")
    reps = 1 if quick else 5
    subprocess.run([binary, f"--benchmark_filter=^{size}/{label}$",
                    f"--benchmark_out={out}", "--benchmark_out_format=json",
                    f"--benchmark_repetitions={reps}", "--benchmark_min_time=0.2"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        data = json.load(f)
    for b in data["benchmarks"]:
        # With repetitions, keep the median; without, the single run.
        if reps > 1 and b.get("aggregate_name") != "median":
            continue
        return to_seconds(b["real_time"], b["time_unit"])
    raise RuntimeError(f"no timing for {size}/{label}")


def to_seconds(value, unit):
    return value * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[unit]


def time_lxml(xpath, root, quick):
    """Median seconds per evaluation; a slow query is timed once."""
    start = time.perf_counter()
    found = xpath(root)
    once = time.perf_counter() - start
    if once > 1.0:
        return once, found
    runs = max(1, int(0.2 / max(once, 1e-7)))
    samples = []
    for _ in range(1 if quick else 5):
        start = time.perf_counter()
        for _ in range(runs):
            xpath(root)
        samples.append((time.perf_counter() - start) / runs)
    return statistics.median(samples), found


def ms(seconds):
    return "        -" if seconds is None else f"{seconds * 1000:9.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--quick", action="store_true", help="one repetition each")
    args = parser.parse_args()

    if not args.no_build:
        build(args.build_dir)
    binary = os.path.join(args.build_dir, "bench", "selector_bench")
    if not os.path.exists(binary):
        sys.exit(f"{binary} is missing: build it, or drop --no-build")

    translator = GenericTranslator()
    worst = (0.0, "")
    disagreements = 0
    with tempfile.TemporaryDirectory() as work:
        our_ids = export(binary, work)
        print(f"{'size':>7} {'selector':<38} {'ours ms':>9} {'css ms':>9} {'xpath ms':>9} "
              f"{'ratio':>7} {'matches':>7}  result")
        for size in SIZES:
            root = etree.parse(os.path.join(work, f"tree_{size}.xml")).getroot()
            for label, ours_text, css, xpath in QUERIES:
                # Ours and the peers are timed back to back, so that all see the same load.
                ours = time_ours(binary, work, size, label, args.quick)
                mine = our_ids[size][label]
                peers = []
                verdict = "same elements, same order"
                if css is not None:
                    expr = translator.css_to_xpath(css, prefix="descendant::")
                    peers.append(time_lxml(etree.XPath(expr), root, args.quick))
                else:
                    peers.append(None)
                peers.append(time_lxml(etree.XPath(xpath), root, args.quick))
                for peer in peers:
                    if peer is None:
                        continue
                    ids = [e.get("stable_id") for e in peer[1]]
                    if ids != mine:
                        disagreements += 1
                        verdict = f"DIFFERENT ({len(mine)} vs {len(ids)})"
                times = [p[0] if p else None for p in peers]
                fastest = min(t for t in times if t is not None)
                ratio = ours / fastest
                if ratio > worst[0]:
                    worst = (ratio, f"{size} {ours_text}")
                print(f"{size:>7} {ours_text:<38} {ms(ours)} {ms(times[0])} {ms(times[1])} "
                      f"{ratio:6.2f}x {len(mine):>7}  {verdict}", flush=True)
    print("ratio: ours / the faster lxml peer; css: cssselect's translation; "
          "xpath: the equivalent XPath")
    if disagreements:
        print(f"{disagreements} peer results differ from ours")
    print(f"worst ratio: {worst[0]:.2f}x ({worst[1]})")
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
