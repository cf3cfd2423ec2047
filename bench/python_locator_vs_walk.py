#!/usr/bin/python3
"""Python: `vemor.locator(selector).elements()` against the walk a user would write without the
selector engine (recursive `Element.children()` with the filter in Python), on the same seeded
simulated desktop, in one run.

    /usr/bin/python3 bench/python_locator_vs_walk.py [--build-dir build/release] [--no-build]
                                                     [--quick]

Builds the module (target vemor_python) unless --no-build is given, writes a desktop
description of 10k and of 100k elements (seeded, four applications), runs each size in its own
interpreter with VEMOR_SIMULATED_DESKTOP naming it, and prints per selector the locator's time,
the walk's time, the ratio (locator / walk; below 1.0 is faster) and whether both found the same elements in the
same order. "count" is `locator(selector).count()`: the same search without building Python
objects, which shows what the bindings add. Each time is the best of several runs.
"""

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ left in the checkout
import bench_args  # noqa: E402  (beside this script)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = [10_000, 100_000]
APPS = 4
ROLES = [("AXButton", "button"), ("AXStaticText", "static_text"), ("AXTextField", "text_field"),
         ("AXCheckBox", "check_box"), ("AXLink", "link")]
WORDS = ["Open", "Save", "Close", "File", "Edit", "View", "Help", "Next", "Back", "Done"]


# ---- The selectors and their hand-written equivalents ----------------------------------------
# Each test gets (element, parent role, whether a window is among the ancestors).

SELECTORS = [
    ("type", "button", lambda e, parent, in_window: e.role == "button"),
    ("compound", 'button[name="Save"]',
     lambda e, parent, in_window: e.role == "button" and e.name == "Save"),
    ("descendant", "window check_box",
     lambda e, parent, in_window: in_window and e.role == "check_box"),
    ("child", "group > link", lambda e, parent, in_window: parent == "group" and e.role == "link"),
    ("name", '[name="Done"]', lambda e, parent, in_window: e.name == "Done"),
]


def python_walk(vemor, test):
    found = []

    def visit(element, parent_role, in_window):
        for child in element.children():
            if test(child, parent_role, in_window):
                found.append(child)
            visit(child, child.role, in_window or child.role == "window")

    for app in vemor.locator("application").elements():
        visit(app, app.role, False)
    return found


# ---- The desktop -----------------------------------------------------------------------------

def make_desktop(total, seed):
    rng = random.Random(seed)
    serial = 0

    def leaf():
        nonlocal serial
        serial += 1
        ax, _ = rng.choice(ROLES)
        return {"role": ax, "title": rng.choice(WORDS), "identifier": f"e{serial}",
                "frame": [rng.randrange(0, 1800), rng.randrange(0, 1000), 40, 20]}

    def group(budget, depth):
        nonlocal serial
        serial += 1
        node = {"role": "AXGroup", "title": f"Group {serial}", "identifier": f"e{serial}",
                "children": []}
        budget -= 1
        while budget > 0:
            if depth < 6 and budget > 12 and rng.random() < 0.3:
                size = rng.randrange(6, min(budget, 400) + 1)
                node["children"].append(group(size, depth + 1))
                budget -= size
            else:
                node["children"].append(leaf())
                budget -= 1
        return node

    apps = []
    per_app = total // APPS
    for a in range(APPS):
        windows = []
        for w in range(2):
            serial += 1
            windows.append({"role": "AXWindow", "title": f"Window {a}.{w}",
                            "identifier": f"e{serial}", "frame": [0, 0, 1200, 800],
                            "children": [group(per_app // 2 - 1, 1)]})
        apps.append({"pid": 7001 + a, "name": f"App{a}", "children": windows})
    return {"base": "empty", "apps": apps}


# ---- One size, in its own interpreter ----------------------------------------------------------

def best_of(runs, fn):
    best, result = None, None
    for _ in range(runs):
        start = time.perf_counter()
        result = fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def run_child(runs):
    import vemor

    total = len(python_walk(vemor, lambda e, p, w: True))
    rows = []
    for label, selector, test in SELECTORS:
        search, _ = best_of(runs, lambda: vemor.locator(selector).count())
        ours, matched = best_of(runs, lambda: vemor.locator(selector).elements())
        walk, walked = best_of(runs, lambda: python_walk(vemor, test))
        ours_ids = [e.stable_id for e in matched]
        walk_ids = [e.stable_id for e in walked]
        same = ("yes" if ours_ids == walk_ids else
                "order differs" if sorted(ours_ids) == sorted(walk_ids) else "NO")
        rows.append({"label": label, "selector": selector, "ours": ours, "walk": walk,
                     "search": search,
                     "matches": len(matched), "same": same})
    print(json.dumps({"elements": total, "rows": rows}))


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "vemor_python"], check=True,
                   stdout=subprocess.DEVNULL)


def main():
    parser = bench_args.Parser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--quick", action="store_true", help="10k elements only, one run each")
    parser.add_argument("--child-runs", type=bench_args.count, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child_runs:
        run_child(args.child_runs)
        return 0

    bench_args.build_folder(args.build_dir,
                            *(["vemor-python/vemor/_native.abi3.so"] if args.no_build else []))
    if not args.no_build:
        build(args.build_dir)
    package_root = os.path.join(os.path.abspath(args.build_dir), "vemor-python")
    sizes = SIZES[:1] if args.quick else SIZES
    failed = False
    print(f"{'elements':>9} {'selector':<22} {'matches':>8} {'count (ms)':>11} "
          f"{'locator (ms)':>13} {'walk (ms)':>11} {'locator/walk':>13} same")
    with tempfile.TemporaryDirectory() as tmp:
        for size in sizes:
            path = os.path.join(tmp, f"desktop_{size}.json")
            with open(path, "w") as f:
                json.dump(make_desktop(size, seed=20261207), f)
            runs = 1 if args.quick else (5 if size <= 10_000 else 2)
            env = dict(os.environ, PYTHONPATH=package_root, VEMOR_SIMULATED_DESKTOP=path)
            out = subprocess.run([sys.executable, os.path.abspath(__file__),
                                  "--child-runs", str(runs)],
                                 env=env, check=True, capture_output=True, text=True).stdout
            result = json.loads(out)
            for row in result["rows"]:
                ratio = row["ours"] / row["walk"] if row["walk"] > 0 else float("inf")
                failed |= row["same"] != "yes"
                print(f"{result['elements']:>9} {row['selector']:<22} {row['matches']:>8} "
                      f"{row['search'] * 1e3:>11.1f} {row['ours'] * 1e3:>13.1f} {row['walk'] * 1e3:>11.1f}  {ratio:>12.3f} "
                      f"{row['same']}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
