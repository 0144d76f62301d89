#!/usr/bin/python3
"""The blind noise estimate of voxmira-batch noise beside scikit-image's estimate_sigma.

Gaussian noise of sigma 5, 10, 20 (seeded, rounded, clipped to 0..255) is added to two
natural 8-bit pictures (camera, astronaut in grey; CC0); both estimators see the same
files. The time of voxmira-batch noise on the 512 x 512 file includes loading.

Usage: /usr/bin/python3 bench/noise_vs_skimage.py [build/voxmira-batch]
"""
import statistics
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
from skimage import color, data
from skimage.restoration import estimate_sigma

BATCH = sys.argv[1] if len(sys.argv) > 1 else "build/voxmira-batch"
TMP = tempfile.mkdtemp()


def ours(path):
    out = subprocess.run([BATCH, "noise", path], check=True, capture_output=True, text=True).stdout
    return float(out.strip().splitlines()[-1])


def main():
    pictures = {"camera": data.camera().astype(np.float64),
                "astronaut": np.round(color.rgb2gray(data.astronaut()) * 255)}
    rng = np.random.default_rng(11)
    print("| picture | sigma | Voxmira | error | skimage estimate_sigma | error |")
    print("|---|---|---|---|---|---|")
    for name, clean in pictures.items():
        for sigma in (5, 10, 20):
            noisy = np.clip(np.round(clean + rng.normal(0, sigma, clean.shape)), 0, 255).astype(np.uint8)
            path = f"{TMP}/{name}_{sigma}.png"
            cv2.imwrite(path, noisy)
            a, b = ours(path), estimate_sigma(noisy.astype(np.float64))
            print(f"| {name} | {sigma} | {a:.2f} | {100 * (a - sigma) / sigma:+.1f} % | {b:.2f} | "
                  f"{100 * (b - sigma) / sigma:+.1f} % |")
    times = []
    for _ in range(5):
        start = time.perf_counter()
        ours(f"{TMP}/camera_10.png")
        times.append((time.perf_counter() - start) * 1000)
    print(f"\nvoxmira-batch noise, 512 x 512, load included: median {statistics.median(times):.0f} ms")


if __name__ == "__main__":
    main()
