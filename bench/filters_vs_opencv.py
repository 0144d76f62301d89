#!/usr/bin/python3
"""Times the filter family against the closest OpenCV calls in the same run.

A 1024 x 1024 12-bit image (a ramp with noise of sigma 80 levels, as bench_filters makes
it) is filtered by bench_filters (median r = 1, 3, 7, 15 by both rank strategies; mean,
Gaussian with and without the level, guided and anisotropic at r = 3) and by OpenCV
(medianBlur 3 x 3 and 5 x 5 on 16-bit, blur 7 x 7, GaussianBlur sigma 3.9,
ximgproc.guidedFilter r 3, bilateralFilter d 7 as the edge-preserving peer) and scipy's
median_filter with the r = 3 disk. Medians of several runs and the ratios are printed.

Usage: /usr/bin/python3 bench/filters_vs_opencv.py [build-bench/bench/bench_filters]
(cv2 from Debian's python3-opencv, scipy from python3-scipy.)
"""
import json
import statistics
import subprocess
import sys
import time

import cv2
import numpy as np
from scipy import ndimage

BENCH = sys.argv[1] if len(sys.argv) > 1 else "build-bench/bench/bench_filters"


def voxmira_medians():
    out = subprocess.run([BENCH, "--benchmark_repetitions=5", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = b["run_name"].replace("BM_", "").replace("/real_time", "")
            result[name] = b["real_time"]
    return result


def median_ms(call, repetitions=7):
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        call()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def main():
    rng = np.random.default_rng(1)
    y, x = np.mgrid[0:1024, 0:1024]
    image = np.clip(1000 + x + y + rng.normal(0, 80, (1024, 1024)), 0, 4095).astype(np.uint16)
    image_f = image.astype(np.float32)
    disk = (x[:7, :7] - 3) ** 2 + (y[:7, :7] - 3) ** 2 <= 3.5 ** 2
    peers = {
        "medianBlur 3x3 (16-bit)": lambda: cv2.medianBlur(image, 3),
        "medianBlur 5x5 (16-bit)": lambda: cv2.medianBlur(image, 5),
        "scipy median_filter, r 3 disk": lambda: ndimage.median_filter(image, footprint=disk),
        "blur 7x7": lambda: cv2.blur(image, (7, 7)),
        "GaussianBlur sigma 3.9": lambda: cv2.GaussianBlur(image, (0, 0), 3.9),
        "ximgproc.guidedFilter r 3": lambda: cv2.ximgproc.guidedFilter(image_f, image_f, 3, 200.0 ** 2),
        "bilateralFilter d 7 (float)": lambda: cv2.bilateralFilter(image_f, 7, 200, 3.9),
    }
    ours = voxmira_medians()
    theirs = {name: median_ms(call) for name, call in peers.items()}
    pairs = [
        ("median/1/1", "medianBlur 3x3 (16-bit)"), ("median/3/1", "medianBlur 5x5 (16-bit)"),
        ("median/3/1", "scipy median_filter, r 3 disk"), ("median/3/0", "scipy median_filter, r 3 disk"),
        ("mean", "blur 7x7"), ("gaussian/0", "GaussianBlur sigma 3.9"),
        ("gaussian/1", "GaussianBlur sigma 3.9"), ("guided", "ximgproc.guidedFilter r 3"),
        ("anisotropic", "bilateralFilter d 7 (float)"),
    ]
    print("| Voxmira | ms | peer | ms | ratio |")
    print("|---|---|---|---|---|")
    for mine, peer in pairs:
        print(f"| {mine} | {ours[mine]:.1f} | {peer} | {theirs[peer]:.1f} | {ours[mine] / theirs[peer]:.2f} |")
    for name in sorted(ours):
        if name.startswith("median"):
            print(f"{name}: {ours[name]:.1f} ms")


if __name__ == "__main__":
    main()
