#!/usr/bin/python3
"""Makes CT slices with metal inserts, acquired with beam hardening and noise, and their truth.

The series is a random body (water ellipse with a fat rim, a bone ring, soft-tissue,
contrast and lung-like inserts) with one to three metal inserts (titanium or steel) at
random places; inserts and metal are ellipsoids, so neighbouring slices show them at the
same place, larger or smaller. The slice is described by three material maps (water-equivalent density,
bone fraction, metal fraction) and acquired polychromatically: for four energies of a
120 kV-like spectrum the line integrals of each material are taken with scikit-image's
radon transform, the detected intensity is the spectrum-weighted sum of the transmitted
fractions, Poisson noise is drawn for I0 photons per ray, and the log signal is
linearised to water at 60 keV (the usual water beam-hardening correction). Filtered
back-projection (iradon, ramp filter) gives the slice in HU at 60 keV. Metal therefore
shows the dark streaks of beam hardening and the noise of photon starvation.

Written for every slice (N = 0001 ...):
  OUT/metal/mar_N.dcm     the acquisition with metal (what a scanner gives)
  OUT/nometal/mar_N.dcm   the same acquisition and noise with the metal replaced by the
                          tissue it sits in (the floor no correction can beat)
  OUT/truth/mar_N.dcm     the ideal slice at 60 keV without metal, in HU
  OUT/truth/mar_N_metal.png  the metal mask (255 metal)
  OUT/truth.npz           truth, metal masks, both acquisitions, as arrays (float HU)

DICOM as 16-bit signed CT, rescale intercept -1024, written with pydicom. Deterministic
for a seed.

Usage: /usr/bin/python3 tools/make_mar_phantom.py OUT [--size 256] [--slices 3] [--seed 7]
       [--angles A] [--photons I0] [--pixel MM]
"""
import argparse
import os
import sys

import numpy as np
from skimage.io import imsave
from skimage.transform import iradon, radon

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_ct_phantom import ellipse, write_slice  # noqa: E402
from pydicom.uid import generate_uid  # noqa: E402

# Linear attenuation per mm at 50, 60, 80 and 100 keV (NIST mass attenuation times density).
ENERGIES = np.array([50.0, 60.0, 80.0, 100.0])
WEIGHTS = np.array([0.20, 0.35, 0.30, 0.15])
MU_WATER = np.array([0.02269, 0.02059, 0.01837, 0.01707])
MU_BONE = np.array([0.0814, 0.0604, 0.0428, 0.0356])      # cortical bone, 1.92 g/cc
MU_METAL = {
    'titanium': np.array([0.546, 0.345, 0.182, 0.122]),   # 4.5 g/cc
    'steel': np.array([1.54, 0.95, 0.47, 0.29]),          # 7.9 g/cc, mostly iron
}
REF = 1   # 60 keV: the energy of the truth and of the water linearisation


def describe(size, slices, rng):
    """The body of a series: its outline, inserts and metal, each with its extent along z."""
    u = size / 256.0
    body = dict(sx=rng.uniform(0.8, 1.0) * 85 * u, sy=rng.uniform(0.85, 1.0) * 100 * u,
                tilt=rng.uniform(-0.2, 0.2), bone=rng.uniform(0.35, 0.6))
    inserts = []
    for _ in range(rng.integers(2, 5)):
        inserts.append(dict(fy=rng.uniform(-0.45, 0.45), fx=rng.uniform(-0.45, 0.45), ry=rng.uniform(5, 15) * u,
                            rx=rng.uniform(5, 15) * u, kind=int(rng.integers(0, 3)), angle=rng.uniform(0, np.pi),
                            zc=rng.uniform(0, slices - 1), hz=rng.uniform(0.6, 1.0) * slices))
    metals = []
    for _ in range(rng.integers(1, 4)):
        metals.append(dict(kind=list(MU_METAL)[rng.integers(0, 2)], r=rng.uniform(0.2, 0.55),
                           a=rng.uniform(0, 2 * np.pi), ry=rng.uniform(2.5, 6.5) * u, rx=rng.uniform(2.5, 6.5) * u,
                           angle=rng.uniform(0, np.pi), zc=rng.uniform(0, slices - 1),
                           hz=rng.uniform(0.5, 0.9) * slices + 1))
    return body, inserts, metals


def materials(size, description, z):
    """Water-equivalent density, bone fraction and metal maps (by kind) of slice z."""
    body, inserts, metal_list = description
    y, x = np.mgrid[0:size, 0:size].astype(np.float64)
    c = size / 2
    u = size / 256.0
    sx, sy, tilt = body['sx'], body['sy'], body['tilt']
    water = np.zeros((size, size))
    bone = np.zeros((size, size))
    water[ellipse(y, x, c, c, sy, sx, tilt)] = 0.91                     # fat rim, -90 HU
    water[ellipse(y, x, c, c, sy - 6 * u, sx - 6 * u, tilt)] = 1.0      # water
    ring = ellipse(y, x, c, c, sy - 20 * u, sx - 19 * u, tilt) & ~ellipse(y, x, c, c, sy - 28 * u, sx - 27 * u, tilt)
    bone[ring] = body['bone']
    # Inserts and metal are ellipsoids: their cross-section shrinks away from their centre.
    def section(shape):
        f = 1 - ((z - shape['zc']) / shape['hz']) ** 2
        return np.sqrt(f) if f > 0.05 else 0.0
    for i in inserts:
        k = section(i)
        if not k:
            continue
        inside = ellipse(y, x, c + i['fy'] * sy, c + i['fx'] * sx, i['ry'] * k, i['rx'] * k, i['angle'])
        if i['kind'] == 0:
            water[inside] = 1.045                                      # soft tissue
        elif i['kind'] == 1:
            water[inside] = 1.0
            bone[inside] = 0.12                                        # contrast, ~ +300 HU
        else:
            water[inside] = 0.6                                        # lung-like
    metals = {k: np.zeros((size, size)) for k in MU_METAL}
    for m in metal_list:
        k = section(m)
        if not k:
            continue
        r = m['r'] * sx
        cy, cx = c + r * np.sin(m['a']), c + r * np.cos(m['a'])
        metals[m['kind']][ellipse(y, x, cy, cx, m['ry'] * k, m['rx'] * k, m['angle'])] = 1.0
    return water, bone, metals


def hu_at_ref(water, bone, metals):
    mu = water * MU_WATER[REF] + bone * MU_BONE[REF]
    for kind, m in metals.items():
        mu = mu * (1 - m) + m * MU_METAL[kind][REF]
    return (mu / MU_WATER[REF] - 1.0) * 1000.0


def acquire(water, bone, metals, theta, pixel, photons, rng):
    """The reconstructed slice in HU at 60 keV of one noisy polychromatic acquisition."""
    size = water.shape[0]
    present = {k: m for k, m in metals.items() if m.any()}
    # Metal displaces tissue: the tissue maps are cleared under it.
    free = np.ones_like(water)
    for m in present.values():
        free *= 1 - m
    lw = radon(water * free * pixel, theta=theta, circle=True)
    lb = radon(bone * free * pixel, theta=theta, circle=True)
    lm = {k: radon(m * pixel, theta=theta, circle=True) for k, m in present.items()}
    intensity = np.zeros_like(lw)
    for e in range(len(ENERGIES)):
        path = lw * MU_WATER[e] + lb * MU_BONE[e]
        for k, l in lm.items():
            path = path + l * MU_METAL[k][e]
        intensity += WEIGHTS[e] * np.exp(-path)
    counts = rng.poisson(photons * intensity).astype(np.float64)
    signal = -np.log(np.maximum(counts, 0.5) / photons)
    # Water linearisation: the water path that gives this signal, times mu_water(60 keV).
    lengths = np.linspace(0, 2 * size * pixel, 4096)
    water_signal = -np.log((WEIGHTS[:, None] * np.exp(-MU_WATER[:, None] * lengths[None, :])).sum(0))
    linear = np.interp(signal, water_signal, lengths) * MU_WATER[REF]
    image = iradon(linear, theta=theta, filter_name='ramp', circle=True, output_size=size) / pixel
    out = (image / MU_WATER[REF] - 1.0) * 1000.0
    yy, xx = np.mgrid[0:size, 0:size]
    out[~ellipse(yy, xx, size / 2, size / 2, size / 2 - 2, size / 2 - 2)] = -1000.0
    return out


def to_stored(hu):
    return np.clip(np.rint(hu), -1024, 31743).astype(np.int32)


def write_series(out, slices, size, pixel, theta, photons, rng, slice_materials):
    """Acquires and writes every slice of a series; slice_materials(z) gives the maps."""
    for sub in ('metal', 'nometal', 'truth'):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
    uids = {sub: (generate_uid(), generate_uid()) for sub in ('metal', 'nometal', 'truth')}
    study = generate_uid()
    arrays = {'truth': [], 'metal_mask': [], 'metal': [], 'nometal': []}
    for z in range(slices):
        water, bone, metals = slice_materials(z)
        mask = sum(metals.values()) > 0
        truth = hu_at_ref(water, bone, {k: np.zeros_like(m) for k, m in metals.items()})
        noise_seed = rng.integers(0, 2**31)
        with_metal = acquire(water, bone, metals, theta, pixel, photons, np.random.default_rng(noise_seed))
        without = acquire(water, bone, {k: np.zeros_like(m) for k, m in metals.items()}, theta, pixel,
                          photons, np.random.default_rng(noise_seed))
        name = 'mar_%04d' % (z + 1)
        for sub, hu, what in (('metal', with_metal, 'with metal'), ('nometal', without, 'metal replaced by tissue'),
                              ('truth', truth, 'truth without metal')):
            series, frame_of_reference = uids[sub]
            write_slice(os.path.join(out, sub, name + '.dcm'), z + 1, to_stored(hu), study, series,
                        frame_of_reference, pixel=pixel, description='MAR phantom, ' + what)
        imsave(os.path.join(out, 'truth', name + '_metal.png'), (mask * 255).astype(np.uint8),
               check_contrast=False)
        arrays['truth'].append(truth)
        arrays['metal_mask'].append(mask)
        arrays['metal'].append(with_metal)
        arrays['nometal'].append(without)
    np.savez_compressed(os.path.join(out, 'truth.npz'), pixel=pixel, theta=theta,
                        **{k: np.array(v) for k, v in arrays.items()})


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('out')
    ap.add_argument('--size', type=int, default=256)
    ap.add_argument('--slices', type=int, default=3)
    ap.add_argument('--seed', type=int, default=7)
    ap.add_argument('--angles', type=int, default=0, help='projection angles (default 1.5 x size)')
    ap.add_argument('--photons', type=float, default=1.0e6)
    ap.add_argument('--pixel', type=float, default=0.0, help='pixel size in mm (default 230 mm / size)')
    a = ap.parse_args()
    rng = np.random.default_rng(a.seed)
    pixel = a.pixel or 230.0 / a.size
    theta = np.linspace(0.0, 180.0, a.angles or int(1.5 * a.size), endpoint=False)
    description = describe(a.size, a.slices, rng)
    write_series(a.out, a.slices, a.size, pixel, theta, a.photons, rng,
                 lambda z: materials(a.size, description, z))


if __name__ == '__main__':
    main()
