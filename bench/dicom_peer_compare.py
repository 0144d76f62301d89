#!/usr/bin/python3
"""Times Voxmira's DICOM reading against DCMTK in the same run, and prints medians and ratios.

1. A 3072 x 2048 RGB lossless JPEG DICOM file (made with pydicom and DCMTK's dcmcjpeg, SV1):
   the whole process `voxmira-batch raw FILE --out F` against `dcmdjpeg FILE OUT`, five
   runs each, interleaved. Target: ratio <= 1.0.
2. A numbered series of 500 files of 512 x 512 16-bit CT: `voxmira-batch info` on the
   first file (discovery of the series plus the first frame), five runs. Target: < 0.5 s.

Usage: /usr/bin/python3 bench/dicom_peer_compare.py [build folder] [data folder]
The data folder (default: <build folder>/dicom_bench_data) is made once and reused; the
Google Benchmark program dicom_bench reads the same data when VOXMIRA_DICOM_BENCH_DATA
names it.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build')
DATA = sys.argv[2] if len(sys.argv) > 2 else os.path.join(BUILD, 'dicom_bench_data')
BATCH = os.path.join(BUILD, 'voxmira-batch')
RUNS = 5


def dataset(rows, cols, samples, bits, signed):
    ds = Dataset()
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = 'RGB' if samples == 3 else 'MONOCHROME2'
    if samples == 3:
        ds.PlanarConfiguration = 0
    ds.Rows, ds.Columns = rows, cols
    ds.BitsAllocated = ds.BitsStored = bits
    ds.HighBit = bits - 1
    ds.PixelRepresentation = 1 if signed else 0
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    return ds


def make_data():
    rgb = os.path.join(DATA, 'rgb_3072x2048_ll.dcm')
    series = os.path.join(DATA, 'series')
    if os.path.exists(rgb) and os.path.exists(os.path.join(series, 'ct_0500.dcm')):
        return rgb, series
    os.makedirs(DATA, exist_ok=True)
    rng = np.random.default_rng(7)
    h, w = 2048, 3072
    y, x = np.mgrid[0:h, 0:w]
    img = np.stack([128 + 100 * np.sin(x / 90.0) * np.cos(y / 70.0),
                    128 + 90 * np.cos(x / 50.0 + y / 130.0), x * 255.0 / w], axis=2)
    img = np.clip(img + rng.normal(0, 3, img.shape), 0, 255).astype(np.uint8)
    ds = dataset(h, w, 3, 8, False)
    ds.PixelData = img.tobytes()
    raw = os.path.join(DATA, 'rgb_raw.dcm')
    ds.save_as(raw, write_like_original=False)
    subprocess.run(['dcmcjpeg', '+e1', raw, rgb], check=True)
    os.remove(raw)

    os.makedirs(series, exist_ok=True)
    y, x = np.mgrid[0:512, 0:512]
    for n in range(1, 501):
        ds = dataset(512, 512, 1, 16, True)
        ds.RescaleIntercept = -1024
        ds.RescaleSlope = 1
        ds.WindowCenter = 40
        ds.WindowWidth = 400
        slice_ = (1024 + 500 * np.sin(x / 40.0 + n / 30.0) * np.cos(y / 50.0)).astype('<i2')
        ds.PixelData = slice_.tobytes()
        ds.save_as(os.path.join(series, 'ct_%04d.dcm' % n), write_like_original=False)
    return rgb, series


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    rgb, series = make_data()
    out_raw = os.path.join(DATA, 'out.raw')
    out_dcm = os.path.join(DATA, 'out.dcm')
    ours, peer = [], []
    timed([BATCH, 'raw', rgb, '--out', out_raw])  # warm the page cache
    for _ in range(RUNS):
        ours.append(timed([BATCH, 'raw', rgb, '--out', out_raw]))
        peer.append(timed(['dcmdjpeg', rgb, out_dcm]))
    m_ours, m_peer = statistics.median(ours), statistics.median(peer)
    print('3072x2048 RGB lossless JPEG: voxmira-batch raw median %.3f s, dcmdjpeg median %.3f s, '
          'ratio %.2f (target <= 1.0)' % (m_ours, m_peer, m_ours / m_peer))
    print('  runs ours: ' + ' '.join('%.3f' % t for t in ours))
    print('  runs peer: ' + ' '.join('%.3f' % t for t in peer))

    first = os.path.join(series, 'ct_0001.dcm')
    opens = [timed([BATCH, 'info', first]) for _ in range(RUNS)]
    print('500-file 512x512 series, voxmira-batch info on the first file: median %.3f s '
          '(target < 0.5 s)' % statistics.median(opens))
    print('  runs: ' + ' '.join('%.3f' % t for t in opens))
    for f in (out_raw, out_dcm):
        if os.path.exists(f):
            os.remove(f)


if __name__ == '__main__':
    main()
