#!/bin/sh
# Writes each given DICOM file's data set with voxmira-batch dataset (median r = 1 unless
# FILTER_ARGS says otherwise) and checks every written file with the peers:
#   dcmdump (DCMTK)      no warnings, and source and output dumps differ only in the
#                        three UID lines (pixel data are not printed)
#   dciodvfy (dicom3tools) no error lines beyond the source's own
#   gdcminfo (GDCM)      reads the output
# Needs dcmtk, dicom3tools and libgdcm-tools. Usage: dataset_peer_check.sh BATCH FILE...
set -u
batch=$1; shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
for src in "$@"; do
    name=$(basename "$src")
    dir="$work/$(echo "$name" | tr -d '0-9.')x"
    mkdir -p "$dir" && cp "$src" "$dir/$name"
    if ! "$batch" dataset "$dir/$name" ${FILTER_ARGS:---filter 1 --size 1} > "$dir/out.json" 2> "$dir/err.txt"; then
        echo "REFUSED $name: $(tail -1 "$dir/err.txt")"
        continue
    fi
    for out in "$dir"/proc/*; do
        case "$out" in
        *.tif|*.tiff)
            echo "tiff $name -> $(basename "$out"): $(/usr/bin/python3 -c 'import sys, cv2; i = cv2.imread(sys.argv[1], -1); print(i.dtype, i.shape)' "$out" 2>&1 | tail -1)"
            continue ;;
        esac
        dcmdump "$dir/$name" > "$dir/a.txt" 2>&1
        dcmdump "$out" > "$dir/b.txt" 2> "$dir/warn.txt"
        other=$(diff "$dir/a.txt" "$dir/b.txt" | grep -a '^[<>]' | grep -a -v -e '(0002,0003)' -e '(0008,0018)' -e '(0020,000e)' -e '(7fe0,0010)' | wc -l)
        uids=$(diff "$dir/a.txt" "$dir/b.txt" | grep -a '^>' | grep -a -c -v '(7fe0,0010)')
        dciodvfy "$dir/$name" 2>&1 | grep -a '^Error' | sort > "$dir/va.txt"
        dciodvfy "$out" 2>&1 | grep -a '^Error' | sort > "$dir/vb.txt"
        new_errors=$(comm -13 "$dir/va.txt" "$dir/vb.txt" | wc -l)
        gdcm=ok; gdcminfo "$out" > /dev/null 2>&1 || gdcm=FAILED
        status=ok
        if [ -s "$dir/warn.txt" ] || [ "$other" -ne 0 ] || [ "$new_errors" -ne 0 ] || [ "$gdcm" != ok ]; then
            status=FAIL; fail=1
        fi
        echo "$status $name -> $(basename "$out"): dcmdump warnings $(wc -l < "$dir/warn.txt"), changed UID lines $uids, other changed lines $other, new dciodvfy errors $new_errors, gdcminfo $gdcm"
    done
done
exit $fail
