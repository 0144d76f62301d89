#!/bin/sh
# Seeds the fuzz corpora from the DICOM fixtures: whole files for the reader, and the
# lossless JPEG streams cut out of the encapsulated fixtures for the decoder.
set -e
build=${1:-build-fuzz}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/corpus/dicom" "$build/corpus/lossless"
cp "$here"/tests/fixtures/dicom/*.dcm "$build/corpus/dicom/"
/usr/bin/python3 - "$here/tests/fixtures/dicom" "$build/corpus/lossless" <<'PY'
import glob, os, sys
src, dst = sys.argv[1], sys.argv[2]
for path in glob.glob(os.path.join(src, 'll_*.dcm')) + glob.glob(os.path.join(src, 'mf_jpegll.dcm')):
    data = open(path, 'rb').read()
    start = data.find(b'\xff\xd8\xff')
    end = data.find(b'\xff\xd9', start)
    if start >= 0 and end > start:
        open(os.path.join(dst, os.path.basename(path) + '.jls'), 'wb').write(data[start:end + 2])
PY
