#!/usr/bin/python3
"""Files per second through voxmira.dask.process_files with 1 and 2 worker processes, the
time per 512 x 512 slice of the bitonic filter and of RMAR, and from them the arithmetic
for a million slices on a hundred workers.

Usage (from the repository root, after building the Python module):
  PYTHONPATH=build/python /usr/bin/python3 bench/dask_scaling.py [--batch build/voxmira-batch]
      [--series 4] [--slices 8] [--rounds 3] [--readme bench/README.md]

The data: `--series` numbered DICOM series of `--slices` slices of 512 x 512, the bundled
ct_phantom slices scaled up 2 x 2 (the middle slices hold metal), made in a temporary
folder. Each round times, interleaved: the batch tool's `dataset` verb over every series one
after the other (the serial reference), then process_files on a LocalCluster of 1 and of 2
worker processes (one thread each; the cluster is started before the clock). Per slice: the
batch tool's `process --filter 12` (its own filtering time, printed on stderr, and the whole
process) and `mar --method 4` (RMAR, whole process) on one metal slice. Medians are printed;
--readme replaces the measured block in bench/README.md (between the dask-scaling marks).
"""
import argparse
import glob
import json
import logging
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import pydicom

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from make_ct_phantom import write_slice  # noqa: E402

BITONIC = dict(filter="bitonic", size=3)
BITONIC_ARGS = ["--filter", "12", "--size", "3"]


def make_data(folder, series, slices):
    """`series` folders of `slices` 512 x 512 DICOM slices; returns the first file of each."""
    from pydicom.uid import generate_uid

    sources = sorted(glob.glob(os.path.join(ROOT, "data", "samples", "ct_phantom", "*.dcm")))
    hu = [np.kron(pydicom.dcmread(p).pixel_array.astype(np.int32) - 1024, np.ones((2, 2), np.int32))
          for p in sources]
    firsts = []
    for s in range(series):
        d = os.path.join(folder, "series%02d" % s)
        os.makedirs(d)
        study, uid, frame = generate_uid(), generate_uid(), generate_uid()
        for n in range(1, slices + 1):
            write_slice(os.path.join(d, "slice_%04d.dcm" % n), n, hu[(n - 1) % len(hu)], study, uid, frame,
                        pixel=0.45)
        firsts.append(os.path.join(d, "slice_0001.dcm"))
    return firsts


def _nothing(i):
    return i


def timed(fn):
    t = time.perf_counter()
    fn()
    return time.perf_counter() - t


def run(cmd):
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), r.stderr.strip()))
    return r


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--batch", default=os.path.join(ROOT, "build", "voxmira-batch"))
    ap.add_argument("--series", type=int, default=4)
    ap.add_argument("--slices", type=int, default=8, help="at least 6 (slice 6 holds metal)")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--slice-runs", type=int, default=5)
    ap.add_argument("--tasks", type=int, default=1000, help="empty tasks timed for the scheduler's cost")
    ap.add_argument("--readme", help="bench/README.md to update with the results")
    ap.add_argument("--note", default="", help="said with the results (the machine's load, say)")
    a = ap.parse_args()

    import voxmira
    import voxmira.dask as vd
    from dask.distributed import Client, LocalCluster

    load = [os.getloadavg()[0]]
    tmp = tempfile.mkdtemp(prefix="voxmira_dask_bench_")
    try:
        firsts = make_data(os.path.join(tmp, "data"), a.series, a.slices)
        total = a.series * a.slices
        metal = os.path.join(os.path.dirname(firsts[0]), "slice_0006.dcm")

        clusters = {n: Client(LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                                           dashboard_address=":0", silence_logs=logging.ERROR))
                    for n in (1, 2)}
        times = {"batch": [], 1: [], 2: []}
        for r in range(a.rounds):
            times["batch"].append(timed(lambda: [run([a.batch, "dataset", f] + BITONIC_ARGS) for f in firsts]))
            for d in glob.glob(os.path.join(tmp, "data", "*", "proc")):
                shutil.rmtree(d)
            for n, client in clusters.items():
                out = os.path.join(tmp, "out%d_%d" % (n, r))
                summary = {}
                times[n].append(timed(lambda: summary.update(
                    vd.process_files(firsts, out, client=client, progress=False, **BITONIC))))
                if summary["failed"] or len(summary["written"]) != total:
                    raise RuntimeError("process_files with %d workers: %s" % (n, summary))
        # The scheduler's cost per task: many tasks that do nothing, on the 2-worker cluster.
        client = clusters[2]
        client.gather(client.map(_nothing, range(50), pure=False))
        per_task = statistics.median(
            timed(lambda: client.gather(client.map(_nothing, range(a.tasks), pure=False))) / a.tasks
            for _ in range(3))
        for c in clusters.values():
            cluster = c.cluster
            c.close()
            cluster.close()

        bit_filter, bit_whole, rmar = [], [], []
        for _ in range(a.slice_runs):
            t = time.perf_counter()
            r = run([a.batch, "process", metal, "--out", os.path.join(tmp, "b.bin")] + BITONIC_ARGS)
            bit_whole.append(time.perf_counter() - t)
            bit_filter.append(json.loads(r.stdout.splitlines()[0])["process_time"] / 1000)
            rmar.append(timed(lambda: run([a.batch, "mar", metal, "--out", os.path.join(tmp, "m.bin"),
                                           "--method", "4"])))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    load.append(os.getloadavg()[0])
    a.note = "; ".join(t for t in [a.note, "load average %.1f at the start, %.1f at the end, %d cores" % (
        load[0], load[1], os.cpu_count())] if t)
    med = {k: statistics.median(v) for k, v in times.items()}
    rate = {k: total / v for k, v in med.items()}
    lines = report(a, total, med, rate, bit_filter, bit_whole, rmar, per_task, voxmira.__version__)
    print("\n".join(lines))
    if a.readme:
        update_readme(a.readme, lines)


def report(a, total, med, rate, bit_filter, bit_whole, rmar, per_task, version):
    m = statistics.median
    per_worker = rate[2] / 2  # slices per second per worker (per core) with every core busy
    million = 1e6 / (per_worker * 100)
    rmar_million = 1e6 * m(rmar) / 100
    mb = 2 * 512 * 512 * 2 / 1e6  # one slice read and one written, 16-bit
    return [
        "Measured %s with voxmira %s, %d series of %d slices (512 x 512 DICOM, %d slices), "
        "bitonic filter size 3, medians of %d interleaved rounds%s:" % (
            time.strftime("%d %B %Y"), version, a.series, a.slices, total, a.rounds,
            " (" + a.note + ")" if a.note else ""),
        "",
        "| run | s | slices/s | vs batch tool |",
        "|---|---|---|---|",
        "| `voxmira-batch dataset`, one series after the other | %.2f | %.2f | 1.00 |" % (med["batch"], rate["batch"]),
        "| process_files, 1 worker process | %.2f | %.2f | %.2f |" % (med[1], rate[1], rate[1] / rate["batch"]),
        "| process_files, 2 worker processes | %.2f | %.2f | %.2f |" % (med[2], rate[2], rate[2] / rate["batch"]),
        "",
        "From one worker to two: %.2f x. Per 512 x 512 slice (one metal slice, medians of %d): "
        "bitonic filtering %.0f ms, the whole `voxmira-batch process` %.0f ms; RMAR "
        "(`voxmira-batch mar --method 4`, whole process) %.0f ms. The scheduler's cost per task "
        "(%d empty tasks): %.2f ms." % (
            rate[2] / rate[1], len(rmar), m(bit_filter) * 1000, m(bit_whole) * 1000, m(rmar) * 1000,
            a.tasks, per_task * 1000),
        "",
        "A million slices on 100 workers (one per core) at the 2-worker rate per worker, %.2f "
        "slices/s: 1e6 / (100 x %.2f) = %.0f s (%.1f h) with the bitonic filter, reading and "
        "writing %.0f MB/s in all (%.2f MB a slice); with RMAR at %.1f s a slice, 1e6 x %.1f / 100 "
        "= %.0f s (%.1f h), %.0f MB/s. In series of 500 slices that is 2,000 tasks, %.1f s of "
        "scheduler time; one task per slice would cost %.0f s of it, on the scheduler's one "
        "thread." % (
            per_worker, per_worker, million, million / 3600, 100 * per_worker * mb, mb, m(rmar), m(rmar),
            rmar_million, rmar_million / 3600, 100 / m(rmar) * mb, 2000 * per_task, 1e6 * per_task),
    ]


BEGIN, END = "<!-- dask_scaling: begin -->", "<!-- dask_scaling: end -->"


def update_readme(path, lines):
    with open(path) as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        raise SystemExit("%s has no %s ... %s block" % (path, BEGIN, END))
    head, rest = text.split(BEGIN, 1)
    tail = rest.split(END, 1)[1]
    with open(path, "w") as f:
        f.write(head + BEGIN + "\n" + "\n".join(lines) + "\n" + END + tail)


if __name__ == "__main__":
    main()
