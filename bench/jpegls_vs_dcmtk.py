#!/usr/bin/python3
"""Times JPEG-LS decoding against DCMTK's dcmdjpls in the same run.

Data (made here with pydicom and dcmcjpls, kept in the data folder): a 512 x 512 16-bit
signed CT slice and a 3072 x 2048 RGB image, JPEG-LS lossless. Whole processes, five runs
each, interleaved: `voxmira-batch raw FILE --out F` against `dcmdjpls FILE OUT`.
Target: ratio <= 1.0.

Usage: /usr/bin/python3 bench/jpegls_vs_dcmtk.py [build folder] [data folder]
"""
import os
import statistics
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dicom_peer_compare as base  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build')
DATA = sys.argv[2] if len(sys.argv) > 2 else os.path.join(BUILD, 'dicom_bench_data')
RUNS = 5


def make(name, rows, cols, samples, bits, signed, pixels):
    path = os.path.join(DATA, name)
    if os.path.exists(path):
        return path
    os.makedirs(DATA, exist_ok=True)
    ds = base.dataset(rows, cols, samples, bits, signed)
    ds.PixelData = pixels.tobytes()
    raw = os.path.join(DATA, 'raw_' + name)
    ds.save_as(raw, write_like_original=False)
    subprocess.run(['dcmcjpls', raw, path], check=True)
    os.remove(raw)
    return path


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    rng = np.random.default_rng(5)
    y, x = np.mgrid[0:512, 0:512]
    ct = (300 * np.sin(x / 30.0) * np.cos(y / 40.0) + rng.normal(0, 20, (512, 512))).astype('<i2')
    h, w = 2048, 3072
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([128 + 100 * np.sin(x / 90.0), 128 + 90 * np.cos(y / 70.0), x * 255.0 / w], 2)
    rgb = np.clip(rgb + rng.normal(0, 3, rgb.shape), 0, 255).astype(np.uint8)
    files = [('512x512 16-bit CT', make('ct_512_ls.dcm', 512, 512, 1, 16, True, ct)),
             ('3072x2048 RGB', make('rgb_3072x2048_ls.dcm', h, w, 3, 8, False, rgb))]
    out_raw, out_dcm = os.path.join(DATA, 'out_ls.raw'), os.path.join(DATA, 'out_ls.dcm')
    batch = os.path.join(BUILD, 'voxmira-batch')
    for label, path in files:
        ours, peer = [], []
        timed([batch, 'raw', path, '--out', out_raw])
        for _ in range(RUNS):
            ours.append(timed([batch, 'raw', path, '--out', out_raw]))
            peer.append(timed(['dcmdjpls', path, out_dcm]))
        m_ours, m_peer = statistics.median(ours), statistics.median(peer)
        print('%s JPEG-LS: voxmira-batch raw median %.3f s, dcmdjpls median %.3f s, ratio %.2f '
              '(target <= 1.0)' % (label, m_ours, m_peer, m_ours / m_peer))
    for f in (out_raw, out_dcm):
        if os.path.exists(f):
            os.remove(f)


if __name__ == '__main__':
    main()
