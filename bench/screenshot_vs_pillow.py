#!/usr/bin/python3
"""Screenshot PNG encoding and annotation, ours against Pillow, on the same pixels.

    /usr/bin/python3 bench/screenshot_vs_pillow.py [--bench PATH_TO_png_bench] [--repeat N]

Runs png_bench once to dump its seeded frames and boxes, then times in one run: our
Screenshot::to_png against Pillow's Image.save(..., "PNG") (zlib level 6, adaptive filters), and
our annotation of 100 tagged boxes against Pillow ImageDraw drawing the same outlines, badges and
labels on a copy of the image (our annotate also returns a new image). Ours and Pillow's
alternate: each repetition times every figure once on our side (one png_bench run of that
figure) and then on Pillow's, so that both see the same load. Prints each figure and the ratio
ours / Pillow (time) and ours / Pillow (size), medians of N repetitions, and the worst time ratio
last.
"""

import io
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageDraw, ImageFont

sys.dont_write_bytecode = True  # no __pycache__ left in the checkout
import bench_args  # noqa: E402  (beside this script)

HERE = os.path.dirname(os.path.abspath(__file__))
FRAMES = [(1920, 1080), (2880, 1800)]


def find_bench(explicit):
    if explicit:
        return explicit
    # The most recently built png_bench under build/ (a release build is what to measure).
    build = os.path.join(HERE, "..", "build")
    found = [os.path.join(root, "png_bench") for root, _dirs, files in os.walk(build)
             if "png_bench" in files and root.endswith("bench")]
    if not found:
        bench_args.refuse("png_bench not found: configure a release build with "
                          "-DVEMOR_BUILD_BENCH=ON, build the png_bench target, or pass --bench")
    return max(found, key=os.path.getmtime)


def pillow_annotate(image, boxes, unit, copy=True):
    """The same boxes as our renderer: outline of `unit`, a badge (ring in the text colour,
    filled with the box colour) above the box, and the tag in the badge."""
    out = image.copy() if copy else image
    draw = ImageDraw.Draw(out)
    font = ImageFont.load_default()
    for box in boxes:
        x, y, w, h = box["rect"]
        color = tuple(box["color"])
        fg = (255, 255, 255) if color == (0, 114, 178) else (0, 0, 0)
        draw.rectangle([x, y, x + w - 1, y + h - 1], outline=color, width=unit)
        bw, bh = unit * (12 * len(box["tag"]) + 4), 20 * unit
        bx, by = x, max(0, y - bh)
        draw.rectangle([bx, by, bx + bw - 1, by + bh - 1], fill=color, outline=fg, width=unit)
        draw.text((bx + 3 * unit, by + 3 * unit), box["tag"], fill=fg, font=font)
    return out


def ours_once(bench, name):
    """Our real time (ms) per call of one figure, from one png_bench run, and its PNG size."""
    out = subprocess.run(
        [bench, "--benchmark_format=json", "--benchmark_min_time=0.05",
         f"--benchmark_filter=^{name}$"],
        check=True, capture_output=True, text=True).stdout
    for b in json.loads(out)["benchmarks"]:
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        return b["real_time"] * scale, b.get("png_bytes")
    raise RuntimeError(f"png_bench has no figure {name}")


def pillow_once(fn, calls):
    """Pillow's real time (ms) per call, over `calls` calls."""
    start = time.perf_counter()
    for _ in range(calls):
        fn()
    return (time.perf_counter() - start) * 1000.0 / calls


def main():
    parser = bench_args.Parser()
    parser.add_argument("--bench", type=bench_args.executable)
    parser.add_argument("--repeat", type=bench_args.count, default=7)
    args = parser.parse_args()
    bench = find_bench(args.bench)

    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([bench, "--dump", tmp], check=True)
        rows = []
        for index, (w, h) in enumerate(FRAMES):
            with open(os.path.join(tmp, f"frame_{w}x{h}.rgba"), "rb") as f:
                raw = f.read()
            image = Image.frombytes("RGBA", (w, h), raw)
            # Our PNG must decode, in Pillow, to exactly these pixels.
            if Image.open(os.path.join(tmp, f"frame_{w}x{h}.png")).tobytes() != raw:
                sys.exit(f"{w}x{h}: our PNG does not decode to the frame's pixels")
            with open(os.path.join(tmp, f"boxes_{w}x{h}.json")) as f:
                doc = json.load(f)

            buf = io.BytesIO()
            image.save(buf, "PNG")
            pillow_size = len(buf.getvalue())
            scratch = image.copy()
            # (our figure, Pillow's call, Pillow's calls per sample)
            figures = {
                "png": (f"BM_ToPng/{index}", lambda: image.save(io.BytesIO(), "PNG"), 1),
                "ann": (f"BM_Annotate100/{index}",
                        lambda: pillow_annotate(image, doc["boxes"], doc["unit"]), 3),
                "inplace": (f"BM_Annotate100InPlace/{index}",
                            lambda: pillow_annotate(scratch, doc["boxes"], doc["unit"],
                                                    copy=False), 3),
            }
            mine = {k: [] for k in figures}
            theirs = {k: [] for k in figures}
            our_size = None
            for _ in range(args.repeat):
                for key, (name, fn, calls) in figures.items():
                    ms, size = ours_once(bench, name)
                    mine[key].append(ms)
                    if key == "png":
                        our_size = size
                    theirs[key].append(pillow_once(fn, calls))
            med = {k: statistics.median(v) for k, v in mine.items()}
            pmed = {k: statistics.median(v) for k, v in theirs.items()}
            rows.append((f"{w}x{h}", med["png"], pmed["png"], our_size, pillow_size, med["ann"],
                         pmed["ann"], med["inplace"], pmed["inplace"], len(doc["boxes"])))

    print("PNG encode (ours: Screenshot::to_png; Pillow: Image.save(buf, 'PNG'))")
    print(f"{'frame':<10} {'ours ms':>9} {'Pillow ms':>10} {'time x':>7} {'ours bytes':>11} "
          f"{'Pillow bytes':>13} {'size x':>7}")
    for frame, op, pp, osz, psz, *_ in rows:
        print(f"{frame:<10} {op:>9.1f} {pp:>10.1f} {op / pp:>7.2f} {int(osz):>11} {psz:>13} "
              f"{osz / psz:>7.3f}")
    print(f"\nAnnotation of {rows[0][9]} tagged boxes (ours: Screenshot::annotate; Pillow: "
          "ImageDraw rectangles, badges and labels)")
    print(f"{'frame':<10} {'copy: ours ms':>14} {'Pillow ms':>10} {'time x':>7}   "
          f"{'in place: ours ms':>18} {'Pillow ms':>10} {'time x':>7}")
    for frame, _op, _pp, _osz, _psz, oa, pa, oi, pi, _n in rows:
        print(f"{frame:<10} {oa:>14.2f} {pa:>10.2f} {oa / pa:>7.2f}   {oi:>18.2f} {pi:>10.2f} "
              f"{oi / pi:>7.2f}")
    print(f"\nmedians of {args.repeat} alternating repetitions")
    print("goals: encode time x <= 0.5 at size x <= 1.1; annotation time x <= 0.5")
    worst = max(
        [(op / pp, f"encode {frame}") for frame, op, pp, *_ in rows]
        + [(oa / pa, f"annotate {frame}") for frame, _a, _b, _c, _d, oa, pa, *_ in rows]
        + [(oi / pi, f"annotate in place {frame}") for frame, *_x, oi, pi, _n in rows])
    print(f"worst ratio: {worst[0]:.2f}x ({worst[1]})")


if __name__ == "__main__":
    main()
