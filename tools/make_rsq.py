#!/usr/bin/python3
"""Writes a synthetic micro-CT raw projection file ("CTDATA-HEADER_V1") of an analytic
phantom, projected through the fan geometry that Voxmira's rebinning inverts, and the
phantom itself as the truth of each shown record's slice.

Layout: a 512-byte header (magic, X at 44, Y at 48, Z at 52, sample pitch at 72, full
samples b x X at 92, full stack b x S at 96, header blocks B = 0 at 508), then Z records of
Y rows of X little-endian int16: row 0 dark, row 1 bright, rows 2 .. Y - 1 the views.

Geometry (b the binning factor, all divisions integer): F = 138/b fan views, E = 12/b
margin views, 36/b leading and 17/b trailing ignored samples, W0 used samples,
P = 2 (views - 2E - F), d = pi / (P/2), D = (W0/2) / tan(F d / 2), gmax = 0.172 F d,
u0 = trunc(W0/2 - 0.5). A detector sample u of view row w sees the parallel ray with
fan angle g solving u = D tan g + u0 (|g| <= gmax; the outer panels as the rebinning has
them), lateral offset s = D sin g and parallel view r = w - g/d - E - F/2 + 0.5 at angle
phi = r d; the ray's points (dx, dy) from the slice centre (y down) satisfy
-sin(phi) dx - cos(phi) dy = s. Intensities: I = dark + (bright - dark) exp(-A), A the
phantom's line integral (attenuation per pixel), rounded.

Usage: make_rsq.py OUT.rsq [--binning B] [--views V] [--samples W0] [--records Z]
                   [--stack S] [--pitch P] [--truth OUT_truth.bin]
The truth file holds, for each shown record in frame order, the phantom rasterised on
the P x P slice (pixel centres at integer offsets from P/2) as little-endian int16 of 100000 x the attenuation per pixel.
"""
import argparse
import math

import numpy as np


def phantom(record, stack):
    """Ellipses (x0, y0, a, b, angle, mu) in slice pixels of the P x P slice, offsets from
    the centre; a small insert moves with the record's place in its stack."""
    shift = 0.6 * ((record % stack) - stack / 2)
    return [
        (0.0, 0.0, 40.0, 30.0, 0.3, 0.004),
        (12.0, -6.0, 10.0, 14.0, -0.5, 0.006),
        (-18.0, 10.0, 7.0, 7.0, 0.0, -0.002),
        (shift, 18.0, 4.0, 4.0, 0.0, 0.01),
    ]


def line_integrals(ellipses, phi, s):
    """Line integrals over rays {p: n . p = s}, n = (-sin phi, -cos phi)."""
    nx, ny = -np.sin(phi), -np.cos(phi)
    total = np.zeros(np.broadcast(phi, s).shape)
    for x0, y0, a, b, angle, mu in ellipses:
        sp = s - (nx * x0 + ny * y0)
        ca, sa = math.cos(angle), math.sin(angle)
        nxp, nyp = nx * ca + ny * sa, -nx * sa + ny * ca
        q2 = a * a * nxp * nxp + b * b * nyp * nyp
        inside = sp * sp < q2
        length = np.where(inside, 2 * a * b * np.sqrt(np.maximum(q2 - sp * sp, 0)) / q2, 0.0)
        total = total + mu * length
    return total


def rasterise(ellipses, P):
    y, x = np.mgrid[0:P, 0:P].astype(float)
    dx, dy = x - P / 2, y - P / 2
    out = np.zeros((P, P))
    for x0, y0, a, b, angle, mu in ellipses:
        ca, sa = math.cos(angle), math.sin(angle)
        u = (dx - x0) * ca + (dy - y0) * sa
        v = -(dx - x0) * sa + (dy - y0) * ca
        out += np.where((u / a) ** 2 + (v / b) ** 2 <= 1, mu, 0.0)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('out')
    ap.add_argument('--binning', type=int, default=8)
    ap.add_argument('--views', type=int, default=83)
    ap.add_argument('--samples', type=int, default=128)
    ap.add_argument('--records', type=int, default=19)
    ap.add_argument('--stack', type=int, default=7)
    ap.add_argument('--pitch', type=int, default=100)
    ap.add_argument('--truth')
    o = ap.parse_args()
    b, V, W0, Z, S = o.binning, o.views, o.samples, o.records, o.stack
    F, E, lead, trail, N = 138 // b, 12 // b, 36 // b, 17 // b, 18 // b
    X, Y = W0 + lead + trail, V + 2
    P = 2 * (V - 2 * E - F)
    d = math.pi / (P // 2)
    D = (W0 // 2) / math.tan(F * d / 2)
    gmax = 0.172 * F * d
    u0 = math.trunc((W0 // 2) - 0.5)

    # The detector position of each fan angle, as the rebinning maps them, inverted.
    glim = math.asin(min(1.0, (P / 2) / D)) * 0.999999
    g = np.linspace(-glim, glim, 200001)
    q = D * np.sin(g) + P // 2
    u = np.where(g > gmax, (q - 5 * P / 6) / np.cos(g - 2 * gmax) + u0 + P / 3,
                 np.where(g < -gmax, (q - P / 6) / np.cos(g + 2 * gmax) + u0 - P / 3,
                          D * np.tan(g) + u0))
    order = np.argsort(u)
    columns = np.arange(W0, dtype=float)
    gamma = np.interp(columns, u[order], g[order], left=np.nan, right=np.nan)

    header = bytearray(512)
    header[0:16] = b'CTDATA-HEADER_V1'
    for offset, value in ((44, X), (48, Y), (52, Z), (72, o.pitch), (92, b * X), (96, b * S), (508, 0)):
        header[offset:offset + 4] = int(value).to_bytes(4, 'little', signed=True)
    cols = np.arange(X)
    dark = (200 + 20 * np.sin(cols / 7.0)).round()
    bright = (30000 + 300 * np.cos(cols / 11.0)).round()
    truths = []
    with open(o.out, 'wb') as f:
        f.write(header)
        for record in range(Z):
            rows = np.empty((Y, X))
            rows[0], rows[1] = dark, bright
            ellipses = phantom(record, S)
            w = np.arange(V, dtype=float)[:, None]
            s = D * np.sin(gamma)[None, :]
            r = w - gamma[None, :] / d - E - F // 2 + 0.5
            A = line_integrals(ellipses, r * d, s)
            A = np.where(np.isfinite(A), A, 0.0)
            I = dark[lead:lead + W0] + (bright[lead:lead + W0] - dark[lead:lead + W0]) * np.exp(-A)
            rows[2:] = bright
            rows[2:, lead:lead + W0] = I
            f.write(np.clip(rows.round(), -32768, 32767).astype('<i2').tobytes())
            inner = record % S
            if N <= inner < S - N and record < (Z // S) * S + max(0, Z % S) and \
                    (record < (Z // S) * S or inner < Z % S - N):
                truths.append(rasterise(ellipses, P))
    if o.truth:
        np.round(np.asarray(truths) * 1e5).astype('<i2').tofile(o.truth)
    print('%s: X %d Y %d Z %d, binning %d, P %d, D %.1f, %d shown records' % (o.out, X, Y, Z, b, P, D, len(truths)))


if __name__ == '__main__':
    main()
