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
    """Median wall and all-thread CPU milliseconds of each display benchmark."""
    out = subprocess.run(
        [BENCH, "--benchmark_filter=display_(bspline|lanczos3)/", "--benchmark_repetitions=10",
         "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = b["run_name"].split("/")[0].replace("BM_display_", "")
            result[name] = (b["real_time"], b["cpu_all_threads_ms"])
    return result


def opencv_median(image, interpolation, repetitions=30):
    """Median wall and process CPU milliseconds of one cv2.resize."""
    wall, cpu = [], []
    for _ in range(repetitions):
        start, start_cpu = time.perf_counter(), time.process_time()
        cv2.resize(image, (1080, 1080), interpolation=interpolation)
        wall.append((time.perf_counter() - start) * 1000)
        cpu.append((time.process_time() - start_cpu) * 1000)
    return statistics.median(wall), statistics.median(cpu)


def main():
    rng = np.random.default_rng(1)
    image = rng.integers(0, 4096 * 16, size=(1024, 1024)).astype(np.float32)
    samples = {k: [] for k in ("bspline", "lanczos3", "cubic", "lanczos4")}
    for _ in range(ROUNDS):
        v = voxmira_medians()
        samples["bspline"].append(v["bspline"])
        samples["lanczos3"].append(v["lanczos3"])
        samples["cubic"].append(opencv_median(image, cv2.INTER_CUBIC))
        samples["lanczos4"].append(opencv_median(image, cv2.INTER_LANCZOS4))
    wall = {k: statistics.median(x[0] for x in v) for k, v in samples.items()}
    cpu = {k: statistics.median(x[1] for x in v) for k, v in samples.items()}
    print(f"OpenCV {cv2.__version__}, {cv2.getNumThreads()} threads; medians of {ROUNDS} rounds;"
          " wall ms, CPU ms of all threads")
    for ours, theirs, a, b in (("bspline", "cubic", "create_display_image B-spline ", "cv2.resize INTER_CUBIC        "),
                               ("lanczos3", "lanczos4", "create_display_image Lanczos-3", "cv2.resize INTER_LANCZOS4     ")):
        print(f"{a}  wall {wall[ours]:7.2f}  cpu {cpu[ours]:7.2f}")
        print(f"{b}  wall {wall[theirs]:7.2f}  cpu {cpu[theirs]:7.2f}"
              f"   ratio wall {wall[ours] / wall[theirs]:.2f}, cpu {cpu[ours] / cpu[theirs]:.2f}")


if __name__ == "__main__":
    main()
