#!/usr/bin/python3
"""Times "Process DICOM/TIFF" over a 500-file 512 x 512 CT series against a pydicom peer.

Ours: `voxmira-batch dataset FIRST` with no filter and with the median filter of radius 3
(`--filter 3 --size 3 --mask 0`, the fixed circular mask). Peer, same work in one Python process: read
each file with pydicom, (median: scipy.ndimage.median_filter with the same radius-3 disc
footprint), give it new instance and series UIDs, write it to proc/NAME_proc.dcm. Three
runs each, interleaved; the output folder is removed before every run.

Usage: /usr/bin/python3 bench/dataset_vs_pydicom.py [build folder] [data folder]
The series is the one bench/dicom_peer_compare.py makes (made here when missing).
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dicom_peer_compare as data  # noqa: E402

RUNS = 3

PEER = r'''
import glob, os, sys
import numpy as np, pydicom
from pydicom.uid import generate_uid
from scipy.ndimage import median_filter
folder, radius = sys.argv[1], int(sys.argv[2])
out = os.path.join(folder, 'proc'); os.makedirs(out, exist_ok=True)
y, x = np.mgrid[-radius:radius + 1, -radius:radius + 1]
disc = x * x + y * y <= radius * radius + radius
series = generate_uid()
for path in sorted(glob.glob(os.path.join(folder, 'ct_*.dcm'))):
    ds = pydicom.dcmread(path)
    if radius:
        ds.PixelData = median_filter(ds.pixel_array, footprint=disc).tobytes()
    ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID = generate_uid()
    ds.SeriesInstanceUID = series
    name = os.path.splitext(os.path.basename(path))[0]
    ds.save_as(os.path.join(out, name + '_proc.dcm'))
'''


def run(cmd, series):
    shutil.rmtree(os.path.join(series, 'proc'), ignore_errors=True)
    start = time.perf_counter()
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit('%s failed:\n%s' % (cmd[0] if cmd[0] != '/usr/bin/python3' else 'peer', done.stderr))
    return elapsed


def main():
    _, series = data.make_data()
    first = os.path.join(series, 'ct_0001.dcm')
    for label, ours_args, radius in (('no filter', [], 0),
                                     ('median r = 3', ['--filter', '3', '--size', '3', '--mask', '0'], 3)):
        ours, peer = [], []
        for _ in range(RUNS):
            ours.append(run([data.BATCH, 'dataset', first] + ours_args, series))
            peer.append(run(['/usr/bin/python3', '-c', PEER, series, str(radius)], series))
        written = len(os.listdir(os.path.join(series, 'proc')))
        m_ours, m_peer = statistics.median(ours), statistics.median(peer)
        print('500 files 512x512, %s: voxmira-batch dataset median %.2f s, pydicom peer median '
              '%.2f s, ratio %.2f (%d files written by the last run)'
              % (label, m_ours, m_peer, m_ours / m_peer, written))
        print('  runs ours: ' + ' '.join('%.2f' % t for t in ours))
        print('  runs peer: ' + ' '.join('%.2f' % t for t in peer))
    shutil.rmtree(os.path.join(series, 'proc'), ignore_errors=True)


if __name__ == '__main__':
    main()
