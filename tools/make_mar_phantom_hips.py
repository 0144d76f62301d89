#!/usr/bin/python3
"""Makes a second kind of MAR series: a wide pelvis-like body with two metal implants of
unequal size, acquired as tools/make_mar_phantom.py acquires (four-energy beam hardening,
Poisson noise, water linearisation, filtered back-projection), written in the same layout.

Unlike that generator's random head-sized bodies, this one is fixed: a wide ellipse with a
thick fat rim, two femoral heads of dense bone, a large titanium stem in the right head and a
small steel screw near the skin at the upper left, contrast inserts of about +150 and +550 HU,
a bowel gas pocket and a fat insert. The screw ends after the first slices (so the
neighbouring-frame rule matters there) and the stem narrows along z. A seed moves the
implants by a few pixels and draws the noise.

Usage: /usr/bin/python3 tools/make_mar_phantom_hips.py OUT [--size 256] [--slices 3] [--seed 5]
       [--photons I0] [--angles A]
"""
import argparse

import numpy as np

from make_mar_phantom import MU_METAL, write_series
from make_ct_phantom import ellipse


def hips(size, slices, jitter):
    u = size / 256.0
    c = size / 2

    def slice_materials(z):
        y, x = np.mgrid[0:size, 0:size].astype(np.float64)
        t = z / max(slices - 1, 1)
        water = np.zeros((size, size))
        bone = np.zeros((size, size))
        water[ellipse(y, x, c, c, 78 * u, 118 * u)] = 0.91                    # fat, -90 HU
        water[ellipse(y, x, c + 4 * u, c, 66 * u, 104 * u)] = 1.0             # water
        for side in (-1, 1):                                                 # femoral heads
            bone[ellipse(y, x, c + 10 * u, c + side * 62 * u, 20 * u, 18 * u)] = 0.9
            bone[ellipse(y, x, c + 10 * u, c + side * 62 * u, 14 * u, 12 * u)] = 0.35
        bone[ellipse(y, x, c - 28 * u, c - 20 * u, 9 * u, 9 * u)] = 0.06    # contrast, ~ +150 HU
        bone[ellipse(y, x, c + 30 * u, c + 14 * u, 6 * u, 7 * u)] = 0.22    # contrast, ~ +550 HU
        water[ellipse(y, x, c - 8 * u, c + 18 * u, 8 * u, 12 * u, 0.4)] = 0.05  # bowel gas
        water[ellipse(y, x, c + 36 * u, c - 30 * u, 7 * u, 10 * u)] = 0.9   # fat insert
        metals = {k: np.zeros((size, size)) for k in MU_METAL}
        # The stem narrows along the series; the screw ends after the first slices.
        stem = ellipse(y, x, c + 10 * u + jitter[0], c + 62 * u + jitter[1], (10 - 3 * t) * u, (7 - 2 * t) * u, 0.3)
        metals['titanium'][stem] = 1.0
        if z < max(1, slices - 1):
            screw = ellipse(y, x, c - 52 * u + jitter[2], c - 74 * u + jitter[3], 2.2 * u, 3.2 * u, 1.1)
            metals['steel'][screw] = 1.0
        return water, bone, metals

    return slice_materials


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('out')
    ap.add_argument('--size', type=int, default=256)
    ap.add_argument('--slices', type=int, default=3)
    ap.add_argument('--seed', type=int, default=5)
    ap.add_argument('--angles', type=int, default=0, help='projection angles (default 1.5 x size)')
    ap.add_argument('--photons', type=float, default=2.0e6)
    a = ap.parse_args()
    rng = np.random.default_rng(a.seed)
    jitter = rng.uniform(-3, 3, 4) * a.size / 256.0
    theta = np.linspace(0.0, 180.0, a.angles or int(1.5 * a.size), endpoint=False)
    write_series(a.out, a.slices, a.size, 300.0 / a.size, theta, a.photons, rng, hips(a.size, a.slices, jitter))


if __name__ == '__main__':
    main()
