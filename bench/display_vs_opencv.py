#!/usr/bin/python3
"""Times create_display_image against OpenCV's cv2.resize doing the same resampling.

A 1024 x 1024 grey image is shown fitted in a 1920 x 1080 window (1080 x 1080 pixels of
image), with the cubic B-spline and with Lanczos-3; OpenCV resizes the same image to
1080 x 1080 with INTER_CUBIC and INTER_LANCZOS4. The two are timed alternately in the
same run, so a busy machine slows both alike, and the medians and ratios are printed.

Usage: /usr/bin/python3 bench/display_vs_opencv.py [build-bench/bench/bench_display]
(cv2 comes from Debian's python3-opencv.)
"""
import json
import statistics
import subprocess
import sys
import time

import cv2
import numpy as np

BENCH = sys.argv[1] if len(sys.argv) > 1 else "build-bench/bench/bench_display"
ROUNDS = 5


def voxmira_medians():
    out = subprocess.run(
        [BENCH, "--benchmark_filter=display_(bspline|lanczos3)/", "--benchmark_repetitions=10",
         "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = b["run_name"].split("/")[0].replace("BM_display_", "")
            result[name] = b["real_time"]  # milliseconds
    return result


def opencv_median(image, interpolation, repetitions=30):
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        cv2.resize(image, (1080, 1080), interpolation=interpolation)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def main():
    rng = np.random.default_rng(1)
    image = rng.integers(0, 4096 * 16, size=(1024, 1024)).astype(np.float32)
    samples = {"bspline": [], "lanczos3": [], "cubic": [], "lanczos4": []}
    for _ in range(ROUNDS):
        v = voxmira_medians()
        samples["bspline"].append(v["bspline"])
        samples["lanczos3"].append(v["lanczos3"])
        samples["cubic"].append(opencv_median(image, cv2.INTER_CUBIC))
        samples["lanczos4"].append(opencv_median(image, cv2.INTER_LANCZOS4))
    m = {k: statistics.median(v) for k, v in samples.items()}
    print(f"OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads; medians of {ROUNDS} rounds")
    print(f"create_display_image B-spline   {m['bspline']:8.2f} ms")
    print(f"cv2.resize INTER_CUBIC           {m['cubic']:8.2f} ms   ratio {m['bspline'] / m['cubic']:.2f}")
    print(f"create_display_image Lanczos-3  {m['lanczos3']:8.2f} ms")
    print(f"cv2.resize INTER_LANCZOS4        {m['lanczos4']:8.2f} ms   ratio {m['lanczos3'] / m['lanczos4']:.2f}")


if __name__ == "__main__":
    main()
