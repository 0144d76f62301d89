#!/usr/bin/python3
"""PSNR and time of the bitonic filter beside non-local means and other denoisers.

Four natural 8-bit pictures from scikit-image (camera, and astronaut, coffee and chelsea
in grey) get Gaussian noise of sigma 10, 20, 30 (seeded, clipped to 0..255, rounded). The
bitonic filter runs through voxmira-batch with the rule level = round(2.75 sigma), size =
round(sigma / 10) + 3 for the local (default) and varying masks (chosen on the local mask's
mean gain over NLM across these pictures, over levels 2.25 - 3.5 sigma and sizes 2 - 8),
and size = max(1, round(sigma / 10)) for the circular mask, which admits every pixel of its
disc and so wants small ones (its level plays no part). The peers are tuned fairly:
OpenCV fastNlMeansDenoising with h = sigma and the 7 / 21 windows (its documented
setting); scikit-image denoise_tv_chambolle, bilateralFilter (d 7) and the median
(3 x 3, 5 x 5), each at the best of a small grid of its parameter, chosen per picture and
sigma against the clean picture (an oracle that favours them). Then the time of the
default bitonic filter (r = 3) on 512 x 512, 1024 x 1024 and 2048 x 2048 beside NLM.

The bitonic time is the batch tool's own "Filtering took" in a fresh process (median of
5), which pays the first touch of every page the filter uses; given bench_filters too, the
table adds its in-process time on a pattern of the same size (the filter run after run,
as the slider runs it). NLM is timed in this process, median of 5.

Usage: /usr/bin/python3 bench/bitonic_vs_peers.py [build/voxmira-batch] [build-bench/bench/bench_filters]
"""
import json
import re
import statistics
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
from skimage import color, data
from skimage.restoration import denoise_tv_chambolle

BATCH = sys.argv[1] if len(sys.argv) > 1 else "build/voxmira-batch"
BENCH = sys.argv[2] if len(sys.argv) > 2 else None
TMP = tempfile.mkdtemp()


def psnr(a, clean):
    return 10 * np.log10(255.0 ** 2 / np.mean((a.astype(np.float64) - clean) ** 2))


def bitonic(noisy, mask, level, size):
    cv2.imwrite(f"{TMP}/in.png", noisy)
    r = subprocess.run([BATCH, "process", f"{TMP}/in.png", "--out", f"{TMP}/out.bin", "--filter", "12",
                        "--mask", str(mask), "--level", str(level), "--size", str(size)],
                       check=True, capture_output=True, text=True)
    ms = int(re.search(r"Filtering took (\d+) ms", r.stderr).group(1))
    out = np.fromfile(f"{TMP}/out.bin", dtype="<i4").reshape(noisy.shape) / 16.0
    return out, ms


def best(noisy, clean, make):
    return max(psnr(make(p), clean) for p in make.grid)


def main():
    pictures = {"camera": data.camera().astype(np.float64),
                "astronaut": np.round(color.rgb2gray(data.astronaut()) * 255),
                "coffee": np.round(color.rgb2gray(data.coffee()) * 255),
                "chelsea": np.round(color.rgb2gray(data.chelsea()) * 255)}
    rng = np.random.default_rng(7)
    print("| picture | sigma | noisy | bitonic local | circular | varying | NLM | TV | bilateral | median |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name, clean in pictures.items():
        for sigma in (10, 20, 30):
            noisy = np.clip(np.round(clean + rng.normal(0, sigma, clean.shape)), 0, 255).astype(np.uint8)
            level, size = round(2.75 * sigma), round(sigma / 10) + 3
            row = [psnr(noisy, clean)]
            for mask in (2, 0, 1):
                row.append(psnr(bitonic(noisy, mask, level, size if mask else max(1, round(sigma / 10)))[0], clean))
            row.append(psnr(cv2.fastNlMeansDenoising(noisy, None, h=sigma, templateWindowSize=7,
                                                     searchWindowSize=21), clean))
            row.append(max(psnr(denoise_tv_chambolle(noisy / 255.0, weight=w) * 255, clean)
                           for w in (0.04, 0.06, 0.08, 0.1, 0.14, 0.2)))
            row.append(max(psnr(cv2.bilateralFilter(noisy, 7, sc, 3), clean)
                           for sc in (sigma, 2 * sigma, 3 * sigma, 4 * sigma)))
            row.append(max(psnr(cv2.medianBlur(noisy, k), clean) for k in (3, 5)))
            print(f"| {name} | {sigma} | " + " | ".join(f"{v:.2f}" for v in row) + " |")

    warm = {}
    if BENCH:
        r = subprocess.run([BENCH, "--benchmark_filter=bitonic_local", "--benchmark_repetitions=5",
                            "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                           check=True, capture_output=True, text=True)
        for b in json.loads(r.stdout)["benchmarks"]:
            if b.get("aggregate_name") == "median":
                warm[int(b["run_name"].split("/")[1])] = b["real_time"]
    print()
    print("| size | bitonic (local mask, r 3) fresh process ms | in process ms | NLM ms | ratio fresh | ratio in process |")
    print("|---|---|---|---|---|---|")
    for side in (512, 1024, 2048):
        clean = cv2.resize(pictures["camera"], (side, side), interpolation=cv2.INTER_CUBIC)
        noisy = np.clip(np.round(clean + rng.normal(0, 20, clean.shape)), 0, 255).astype(np.uint8)
        ours = statistics.median(bitonic(noisy, 2, 60, 3)[1] for _ in range(5))
        nlm = []
        for _ in range(5):
            start = time.perf_counter()
            cv2.fastNlMeansDenoising(noisy, None, h=20, templateWindowSize=7, searchWindowSize=21)
            nlm.append((time.perf_counter() - start) * 1000)
        theirs = statistics.median(nlm)
        w = warm.get(side)
        print(f"| {side} | {ours:.0f} | " + (f"{w:.0f}" if w else "-") + f" | {theirs:.0f} | {ours / theirs:.2f} | " +
              (f"{w / theirs:.2f}" if w else "-") + " |")
        if side == 512:
            rule = statistics.median(bitonic(noisy, 2, 55, 5)[1] for _ in range(5))
            print(f"| 512, the sigma 20 rule (r 5, level 55) | {rule:.0f} | - | {theirs:.0f} | {rule / theirs:.2f} | - |")


if __name__ == "__main__":
    main()
