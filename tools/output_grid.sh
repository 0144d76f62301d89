#!/usr/bin/env bash
# Runs one voxmira-batch over a grid of filter, mask and setting choices and writes every
# output into OUTDIR, so that two builds can be compared file by file:
#   tools/output_grid.sh OLD/voxmira-batch /tmp/grid-old
#   tools/output_grid.sh build/voxmira-batch /tmp/grid-new
#   diff -r /tmp/grid-old /tmp/grid-new && echo identical
# Each case runs with and without the SIMD forms (VOXMIRA_NO_SIMD). Inputs are made from the
# bundled samples: a 12-bit CT crop (16-bit TIFF), a colour picture, a tiny and an odd-sized grey picture.
# QUICK=1 runs a smaller grid (two settings instead of six).
set -u
batch=$(realpath "$1")
out=$2
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
inputs="$out/inputs"
mkdir -p "$inputs"

/usr/bin/python3 - "$root" "$inputs" <<'PY'
import sys, struct, numpy as np, pydicom, zlib
root, dst = sys.argv[1], sys.argv[2]
def pnm(path, a):
    a = np.asarray(a)
    if a.ndim == 2:
        head, data = b"P5", a
    else:
        head, data = b"P6", a
    mx = 65535 if a.dtype == np.uint16 else 255
    with open(path, "wb") as f:
        f.write(head + b"\n%d %d\n%d\n" % (a.shape[1], a.shape[0], mx))
        f.write(data.astype(">u2" if mx > 255 else np.uint8).tobytes())
ct = pydicom.dcmread(root + "/data/samples/ct_phantom/ct_phantom_0006.dcm").pixel_array.astype(np.int32)
crop = ct[200:296, 180:300]
crop = np.clip(crop - crop.min(), 0, 4095).astype(np.uint16)
import cv2
cv2.imwrite(dst + "/grey16.tif", crop)  # 16-bit TIFF, read by libtiff
rng = np.random.default_rng(7)
pnm(dst + "/tiny.pgm", rng.integers(0, 256, (2, 3)).astype(np.uint8))
odd = (ct[100:123, 100:137] // 16 + rng.integers(-20, 20, (23, 37))).clip(0, 255).astype(np.uint8)
pnm(dst + "/odd.pgm", odd)
y, x = np.mgrid[0:48, 0:64]
col = np.stack([(x * 4) % 256, (y * 5) % 256, ((x + y) * 3) % 256], -1)
col = (col + rng.integers(-25, 25, col.shape)).clip(0, 255).astype(np.uint8)
pnm(dst + "/colour.ppm", col)
PY

settings=("" "--size 1" "--size 5 --no-level" "--level 64 --centile 25" "--noise 1" "--multires 2")
[ "${QUICK:-0}" = 1 ] && settings=("" "--size 5 --no-level")
fails=0
run() {  # name, args...
    local name=$1; shift
    for simd in on off; do
        if [ $simd = off ]; then
            VOXMIRA_NO_SIMD=1 "$batch" "$@" > "$out/$name.$simd.json" 2> /dev/null
        else
            "$batch" "$@" > "$out/$name.$simd.json" 2> /dev/null
        fi
        echo "exit $?" >> "$out/$name.$simd.json"
        for ext in bin png; do
            [ -f "$out/$name.$ext" ] && mv "$out/$name.$ext" "$out/$name.$simd.$ext"
        done
        # The filtering time differs from run to run.
        sed -i -E 's/"process_time":[0-9]*/"process_time":T/; s/[0-9.]+ (secs|ms)/T \1/g' "$out/$name.$simd.json"
    done
}
for img in grey16.tif tiny.pgm odd.pgm colour.ppm; do
    extra=()
    [ $img = colour.ppm ] && extra=(--colour 2)
    for f in $(seq 0 12); do
        for m in $(seq 0 7); do
            for s in "${!settings[@]}"; do
                name="${img%.*}_f${f}_m${m}_s${s}"
                # shellcheck disable=SC2086
                run "$name" process "$inputs/$img" --filter $f --mask $m ${settings[s]} "${extra[@]}" \
                    --out "$out/$name.bin"
            done
        done
    done
done
# The display stage: zooms, interpolations and windows.
ct="$root/data/samples/ct_phantom/ct_phantom_0006.dcm"
for i in 0 3 7; do
    run "display_i$i" display "$ct" --size 300x200 --zoom 2.5 --centre 300,260 --interp $i \
        --window 40,400 --out "$out/display_i$i.png"
    run "display_col_i$i" display "$inputs/colour.ppm" --zoom 3.3 --interp $i --out "$out/display_col_i$i.bin"
done
# The automatic level and the noise estimate.
for f in 3 12; do
    run "auto_f$f" process "$inputs/grey16.tif" --filter $f --auto-level --out "$out/auto_f$f.bin"
    run "auto_col_f$f" process "$inputs/colour.ppm" --colour 2 --filter $f --auto-level --out "$out/auto_col_f$f.bin"
done
run "noise" noise "$inputs/grey16.tif"
run "noise_col" noise "$inputs/colour.ppm"
# The CT verbs on the bundled phantom.
for m in 0 1 2 3 4 5 6; do
    run "mar_m$m" mar "$ct" --method $m --out "$out/mar_m$m.bin"
done
run "recon" recon "$ct" --out "$out/recon.bin"
run "rsq_fdk" raw "$root/tests/fixtures/rsq/phantom.rsq" --xtreme-load 3 --xtreme-recon 1 --out "$out/rsq_fdk.bin"
run "rsq_raw" raw "$root/tests/fixtures/rsq/phantom.rsq" --xtreme-load 2 --out "$out/rsq_raw.bin"
echo "grid written to $out"
