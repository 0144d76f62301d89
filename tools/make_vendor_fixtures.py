#!/usr/bin/python3
"""Makes the vendor-format fixtures of tests/fixtures/vendor (run from the repository root).

The layouts are written field by field with struct, so each test can state the values it
expects: Sonix ultrasound (.rf 16-bit, .b32 colour with frame tags, .b8 grey), Mindways
QCT (.qct) and Lunar DXA (.dfe).
"""
import os
import struct

OUT = "tests/fixtures/vendor"
os.makedirs(OUT, exist_ok=True)


def sonix_header(frames, d1, d2, bits, frequency):
    h = [0] * 19
    h[1], h[2], h[3], h[4], h[15] = frames, d1, d2, bits, frequency
    return struct.pack("<19i", *h)


# 16-bit RF: 2 frames of 3 lines x 5 samples at 40 MHz, no tags. Sample (frame f, line l,
# sample s) = (f + 1) * 100 * (-1)^l + s.
with open(os.path.join(OUT, "lines.rf"), "wb") as f:
    f.write(sonix_header(2, 3, 5, 16, 40000000))
    for fr in range(2):
        for line in range(3):
            f.write(struct.pack("<5h", *[(fr + 1) * 100 * (-1) ** line + s for s in range(5)]))

# 32-bit colour: 2 frames of 2 x 2 pixels, each frame after a 4-byte tag. Pixel bytes are
# B, G, R, x; frame 1 starts with 10, 20, 30, 255.
with open(os.path.join(OUT, "tagged.b32"), "wb") as f:
    f.write(sonix_header(2, 2, 2, 32, 0))
    for fr in range(2):
        f.write(struct.pack("<i", 1000 + fr))
        for p in range(4):
            f.write(bytes([10 + p + 100 * fr, 20 + p, 30 + p, 255]))

# 8-bit grey: 3 frames of 4 x 2, no tags, sample = frame * 50 + index.
with open(os.path.join(OUT, "grey.b8"), "wb") as f:
    f.write(sonix_header(3, 4, 2, 8, 0))
    for fr in range(3):
        f.write(bytes([fr * 50 + i for i in range(8)]))

# The same header promising 5 frames where the file holds 3.
with open(os.path.join(OUT, "short.b8"), "wb") as f:
    f.write(sonix_header(5, 4, 2, 8, 0))
    for fr in range(3):
        f.write(bytes([fr * 50 + i for i in range(8)]))


# QCT: n = 3 offsets; slice k (1, 2) is 3 x 2 pixels, samples 1000 + 10 k + index.
def qct_record(w, h, pw, ph, thickness, z):
    rec = bytearray(208)
    struct.pack_into("<q", rec, 0, 1)
    struct.pack_into("<qq", rec, 16, w, h)
    struct.pack_into("<ff", rec, 48, pw, ph)
    struct.pack_into("<dd", rec, 56, thickness, z)
    return bytes(rec)


with open(os.path.join(OUT, "slices.qct"), "wb") as f:
    n = 3
    table_at = 48
    data_at = table_at + 8 * n
    slices = []
    for k in range(n):
        rec = qct_record(3, 2, 0.5, 0.75, 1.25, -20.0 + 5 * k)
        pixels = struct.pack("<6H", *[1000 + 10 * k + i for i in range(6)])
        slices.append(rec + pixels)
    offsets = []
    pos = data_at
    for s in slices:
        offsets.append(pos)
        pos += len(s)
    f.write(b"QCT-FIXTURE".ljust(32, b"\0"))
    f.write(struct.pack("<qq", 1, n))
    f.write(struct.pack("<3q", *offsets))
    for s in slices:
        f.write(s)

# DXA: signature, filler, two image records (4 x 3 and 2 x 2) of big-endian signed words.
with open(os.path.join(OUT, "scan.dfe"), "wb") as f:
    f.write(bytes([0, 0, 7, 0, 0, 0, 9, 0]))
    f.write(b"\x11\x22\x00\x00\x00")  # filler ending in a run of zeros
    marker = bytes([0, 1, 0, 0x0C, 0, 0, 0, 0])
    f.write(marker)
    f.write(struct.pack(">9H", 0, 0, 4, 3, 0, 0, 0, 0, 0))
    f.write(struct.pack(">12h", *[-32000, 5, 6, 7, 100, -100, 0, 1, 2, 3, 4, 5]))
    f.write(b"\x55\x66")
    f.write(marker)
    f.write(struct.pack(">9H", 0, 0, 2, 2, 0, 0, 0, 0, 0))
    f.write(struct.pack(">4h", 300, 301, 302, 303))
