#!/bin/sh
# Seeds the fuzz corpora from the DICOM fixtures: whole files for the reader, and the
# lossless JPEG streams cut out of the encapsulated fixtures for the decoder; small
# synthetic raw files for the micro-CT loader.
set -e
build=${1:-build-fuzz}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/corpus/dicom" "$build/corpus/lossless" "$build/corpus/rsq"
cp "$here"/tests/fixtures/dicom/*.dcm "$build/corpus/dicom/"
# Small raw files (the fixture's layout, fewer views and records) for the micro-CT loader.
for shape in "8 40 24 3 7" "8 60 32 9 7" "19 30 20 4 3" "4 120 64 12 11"; do
    set -- $shape
    /usr/bin/python3 "$here/tools/make_rsq.py" "$build/corpus/rsq/b$1_v$2_w$3_z$4.rsq" \
        --binning $1 --views $2 --samples $3 --records $4 --stack $5 > /dev/null || true
done
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
