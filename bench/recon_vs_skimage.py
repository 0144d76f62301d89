#!/usr/bin/python3
"""Times the micro-CT reconstruction against scikit-image's iradon in the same run.

Data: a synthetic raw file (tools/make_rsq.py, binning 2, 512 used samples, 337 views: a
512 x 512 parallel sinogram over half a turn, 256 angles; one stack of 40 records, 22 shown), and for the peer a 512-sample
sinogram of 256 angles over 180 degrees.

1. Whole processes, five runs each, interleaved: `voxmira-batch raw FILE --out F` (load,
   convert, rebin, ramp-filter and back-project one planar slice) against
   `python3 -c "iradon(...)"` (import, ramp filter, linear interpolation, 512 x 512 output).
2. The reconstruction alone: bench_recon (Google Benchmark, when built with `make bench`)
   against iradon timed inside one Python process, medians of five runs.
Target: ours at most a quarter of the peer.

Usage: /usr/bin/python3 bench/recon_vs_skimage.py [build folder] [bench build folder]
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from skimage.transform import iradon

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build')
BENCH = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, 'build-bench')
RUNS = 5
PEER = ('import numpy as np, sys; from skimage.transform import iradon; '
        's = np.load(sys.argv[1]); iradon(s, theta=np.arange(256) * 180.0 / 256, '
        'filter_name="ramp", interpolation="linear", output_size=512)')


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    work = tempfile.mkdtemp()
    raw = os.path.join(work, 'slice512.rsq')
    subprocess.run(['/usr/bin/python3', os.path.join(ROOT, 'tools', 'make_rsq.py'), raw, '--binning', '2',
                    '--views', '337', '--samples', '512', '--records', '40', '--stack', '40'],
                   check=True, stdout=subprocess.DEVNULL)
    sino = os.path.join(work, 'sino.npy')
    rng = np.random.default_rng(3)
    np.save(sino, rng.random((512, 256)))
    out = os.path.join(work, 'out.bin')
    batch = os.path.join(BUILD, 'voxmira-batch')
    ours, peer = [], []
    for _ in range(RUNS):
        ours.append(timed([batch, 'raw', raw, '--out', out]))
        peer.append(timed(['/usr/bin/python3', '-c', PEER, sino]))
    m_ours, m_peer = statistics.median(ours), statistics.median(peer)
    print('whole process, one 512x512 planar slice: voxmira-batch raw median %.3f s, python3 iradon '
          'median %.3f s, ratio %.2f' % (m_ours, m_peer, m_ours / m_peer))

    s = np.load(sino)
    inside = []
    for _ in range(RUNS):
        start = time.perf_counter()
        iradon(s, theta=np.arange(256) * 180.0 / 256, filter_name='ramp', interpolation='linear',
               output_size=512)
        inside.append(time.perf_counter() - start)
    m_inside = statistics.median(inside)
    program = os.path.join(BENCH, 'bench', 'bench_recon')
    if os.path.exists(program):
        result = subprocess.run([program, '--benchmark_format=json', '--benchmark_repetitions=5',
                                 '--benchmark_report_aggregates_only=true'],
                                check=True, capture_output=True, text=True,
                                env=dict(os.environ, VOXMIRA_RSQ_BENCH_FILE=raw))
        for b in json.loads(result.stdout)['benchmarks']:
            if b.get('aggregate_name') == 'median':
                seconds = b['real_time'] / {'ns': 1e9, 'us': 1e6, 'ms': 1e3, 's': 1}[b['time_unit']]
                print('%s median %.4f s' % (b['run_name'], seconds) +
                      (', ratio to iradon %.2f (target <= 0.25)' % (seconds / m_inside)
                       if 'Planar' in b['run_name'] else ''))
    else:
        print('(bench_recon not built: make bench)')
    print('skimage iradon in-process median %.3f s' % m_inside)


if __name__ == '__main__':
    main()
