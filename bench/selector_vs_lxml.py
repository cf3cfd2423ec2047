#!/usr/bin/python3
"""Selector search: vemor's tree search against lxml + cssselect, on the same trees, in one run.

    /usr/bin/python3 bench/selector_vs_lxml.py [--build-dir build/release] [--no-build] [--quick]

Builds `selector_bench` (Release, -DVEMOR_BUILD_BENCH=ON) in the build directory unless
--no-build is given, lets it write its generated trees (10k and 100k elements) as XML and its
results, times the ten selectors with it, then times the same selectors with lxml on the XML
and prints, per selector, our time, lxml's time, the ratio (ours / lxml) and whether both found
the same elements in the same order.

"owned" is our search over a children function that copies every child list (what a provider's
`get_children` does); "view" is the same search over lent lists (an in-memory tree).

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

# label -> (our selector, ("css", text) or ("xpath", text)). CSS has no case-insensitive
# substring test and no "nth match in the whole tree", so those two are written in XPath with
# the same meaning (the tree's names are ASCII, where `translate` is the full lowercase form).
QUERIES = [
    ("type", "button", ("css", "button")),
    ("name_exact", '[name="Open"]', ("css", '[name="Open"]')),
    ("name_contains", '[name*="FILE"]',
     ("xpath", f"descendant::*[contains(translate(@name, '{UPPER}', '{LOWER}'), 'file')]")),
    ("descendant", "window button", ("css", "window button")),
    ("child", "group > button", ("css", "group > button")),
    ("compound", 'button[name="Save"][enabled="true"]',
     ("css", 'button[name="Save"][enabled="true"]')),
    ("nth", "button:nth(500)", ("xpath", "(descendant::button)[500]")),
    ("union", "link, check_box", ("css", "link, check_box")),
    ("no_match", 'button[name="No such name"]', ("css", 'button[name="No such name"]')),
    ("any", "*", ("css", "*")),
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
    """Median seconds per search for the owned and the view children function."""
    out = os.path.join(work, "bench.json")
    reps = 1 if quick else 5
    subprocess.run([binary, f"--benchmark_filter=^(owned|view)/{size}/{label}$",
                    f"--benchmark_out={out}", "--benchmark_out_format=json",
                    f"--benchmark_repetitions={reps}", "--benchmark_min_time=0.2"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        data = json.load(f)
    times = {}
    for b in data["benchmarks"]:
        # With repetitions, keep the median; without, the single run.
        if reps > 1 and b.get("aggregate_name") != "median":
            continue
        times[b.get("run_name", b["name"]).split("/")[0]] = \
            to_seconds(b["real_time"], b["time_unit"])
    return times["owned"], times["view"]


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
    return f"{seconds * 1000:9.3f}"


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
    with tempfile.TemporaryDirectory() as work:
        our_ids = export(binary, work)
        print(f"{'size':>7} {'selector':<38} {'owned ms':>9} {'view ms':>9} {'lxml ms':>9} "
              f"{'owned/lxml':>10} {'view/lxml':>9} {'matches':>7}  agree")
        worst = {}
        for size in SIZES:
            root = etree.parse(os.path.join(work, f"tree_{size}.xml")).getroot()
            for label, ours_text, (kind, peer_text) in QUERIES:
                expr = peer_text if kind == "xpath" else \
                    translator.css_to_xpath(peer_text, prefix="descendant::")
                # Each pair is timed back to back, so that both see the same machine load.
                owned, view = time_ours(binary, work, size, label, args.quick)
                peer_time, found = time_lxml(etree.XPath(expr), root, args.quick)
                peer_ids = [e.get("stable_id") for e in found]
                mine = our_ids[size][label]
                if mine == peer_ids:
                    agree = "same elements, same order"
                elif sorted(mine) == sorted(peer_ids):
                    agree = "same elements, other order"
                else:
                    agree = f"DIFFERENT ({len(mine)} vs {len(peer_ids)})"
                worst[size] = max(worst.get(size, 0.0), owned / peer_time)
                print(f"{size:>7} {ours_text:<38} {ms(owned)} {ms(view)} {ms(peer_time)} "
                      f"{owned / peer_time:9.2f}x {view / peer_time:8.2f}x {len(mine):>7}  {agree}",
                      flush=True)
        print("other order: a one-clause search lists each earlier match's children in turn "
              "(discovery order); XPath returns document order")
        for size in SIZES:
            print(f"worst owned/lxml ratio at {size}: {worst[size]:.2f}x")


if __name__ == "__main__":
    main()
