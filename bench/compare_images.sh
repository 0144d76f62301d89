#!/bin/sh
# Times Voxmira's SSIM and 16-bit TIFF loading against peers in the same run and prints
# medians and ratios. Run from the repository root after "make bench":
#   bench/compare_images.sh [build-bench]
# Peers: scikit-image's structural_similarity (Gaussian weights, sigma 1.5) on the same
# 1024 x 1024 planes, and tifffile reading the same 4096 x 4096 16-bit TIFF.
set -e
BUILD=${1:-build-bench}
PY=/usr/bin/python3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

echo "== SSIM, both maps, 1024 x 1024"
ours=$("$BUILD/bench/bench_ssim" --benchmark_format=csv 2>/dev/null |
       awk -F, '/_median/ {print $3}')
peer=$($PY - <<'PY'
import time, numpy as np
from skimage.metrics import structural_similarity
# The same planes as bench_ssim.cpp builds.
y, x = np.mgrid[0:1024, 0:1024]
clean = ((x * 3 + y * 5) % 256).astype(np.uint8)
rng = np.random.default_rng(7)
noisy = np.clip(clean + rng.normal(0, 20, clean.shape), 0, 255).astype(np.uint8)
times = []
for _ in range(7):
    t = time.perf_counter()
    structural_similarity(clean, noisy, gaussian_weights=True, sigma=1.5,
                          use_sample_covariance=False, data_range=255, full=True)
    times.append(time.perf_counter() - t)
print("%.3f" % (sorted(times)[3] * 1000))
PY
)
echo "voxmira ssim (both maps): median $ours ms (real time)"
echo "scikit-image (one map):   median $peer ms"
awk -v a="$ours" -v b="$peer" 'BEGIN {printf "ratio voxmira / scikit-image = %.3f (target <= 0.25)\n", a / b}'

echo "== 4096 x 4096 16-bit TIFF"
$PY -c "
import numpy as np, tifffile
tifffile.imwrite('$WORK/big.tif', np.random.default_rng(1).integers(0, 65535, (4096, 4096)).astype(np.uint16))"
peer=$($PY - "$WORK/big.tif" <<'PY'
import sys, time, tifffile
times = []
for _ in range(7):
    t = time.perf_counter()
    tifffile.imread(sys.argv[1])
    times.append(time.perf_counter() - t)
print("%.1f" % (sorted(times)[3] * 1000))
PY
)
ours=$($PY - "$BUILD/../build/voxmira-batch" "$WORK/big.tif" <<'PY'
import subprocess, sys, time
times = []
for _ in range(7):
    t = time.perf_counter()
    subprocess.run([sys.argv[1], "raw", sys.argv[2], "--out", "/dev/null"], check=True,
                   stdout=subprocess.DEVNULL)
    times.append(time.perf_counter() - t)
print("%.1f" % (sorted(times)[3] * 1000))
PY
)
echo "voxmira-batch raw (whole process): median $ours ms"
echo "tifffile.imread:                   median $peer ms"
awk -v a="$ours" -v b="$peer" 'BEGIN {printf "ratio = %.2f (target <= 1.5)\n", a / b}'

echo "== in-process loading and a 100-file PNG sequence"
"$BUILD/bench/bench_image_files" 2>/dev/null | grep -E "_median"
