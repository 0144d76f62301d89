#!/usr/bin/python3
"""Every filter choice x mask at 512 x 512 and 1024 x 1024, timed as the desktop program
filters a picture, beside the nearest peer call where one exists.

    /usr/bin/python3 bench/filters_live.py [--batch build/voxmira-batch] [--runs 5]
                                           [--sizes 3,7] [--out table.md]

Voxmira's figures: the "Filtering took" time that `voxmira-batch process` reports (the
whole-image filter run inside the process, both cores, no loading or writing), the median of
--runs fresh processes; and, with --module (the built Python module's folder, e.g.
build/python), the same filter with the same settings run again and again in one process as
the desktop program runs it while the slider moves (planes kept between runs, so no
first-touch page faults after the first run), the median of --runs runs after one unmeasured. The peers run in this process on the same picture, two
threads for OpenCV: `medianBlur` 5 x 5 on 16 bits (median), `blur` 7 x 7 (mean),
`GaussianBlur` sigma 1.3 r (Gaussian), ximgproc `guidedFilter` r (image-guided),
scikit-image `filters.rank.median` with `disk(r)` (median, 8 bits), `fastNlMeansDenoising`
h 10 (bitonic: the edge-preserving denoiser users compare it with). The target for live
tuning is 100 ms at 1024 x 1024; cells above it are marked with "!".

The mask choice matters to the rank filters (median, opening, closing, OCCO and the OCCO
levelling) and the bitonic filter; the others run once with the default mask.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

FILTERS = ["No filtering", "Mean", "Gaussian", "Median", "Opening", "Closing", "OCCO", "Grain",
           "OCCO levelling", "Gaussian levelling", "Image-guided", "Anisotropic", "Bitonic"]
MASKS = ["circular", "varying", "local", "square", "cross", "line", "ellipse", "area"]
MASKED = {3, 4, 5, 6, 8, 12}
DEFAULT_MASK = 2
TARGET_MS = 100


def picture(n, seed=3):
    """An 8-bit picture with smooth structure, edges and noise of sigma 12 levels."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:n, 0:n] * (1024.0 / n)
    img = 128 + 60 * np.sin(x / 40.0) * np.cos(y / 55.0)
    img += 40 * ((x // 128 + y // 128) % 2)  # edges
    img += rng.normal(0, 12, (n, n))
    return img.clip(0, 255).astype(np.uint8)


def write_pgm(path, a):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (a.shape[1], a.shape[0]))
        f.write(a.tobytes())


def ours(batch, path, kind, mask, size, runs, folder):
    out = os.path.join(folder, "out.bin")
    times = []
    for _ in range(runs):
        r = subprocess.run([batch, "process", path, "--filter", str(kind), "--mask", str(mask),
                            "--size", str(size), "--out", out],
                           capture_output=True, text=True)
        if r.returncode != 0:
            return None
        line = r.stdout.strip().splitlines()[0]
        times.append(float(line.split('"process_time":')[1].split(",")[0].rstrip("}")))
    return statistics.median(times)


def in_process(module, img, kind, mask, size, runs):
    """Median ms of the module's filter, as the batch tool filters it, after a warm-up run."""
    module.filter(img, kind, mask=mask, size=size)
    return timed(lambda: module.filter(img, kind, mask=mask, size=size), runs)


def timed(call, runs):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1000)
    return statistics.median(times)


def peers(img, size, runs):
    """Peer name and median ms per filter kind, for one picture."""
    out = {}
    try:
        import cv2
        cv2.setNumThreads(2)
        img16 = img.astype(np.uint16) * 16
        out[3] = ("OpenCV medianBlur 5x5 16-bit", timed(lambda: cv2.medianBlur(img16, 5), runs))
        k = 2 * size + 1
        out[1] = ("OpenCV blur %dx%d" % (k, k), timed(lambda: cv2.blur(img16, (k, k)), runs))
        s = 1.3 * size
        out[2] = ("OpenCV GaussianBlur sigma %.1f" % s,
                  timed(lambda: cv2.GaussianBlur(img16, (0, 0), s), runs))
        if hasattr(cv2, "ximgproc"):
            f = img.astype(np.float32)
            out[10] = ("ximgproc guidedFilter r %d" % size,
                       timed(lambda: cv2.ximgproc.guidedFilter(f, f, size, 100.0), runs))
        out[12] = ("OpenCV fastNlMeansDenoising h 10",
                   timed(lambda: cv2.fastNlMeansDenoising(img, None, 10, 7, 21), max(1, runs // 2)))
    except ImportError:
        pass
    try:
        from skimage.filters import rank
        from skimage.morphology import disk
        d = disk(size)
        out["skimage"] = ("scikit-image rank.median disk(%d)" % size,
                          timed(lambda: rank.median(img, d), runs))
    except ImportError:
        pass
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--batch", default="build/voxmira-batch")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--sizes", default="3")
    ap.add_argument("--out", default="")
    ap.add_argument("--module", default="",
                    help="folder of the built voxmira module: adds the in-process column")
    args = ap.parse_args()
    module = None
    if args.module:
        sys.path.insert(0, args.module)
        import voxmira as module
    if not os.access(args.batch, os.X_OK):
        sys.exit("no batch tool at %s (build it, or give --batch)" % args.batch)
    sizes = [int(s) for s in args.sizes.split(",")]
    warm = " | 1024 in-process" if module else ""
    lines = ["| filter | mask | r | 512 ms | 1024 ms%s | peer (1024) | peer ms | ratio |" % warm,
             "|---|---|---|---|---|---|---|---|" + ("---|" if module else "")]
    over = over_warm = 0
    with tempfile.TemporaryDirectory() as folder:
        paths, pictures = {}, {}
        for n in (512, 1024):
            pictures[n] = picture(n)
            paths[n] = os.path.join(folder, "p%d.pgm" % n)
            write_pgm(paths[n], pictures[n])
        for size in sizes:
            peer = peers(pictures[1024], size, args.runs)
            for kind in range(1, len(FILTERS)):
                for mask in (range(len(MASKS)) if kind in MASKED else [DEFAULT_MASK]):
                    cells = [ours(args.batch, paths[n], kind, mask, size, args.runs, folder)
                             for n in (512, 1024)]
                    slow = cells[1] is not None and cells[1] > TARGET_MS
                    over += slow
                    text = ["-" if c is None else "%.0f" % c for c in cells]
                    if slow:
                        text[1] += " !"
                    if module:
                        warm_ms = in_process(module, pictures[1024], kind, mask, size, args.runs)
                        over_warm += warm_ms > TARGET_MS
                        text[1] += " | %.0f%s" % (warm_ms, " !" if warm_ms > TARGET_MS else "")
                    p = peer.get(kind)
                    if kind == 3 and mask == 0 and "skimage" in peer:
                        p2 = peer["skimage"]
                        lines.append("| %s | %s | %d | %s | %s | %s | %.1f | %.1f |" % (
                            FILTERS[kind], MASKS[mask], size, text[0], text[1], p2[0], p2[1],
                            cells[1] / p2[1] if cells[1] else float("nan")))
                    if p and (kind not in MASKED or mask == 0):
                        ratio = "%.1f" % (cells[1] / p[1]) if cells[1] else "-"
                        lines.append("| %s | %s | %d | %s | %s | %s | %.1f | %s |" % (
                            FILTERS[kind], MASKS[mask], size, text[0], text[1], p[0], p[1], ratio))
                    else:
                        lines.append("| %s | %s | %d | %s | %s | | | |" % (
                            FILTERS[kind], MASKS[mask], size, text[0], text[1]))
                    print(lines[-1], flush=True)
    lines.append("")
    lines.append("%d rows above %d ms at 1024 x 1024 (medians of %d runs)%s." % (
        over, TARGET_MS, args.runs, "; in-process %d" % over_warm if module else ""))
    text = "\n".join(lines)
    print(lines[-1])
    if args.out:
        with open(args.out, "w") as f:
            f.write(text + "\n")


if __name__ == "__main__":
    main()
