#!/usr/bin/python3
"""Hostile-file pass over every loader through the batch tool.

Every committed sample file (tests/fixtures, data/samples) is truncated at a few places and
damaged at seeded random places (single bytes, 16- and 32-bit fields set to 0, 1, 0xFF..,
and the file's own size), then `voxmira-batch info` and `voxmira-batch raw` run on each under
a timeout. A mutant is also run renamed to .dcm, so that loaders which find files by content
see it whatever its name. Counted: exits by signal (crashes), runs over the hang limit, and
exit codes; any exit other than 0 and 1, and any stderr mentioning a sanitizer, is a finding.

Usage: /usr/bin/python3 fuzz/hostile_pass.py BATCH_TOOL [--mutants N] [--seed S] [--jobs J]
                                               [--hang SECONDS] [--keep FOLDER]
Findings are listed with the command that reproduces them; --keep saves their files.
"""
import argparse
import collections
import concurrent.futures
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SOURCES = [os.path.join(ROOT, 'tests', 'fixtures'), os.path.join(ROOT, 'data', 'samples')]
SKIP = ('.txt', '.md', '.bin', '.py')
PER_FOLDER = 3  # members of a numbered series differ only in their pixels
LIMIT = 2 << 20  # larger files are left to the unit tests


def samples():
    for top in SOURCES:
        for folder, _, names in os.walk(top):
            kept = 0
            for n in sorted(names):
                p = os.path.join(folder, n)
                if not n.endswith(SKIP) and os.path.getsize(p) <= LIMIT and \
                        (kept < PER_FOLDER or os.path.basename(folder) in ('dicom', 'images', 'vendor')):
                    kept += 1
                    yield p


def mutants(data, rng, count):
    """(label, bytes) pairs: truncations, then seeded damage."""
    n = len(data)
    for cut in sorted({0, 1, 7, 128, 132, n // 3, n // 2, n - 1}):
        if 0 <= cut < n:
            yield 'cut%d' % cut, data[:cut]
    values = [b'\x00\x00', b'\x01\x00', b'\xff\xff', b'\x00\x00\x00\x00', b'\x01\x00\x00\x00',
              b'\xff\xff\xff\xff', b'\xff\xff\xff\x7f', (n // 2).to_bytes(4, 'little')]
    for k in range(count):
        b = bytearray(data)
        if not b:
            return
        if k % 2 == 0:
            at = rng.randrange(n)
            b[at] ^= 1 << rng.randrange(8)
            label = 'bit%d' % at
        else:
            v = rng.choice(values)
            at = rng.randrange(max(1, n - len(v)))
            b[at:at + len(v)] = v[:n - at]
            label = 'set%d=%s' % (at, v.hex())
        yield label, bytes(b)


def run(tool, verb, path, out, hang):
    cmd = [tool, verb, path] + (['--out', out] if verb == 'raw' else [])
    start = time.monotonic()
    try:
        p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=hang * 5,
                           env=dict(os.environ, ASAN_OPTIONS='detect_leaks=0'))
        code, err = p.returncode, p.stderr.decode('utf-8', 'replace')
    except subprocess.TimeoutExpired:
        code, err = 'timeout', ''
    return cmd, code, time.monotonic() - start, err


def main():
    a = argparse.ArgumentParser()
    a.add_argument('tool')
    a.add_argument('--mutants', type=int, default=8)
    a.add_argument('--seed', type=int, default=28)
    a.add_argument('--jobs', type=int, default=2)
    a.add_argument('--hang', type=float, default=2.0)
    a.add_argument('--keep')
    args = a.parse_args()
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix='hostile_')
    jobs = []
    for src in samples():
        data = open(src, 'rb').read()
        ext = os.path.splitext(src)[1]
        for label, b in mutants(data, rng, args.mutants):
            for suffix in {ext, '.dcm'}:
                # One folder each: a lone DICOM file makes the reader scan its folder.
                folder = os.path.join(work, str(len(jobs)))
                os.mkdir(folder)
                name = os.path.join(folder, 'mutant' + suffix)
                with open(name, 'wb') as f:
                    f.write(b)
                for verb in ('info', 'raw'):
                    jobs.append((os.path.relpath(src, ROOT), label, name, verb))
    counts = collections.Counter()
    findings = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = [pool.submit(run, args.tool, verb, name, name + '.%s.out' % verb, args.hang)
                   for _, _, name, verb in jobs]
        for (src, label, name, verb), fut in zip(jobs, futures):
            cmd, code, secs, err = fut.result()
            what = None
            if code == 'timeout' or secs > args.hang:
                counts['hang'] += 1
                what = 'hang %.1f s' % secs
            elif code < 0:
                counts['crash'] += 1
                what = 'signal %s' % signal.Signals(-code).name
            elif code not in (0, 1) or 'Sanitizer' in err or 'runtime error' in err:
                counts['odd'] += 1
                what = 'exit %s %s' % (code, err.strip().splitlines()[-1] if err.strip() else '')
            if code != 'timeout':
                counts['exit %d' % code] += 1
            if what:
                findings.append('%s [%s] %s: %s' % (src, label, what, ' '.join(cmd)))
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    shutil.copy(name, os.path.join(args.keep, os.path.basename(os.path.dirname(name)) +
                                                   os.path.splitext(name)[1]))
    print('runs %d over %d samples' % (len(jobs), len(list(samples()))))
    for k in sorted(counts):
        print('  %-8s %d' % (k, counts[k]))
    for f in findings:
        print(f)
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if findings else 0


if __name__ == '__main__':
    sys.exit(main())
