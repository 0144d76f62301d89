#!/usr/bin/python3
"""Times JPEG-LS and extended (process 2/4) JPEG decoding against DCMTK in the same run.

Data (made here with pydicom, dcmcjpls and dcmcjpeg, kept in the data folder): a 512 x 512
CT slice (16-bit signed for JPEG-LS lossless; 12 bits stored for the 12-bit extended
process) and a 3072 x 2048 RGB image (JPEG-LS lossless; extended process, which is 8-bit for
8-bit samples). Whole processes, five runs each, interleaved: `voxmira-batch raw FILE --out F` (which
writes every sample as int32, four times DCMTK's output for 8-bit colour) and `info FILE`
(decodes, writes nothing)
against `dcmdjpls` / `dcmdjpeg FILE OUT`, with `gdcmconv --raw` beside them. The start-up of
each program alone (`voxmira-batch` without arguments, `dcmdjpls --version`) is timed too:
the desktop toolkit the batch tool links costs it most of a small file's time.
Target: ratio to DCMTK <= 1.0.

Usage: /usr/bin/python3 bench/decode_vs_dcmtk.py [build folder] [data folder]
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


def make(name, rows, cols, samples, bits, signed, pixels, encoder, stored=None):
    path = os.path.join(DATA, name)
    if os.path.exists(path):
        return path
    os.makedirs(DATA, exist_ok=True)
    ds = base.dataset(rows, cols, samples, bits, signed)
    if stored:
        ds.BitsStored, ds.HighBit = stored, stored - 1
    ds.PixelData = pixels.tobytes()
    raw = os.path.join(DATA, 'raw_' + name)
    ds.save_as(raw, write_like_original=False)
    subprocess.run(encoder + [raw, path], check=True, stdout=subprocess.DEVNULL)
    os.remove(raw)
    return path


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    rng = np.random.default_rng(5)
    y, x = np.mgrid[0:512, 0:512]
    wave = 300 * np.sin(x / 30.0) * np.cos(y / 40.0) + rng.normal(0, 20, (512, 512))
    ct = wave.astype('<i2')
    ct12 = (wave + 1500).clip(0, 4095).astype('<u2')
    h, w = 2048, 3072
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([128 + 100 * np.sin(x / 90.0), 128 + 90 * np.cos(y / 70.0), x * 255.0 / w], 2)
    rgb = np.clip(rgb + rng.normal(0, 3, rgb.shape), 0, 255).astype(np.uint8)
    files = [
        ('512x512 16-bit CT JPEG-LS', 'dcmdjpls',
         make('ct_512_ls.dcm', 512, 512, 1, 16, True, ct, ['dcmcjpls'])),
        ('3072x2048 RGB JPEG-LS', 'dcmdjpls',
         make('rgb_3072x2048_ls.dcm', h, w, 3, 8, False, rgb, ['dcmcjpls'])),
        ('512x512 12-bit CT extended JPEG', 'dcmdjpeg',
         make('ct_512_jpeg12.dcm', 512, 512, 1, 16, False, ct12, ['dcmcjpeg', '+ee'], stored=12)),
        ('3072x2048 RGB extended JPEG', 'dcmdjpeg',
         make('rgb_3072x2048_jpeg_ext.dcm', h, w, 3, 8, False, rgb, ['dcmcjpeg', '+ee'])),
    ]
    out_raw, out_dcm = os.path.join(DATA, 'out.raw'), os.path.join(DATA, 'out.dcm')
    batch = os.path.join(BUILD, 'voxmira-batch')
    ours0, peer0 = [], []
    for _ in range(15):
        ours0.append(timed_quiet([batch]))
        peer0.append(timed(['dcmdjpls', '--version']))
    print('start-up alone: voxmira-batch median %.4f s, dcmdjpls median %.4f s'
          % (statistics.median(ours0), statistics.median(peer0)))
    for label, peer, path in files:
        ours, info, theirs, gdcm = [], [], [], []
        timed([batch, 'raw', path, '--out', out_raw])
        for _ in range(RUNS):
            ours.append(timed([batch, 'raw', path, '--out', out_raw]))
            info.append(timed([batch, 'info', path]))
            theirs.append(timed([peer, path, out_dcm]))
            gdcm.append(timed(['gdcmconv', '--raw', path, out_dcm]))
        m_ours, m_info, m_peer, m_gdcm = (statistics.median(v) for v in (ours, info, theirs, gdcm))
        print('%s: voxmira-batch raw median %.3f s (info, no output: %.3f s), %s %.3f s, '
              'gdcmconv --raw %.3f s, ratio to DCMTK %.2f (info %.2f; target <= 1.0)'
              % (label, m_ours, m_info, peer, m_peer, m_gdcm, m_ours / m_peer, m_info / m_peer))
    for f in (out_raw, out_dcm):
        if os.path.exists(f):
            os.remove(f)


def timed_quiet(cmd):
    """A command whose exit status is not 0 by design (the batch tool's usage text)."""
    start = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


if __name__ == '__main__':
    main()
