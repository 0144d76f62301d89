#!/usr/bin/python3
"""Before and after every metal-correction method on frame 6 of the bundled CT series, for the
help book's CT Metal page.

    /usr/bin/python3 tools/make_mar_figure.py build/voxmira-batch help/book/mar_methods.png

Runs `voxmira-batch mar --method K` with the default settings for K = 0..6 and tiles the
corrected slices (window 100 / 700 HU, so the 300 HU contrast insert is not clipped) with the
method's name above each. Needs numpy and OpenCV (python3-opencv)."""
import os
import subprocess
import sys
import tempfile

import cv2
import numpy as np

LABELS = ["No correction", "Basic LI", "NMAR", "LI + NMAR", "RMAR", "RMAR (no back)",
          "RMAR (predict back)"]


def corrected(batch, source, method, folder):
    out = os.path.join(folder, "m%d.bin" % method)
    subprocess.run([batch, "mar", source, "--method", str(method), "--out", out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return np.fromfile(out, dtype="<i4").reshape(256, 256) / 16.0


def tile(hu, label):
    hu = hu[40:216, 30:226]  # the phantom
    grey = ((hu - (100 - 350)) / 700 * 255).clip(0, 255).astype(np.uint8)
    grey = cv2.resize(grey, None, fx=1.25, fy=1.25, interpolation=cv2.INTER_AREA)
    t = np.full((grey.shape[0] + 26, grey.shape[1]), 255, np.uint8)
    t[26:] = grey
    cv2.putText(t, label, (6, 19), cv2.FONT_HERSHEY_SIMPLEX, 0.55, 0, 1, cv2.LINE_AA)
    return np.hstack([t, np.full((t.shape[0], 6), 255, np.uint8)])


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    batch, target = sys.argv[1], sys.argv[2]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    source = os.path.join(root, "data", "samples", "ct_phantom", "ct_phantom_0006.dcm")
    with tempfile.TemporaryDirectory() as folder:
        tiles = [tile(corrected(batch, source, k, folder), LABELS[k]) for k in range(7)]
    tiles.append(np.full_like(tiles[0], 255))
    rows = [np.hstack(tiles[:4]), np.hstack(tiles[4:])]
    image = np.vstack([rows[0], np.full((6, rows[0].shape[1]), 255, np.uint8), rows[1]])
    cv2.imwrite(target, image)


if __name__ == "__main__":
    main()
