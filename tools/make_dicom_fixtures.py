#!/usr/bin/python3
"""Makes the DICOM test fixtures under tests/fixtures/dicom and their expected values.

Needs /usr/bin/python3 with numpy and pydicom, DCMTK (dcmconv, dcmcjpeg, dcmdjpeg,
dcmcrle, dcmdrle) and GDCM (gdcmconv). The build never runs this; its output is committed.

Base images are written uncompressed with pydicom; the compressed variants are made by
DCMTK and GDCM. The restart-interval stream, which DCMTK cannot write, comes from the small
lossless JPEG encoder below. Expected values come from the peers: every fixture is
decompressed by DCMTK or GDCM and converted to explicit little endian by dcmconv, and its
samples are taken from those bytes. expected.txt holds, per fixture and frame, the size,
range, an FNV-1a 64 checksum of the record's samples (value x 16 after rescale, as
little-endian int32) and three sample values.

Usage: /usr/bin/python3 tools/make_dicom_fixtures.py [output folder]
"""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import encapsulate
from pydicom.uid import (ExplicitVRLittleEndian, ImplicitVRLittleEndian,
                         JPEGLosslessSV1, generate_uid)

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, '..', 'tests', 'fixtures', 'dicom')
RNG = np.random.default_rng(20261206)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def base_dataset(rows, cols, samples, bits, signed, frames=1):
    ds = Dataset()
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID = generate_uid()
    ds.SeriesInstanceUID = generate_uid()
    ds.Modality = 'OT'
    ds.PatientName = 'Fixture^Test'
    ds.PatientID = 'FIX'
    ds.SamplesPerPixel = samples
    ds.PhotometricInterpretation = 'RGB' if samples == 3 else 'MONOCHROME2'
    if samples == 3:
        ds.PlanarConfiguration = 0
    ds.Rows = rows
    ds.Columns = cols
    ds.BitsAllocated = 16 if bits > 8 else 8
    ds.BitsStored = bits
    ds.HighBit = bits - 1
    ds.PixelRepresentation = 1 if signed else 0
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    return ds


def save(ds, pixels, name, implicit=False):
    ds.PixelData = np.ascontiguousarray(pixels).astype(pixels.dtype.newbyteorder('<')).tobytes()
    if implicit:
        ds.file_meta.TransferSyntaxUID = ImplicitVRLittleEndian
        ds.is_implicit_VR = True
    path = os.path.join(OUT, name)
    ds.save_as(path, write_like_original=False)
    return path


def smooth(rows, cols, lo, hi, noise):
    y, x = np.mgrid[0:rows, 0:cols]
    v = lo + (hi - lo) * (0.5 + 0.5 * np.sin(x / 3.0 + y / 5.0) * np.cos(y / 4.0))
    v = v + RNG.normal(0, noise, v.shape)
    return np.clip(np.rint(v), lo, hi)


# ---- a small lossless JPEG encoder (process 14), for the restart-interval fixture ----

# Code lengths for magnitude categories 0..16; categories above 8 get codes longer than
# eight bits, so both decoding paths are used.
CODE_LENGTHS = [2, 3, 3, 3, 4, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15]


def huffman_codes(lengths):
    order = sorted(range(len(lengths)), key=lambda s: (lengths[s], s))
    codes, code, prev = {}, 0, lengths[order[0]]
    for s in order:
        code <<= lengths[s] - prev
        prev = lengths[s]
        codes[s] = (code, lengths[s])
        code += 1
    bits = [0] * 17
    for s in order:
        bits[lengths[s]] += 1
    return codes, bits[1:], order


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, n):
        for i in range(n - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)
                self.acc = 0
                self.n = 0

    def flush(self):
        while self.n:
            self.put(1, 1)


def predict(ss, ra, rb, rc):
    return {1: ra, 2: rb, 3: rc, 4: ra + rb - rc, 5: ra + ((rb - rc) >> 1),
            6: rb + ((ra - rc) >> 1), 7: (ra + rb) >> 1}[ss]


def encode_lossless(img, precision, ss, restart_rows):
    h, w, c = img.shape
    codes, bits, order = huffman_codes(CODE_LENGTHS)
    out = bytearray(b'\xff\xd8')
    out += b'\xff\xc3' + (8 + 3 * c).to_bytes(2, 'big') + bytes([precision])
    out += h.to_bytes(2, 'big') + w.to_bytes(2, 'big') + bytes([c])
    for k in range(c):
        out += bytes([k + 1, 0x11, 0])
    out += b'\xff\xc4' + (3 + 16 + len(order)).to_bytes(2, 'big') + b'\x00'
    out += bytes(bits) + bytes(order)
    if restart_rows:
        out += b'\xff\xdd\x00\x04' + (restart_rows * w).to_bytes(2, 'big')
    out += b'\xff\xda' + (6 + 2 * c).to_bytes(2, 'big') + bytes([c])
    for k in range(c):
        out += bytes([k + 1, 0])
    out += bytes([ss, 0, 0])
    bw = BitWriter()
    v = img.astype(np.int64)
    rst = 0
    first_row = True
    for y in range(h):
        if restart_rows and y and y % restart_rows == 0:
            bw.flush()
            bw.out += bytes([0xFF, 0xD0 + rst])
            rst = (rst + 1) % 8
            first_row = True
        for x in range(w):
            for k in range(c):
                if first_row:
                    p = (1 << (precision - 1)) if x == 0 else v[y, x - 1, k]
                elif x == 0:
                    p = v[y - 1, x, k]
                else:
                    p = predict(ss, v[y, x - 1, k], v[y - 1, x, k], v[y - 1, x - 1, k])
                diff = (int(v[y, x, k]) - int(p)) & 0xFFFF
                if diff >= 32768:
                    diff -= 65536
                if diff == -32768:
                    cat, extra = 16, 0
                else:
                    cat = abs(diff).bit_length()
                    extra = diff if diff >= 0 else diff + (1 << cat) - 1
                code, n = codes[cat]
                bw.put(code, n)
                if 0 < cat < 16:
                    bw.put(extra, cat)
        first_row = False
    bw.flush()
    out += bw.out + b'\xff\xd9'
    return bytes(out)


def encapsulated(ds, frames, name):
    ds.file_meta.TransferSyntaxUID = JPEGLosslessSV1
    ds.PixelData = encapsulate(frames)
    ds['PixelData'].VR = 'OB'
    ds['PixelData'].is_undefined_length = True
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    path = os.path.join(OUT, name)
    ds.save_as(path, write_like_original=False)
    return path


# ---- expected values from the peers' decoding ----

def peer_decode(path, tmp):
    """The fixture decompressed by a peer and rewritten as explicit little endian."""
    ts = pydicom.dcmread(path, stop_before_pixels=True, force=True)
    uid = str(ts.file_meta.TransferSyntaxUID) if 'TransferSyntaxUID' in getattr(ts, 'file_meta', {}) else ''
    mid = os.path.join(tmp, 'mid.dcm')
    out = os.path.join(tmp, 'out.dcm')
    if uid.startswith('1.2.840.10008.1.2.4.9'):
        run('gdcmconv', '--raw', path, mid)
    elif uid.startswith('1.2.840.10008.1.2.4.8'):
        run('dcmdjpls', path, mid)
    elif uid.startswith('1.2.840.10008.1.2.4'):
        run('dcmdjpeg', path, mid)
    elif uid == '1.2.840.10008.1.2.5':
        run('dcmdrle', path, mid)
    else:
        shutil.copy(path, mid)
    run('dcmconv', '+te', mid, out)
    return pydicom.dcmread(out, force=True)


def fnv1a64(values):
    h = 0xcbf29ce484222325
    for b in values.astype('<i4').tobytes():
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def expected_lines(name, hdr_path, tmp, frames=None):
    hdr = pydicom.dcmread(hdr_path, force=True, stop_before_pixels=True)
    ds = peer_decode(hdr_path, tmp)
    rows, cols = int(ds.Rows), int(ds.Columns)
    samples = int(ds.SamplesPerPixel)
    bits = int(ds.BitsAllocated)
    signed = int(ds.PixelRepresentation) == 1
    dtype = {(8, False): '<u1', (8, True): '<i1', (16, False): '<u2', (16, True): '<i2'}[(bits, signed)]
    data = np.frombuffer(ds.PixelData, dtype=dtype)
    per = rows * cols * samples
    slope = float(hdr.get('RescaleSlope', 1.0))
    intercept = float(hdr.get('RescaleIntercept', 0.0))
    lines = []
    nframes = int(hdr.get('NumberOfFrames', 1))
    for f in (frames or [-1]):
        k = 0 if f == -1 else f - 1
        s = data[k * per:(k + 1) * per].astype(np.float64)
        v = np.trunc((s * slope + intercept) * 16.0).astype(np.int64)
        lo, hi = int(v.min()), int(v.max())
        lines.append('%s %d %d %d %d %d %d %016x %d %d %d' % (
            name, f, cols, rows, samples, int(lo / 16), int(hi / 16), fnv1a64(v),
            v[0], v[len(v) // 2], v[-1]))
    return lines


def rendered_lines(name, path, tmp):
    """The colour fixture as DCMTK renders it to RGB (dcm2pnm), in the expected-line form."""
    from PIL import Image
    png = os.path.join(tmp, 'rendered.png')
    run('dcm2pnm', '+on', path, png)
    rgb = np.asarray(Image.open(png).convert('RGB')).astype(np.int64)
    rows, cols = rgb.shape[:2]
    v = rgb.reshape(-1) * 16
    return ['%s -1 %d %d 3 %d %d %016x %d %d %d' % (name, cols, rows, int(v.min() / 16), int(v.max() / 16),
                                                  fnv1a64(v), v[0], v[len(v) // 2], v[-1])]


def make_ybr_fixtures(rendered):
    """YBR_FULL (by pixel) and YBR_FULL_422 (Y1 Y2 Cb Cr per pair) uncompressed, 20 x 12."""
    rgb = np.stack([smooth(12, 20, 0, 255, 9), smooth(12, 20, 30, 220, 12)[::-1],
                    smooth(12, 20, 10, 250, 6)[:, ::-1]], -1).clip(0, 255).astype(np.uint8)
    r, g, b = [rgb[..., i].astype(float) for i in range(3)]
    y = (0.299 * r + 0.587 * g + 0.114 * b).round().clip(0, 255)
    cb = (128 - 0.168736 * r - 0.331264 * g + 0.5 * b).round().clip(0, 255)
    cr = (128 + 0.5 * r - 0.418688 * g - 0.081312 * b).round().clip(0, 255)
    ds = base_dataset(12, 20, 3, 8, False)
    ds.PhotometricInterpretation = 'YBR_FULL'
    save(ds, np.stack([y, cb, cr], -1).astype(np.uint8), 'ybr_full.dcm')
    rendered('ybr_full.dcm')
    pairs = np.empty((12, 10, 4), np.uint8)
    pairs[..., 0], pairs[..., 1] = y[:, 0::2], y[:, 1::2]
    pairs[..., 2] = ((cb[:, 0::2] + cb[:, 1::2] + 1) // 2)
    pairs[..., 3] = ((cr[:, 0::2] + cr[:, 1::2] + 1) // 2)
    ds = base_dataset(12, 20, 3, 8, False)
    ds.PhotometricInterpretation = 'YBR_FULL_422'
    save(ds, pairs, 'ybr_422.dcm')
    rendered('ybr_422.dcm')
    # YBR_FULL through RLE and through JPEG 2000 without its component transform: the
    # samples come back as stored and are rendered like the uncompressed file.
    run('dcmcrle', os.path.join(OUT, 'ybr_full.dcm'), os.path.join(OUT, 'rle_ybr.dcm'))
    rendered('rle_ybr.dcm')
    run('gdcmconv', '--j2k', os.path.join(OUT, 'ybr_full.dcm'), os.path.join(OUT, 'j2k_ybr.dcm'))
    with tempfile.TemporaryDirectory() as tmp:
        run('gdcmconv', '--raw', os.path.join(OUT, 'j2k_ybr.dcm'), os.path.join(tmp, 'raw.dcm'))
        rendered('j2k_ybr.dcm', os.path.join(tmp, 'raw.dcm'))


def make_palette_fixture(rendered):
    """PALETTE COLOR, 8-bit indices, three 16-bit tables of 256 entries, 20 x 12."""
    i = np.arange(256)
    tables = {'Red': np.clip(i * 300, 0, 65535), 'Green': (255 - i) * 257, 'Blue': (i * 37 % 256) * 256 + 77}
    ds = base_dataset(12, 20, 1, 8, False)
    ds.PhotometricInterpretation = 'PALETTE COLOR'
    for colour, table in tables.items():
        setattr(ds, colour + 'PaletteColorLookupTableDescriptor', [256, 0, 16])
        setattr(ds, colour + 'PaletteColorLookupTableData', table.astype('<u2').tobytes())
    save(ds, (np.arange(240).reshape(12, 20) * 7 % 256).astype(np.uint8), 'palette16.dcm')
    rendered('palette16.dcm')


def pixel_array_lines(name, frames=None):
    """Expected lines from pydicom's own decoding (for layouts the conversion peers do not
    keep as samples: 1-bit and 32-bit)."""
    ds = pydicom.dcmread(os.path.join(OUT, name))
    a = ds.pixel_array.astype(np.float64)
    if int(ds.get('NumberOfFrames', 1)) == 1:
        a = a[None]
    slope, intercept = float(ds.get('RescaleSlope', 1.0)), float(ds.get('RescaleIntercept', 0.0))
    lines = []
    for f in (frames or [-1]):
        v = np.trunc((a[0 if f == -1 else f - 1].reshape(-1) * slope + intercept) * 16.0).astype(np.int64)
        lines.append('%s %d %d %d 1 %d %d %016x %d %d %d' % (
            name, f, int(ds.Columns), int(ds.Rows), int(v.min() / 16), int(v.max() / 16), fnv1a64(v),
            v[0], v[len(v) // 2], v[-1]))
    return lines


def make_bit_depth_fixtures(expect_array):
    """1-bit segmentation frames of 15 pixels (frames start inside a byte) and 32-bit doses."""
    from pydicom.pixel_data_handlers.numpy_handler import pack_bits
    bits = (RNG.random((3, 3, 5)) > 0.5).astype(np.uint8)
    ds = base_dataset(3, 5, 1, 8, False, frames=3)
    ds.BitsAllocated = ds.BitsStored = 1
    ds.HighBit = 0
    ds.PixelData = pack_bits(bits.reshape(-1))
    ds.save_as(os.path.join(OUT, 'bits1_mf.dcm'), write_like_original=False)
    expect_array('bits1_mf.dcm', [1, 2, 3])
    dose = (RNG.random((6, 7)) * 4e6).astype('<u4')
    ds = base_dataset(6, 7, 1, 16, False)
    ds.BitsAllocated = ds.BitsStored = 32
    ds.HighBit = 31
    ds.RescaleSlope = 2.5
    ds.PixelData = dose.tobytes()
    ds.save_as(os.path.join(OUT, 'dose32.dcm'), write_like_original=False)
    expect_array('dose32.dcm')


def make_icon_fixture(nested=False):
    """j2k_s16.dcm with an 8 x 8 thumbnail in an Icon Image Sequence of undefined length (item
    of undefined length, its own attributes and pixel data): the top-level image is read.
    `nested`: the item also holds an undefined-length sequence ahead of a PALETTE COLOR
    thumbnail (j2k_icon_nested.dcm), as some scanners write it."""
    import copy
    from pydicom.sequence import Sequence
    ds = copy.deepcopy(pydicom.dcmread(os.path.join(OUT, 'j2k_s16.dcm')))
    icon = Dataset()
    icon.SamplesPerPixel = 1
    icon.PhotometricInterpretation = 'PALETTE COLOR' if nested else 'MONOCHROME2'
    icon.Rows = icon.Columns = 8
    icon.BitsAllocated = icon.BitsStored = 8
    icon.HighBit = 7
    icon.PixelRepresentation = 0
    icon.PixelData = bytes(range(64))
    if nested:
        ref = Dataset()
        ref.ReferencedSOPClassUID = ds.SOPClassUID
        ref.ReferencedSOPInstanceUID = ds.SOPInstanceUID
        icon.ReferencedImageSequence = Sequence([ref])
        icon['ReferencedImageSequence'].is_undefined_length = True
        ref.is_undefined_length_sequence_item = True
        for c, tag in enumerate(('Red', 'Green', 'Blue')):
            setattr(icon, tag + 'PaletteColorLookupTableDescriptor', [256, 0, 8])
            icon[f'{tag}PaletteColorLookupTableDescriptor'].VR = 'US'
            setattr(icon, tag + 'PaletteColorLookupTableData', bytes((i * (c + 1)) & 255 for i in range(256)))
    ds.IconImageSequence = Sequence([icon])
    ds['IconImageSequence'].is_undefined_length = True
    ds.IconImageSequence[0].is_undefined_length_sequence_item = True
    ds.save_as(os.path.join(OUT, 'j2k_icon_nested.dcm' if nested else 'j2k_icon.dcm'))


def make_markerless_rgb_jpeg(tmp):
    """RGB baseline JPEG without a JFIF or Adobe marker and with component ids 1, 2, 3
    (as some writers leave it): dcmcjpeg +cr output with its Adobe marker removed and the
    ids renumbered. The photometric interpretation (RGB) says the samples are not YCbCr."""
    from pydicom.encaps import encapsulate, generate_pixel_data_frame
    coded = os.path.join(tmp, 'rgb_cr.dcm')
    run('dcmcjpeg', '+eb', '+cr', os.path.join(OUT, 'rgb8.dcm'), coded)
    ds = pydicom.dcmread(coded)
    f = bytearray(next(generate_pixel_data_frame(ds.PixelData)))
    out, k = bytearray(f[:2]), 2
    while True:
        m, n = f[k + 1], int.from_bytes(f[k + 2:k + 4], 'big')
        seg = bytearray(f[k:k + 2 + n])
        if m == 0xEE:
            k += 2 + n
            continue
        if m == 0xC0:
            for c in range(seg[9]):
                seg[10 + 3 * c] = 1 + c
        if m == 0xDA:
            for c in range(seg[4]):
                seg[5 + 2 * c] = 1 + c
            out += seg + f[k + 2 + n:]
            break
        out += seg
        k += 2 + n
    ds.PixelData = encapsulate([bytes(out)])
    ds['PixelData'].is_undefined_length = True
    ds.save_as(os.path.join(OUT, 'jpeg_rgb_nomarker.dcm'))


def make_jp2_box_fixture(tmp):
    """ex_le_u8.dcm's samples as a JPEG 2000 codestream wrapped in a JP2 file (OpenJPEG's
    opj_compress), as some writers leave JPEG 2000 pixel data."""
    from pydicom.encaps import encapsulate
    from pydicom.uid import JPEG2000Lossless
    ds = pydicom.dcmread(os.path.join(OUT, 'ex_le_u8.dcm'))
    a = ds.pixel_array.astype(np.uint8)
    pgm, jp2 = os.path.join(tmp, 'u8.pgm'), os.path.join(tmp, 'u8.jp2')
    with open(pgm, 'wb') as f:
        f.write(b'P5\n%d %d\n255\n' % (a.shape[1], a.shape[0]))
        f.write(a.tobytes())
    run('opj_compress', '-n', '3', '-i', pgm, '-o', jp2)
    ds.PixelData = encapsulate([open(jp2, 'rb').read()])
    ds['PixelData'].is_undefined_length = True
    ds.file_meta.TransferSyntaxUID = JPEG2000Lossless
    ds.save_as(os.path.join(OUT, 'j2k_jp2_box.dcm'), write_like_original=False)


def main():
    os.makedirs(OUT, exist_ok=True)
    expected = []
    with tempfile.TemporaryDirectory() as tmp:
        def expect(name, frames=None):
            expected.extend(expected_lines(name, os.path.join(OUT, name), tmp, frames))

        def expect_rendered(name, path=None):
            expected.extend(rendered_lines(name, path or os.path.join(OUT, name), tmp))

        # 8-bit unsigned grey, explicit little endian.
        u8 = smooth(24, 32, 0, 255, 6).astype(np.uint8)
        ds = base_dataset(24, 32, 1, 8, False)
        ds.PixelSpacing = [0.5, 0.25]
        save(ds, u8, 'ex_le_u8.dcm')
        expect('ex_le_u8.dcm')

        # 8-bit signed grey, implicit little endian.
        s8 = (smooth(20, 18, -128, 127, 5)).astype(np.int8)
        ds = base_dataset(20, 18, 1, 8, True)
        save(ds, s8, 'imp_le_s8.dcm', implicit=True)
        expect('imp_le_s8.dcm')

        # 16-bit signed CT with slope, intercept, window, geometry.
        ct = smooth(32, 40, -1024, 3071, 20).astype(np.int16) + 1024
        ct[5, 7] = -1024 + 1024 - 30
        ds = base_dataset(32, 40, 1, 16, True)
        ds.Modality = 'CT'
        ds.RescaleIntercept = -1024
        ds.RescaleSlope = 1
        ds.WindowCenter = [40, 400]
        ds.WindowWidth = [400, 1500]
        ds.PixelSpacing = [0.7, 0.8]
        ds.SliceThickness = 2.5
        ds.SliceLocation = -12.5
        ds.ImagePositionPatient = [-120.0, -110.5, -12.5]
        ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
        save(ds, ct, 'ct_s16.dcm')
        expect('ct_s16.dcm')

        # The same as explicit big endian, and as a bare implicit data set (no preamble,
        # no meta group).
        run('dcmconv', '+tb', os.path.join(OUT, 'ct_s16.dcm'), os.path.join(OUT, 'ct_s16_big.dcm'))
        expect('ct_s16_big.dcm')
        run('dcmconv', '-F', '+ti', os.path.join(OUT, 'ct_s16.dcm'), os.path.join(OUT, 'bare_implicit.dcm'))
        expect('bare_implicit.dcm')

        # Slope 0.5, intercept -100.25, window width 0 (no window proposed).
        ds = base_dataset(8, 10, 1, 16, False)
        ds.RescaleSlope = 0.5
        ds.RescaleIntercept = -100.25
        ds.WindowCenter = 300
        ds.WindowWidth = 0
        save(ds, (np.arange(80).reshape(8, 10) * 811 % 65536).astype(np.uint16), 'slope_u16.dcm')
        expect('slope_u16.dcm')

        # 8-bit RGB, interleaved.
        rgb = np.stack([smooth(12, 20, 0, 255, 4), smooth(12, 20, 20, 200, 9),
                        np.tile(np.arange(20) * 12, (12, 1))], axis=2).astype(np.uint8)
        ds = base_dataset(12, 20, 3, 8, False)
        save(ds, rgb, 'rgb8.dcm')
        expect('rgb8.dcm')

        # Bases for the lossless variants: 12 bits in 16, and full 16 bits with a jump of
        # exactly 32768 (difference category 16).
        u12 = smooth(16, 24, 0, 4095, 30).astype(np.uint16)
        ds = base_dataset(16, 24, 1, 12, False)
        save(ds, u12, 'base_u12.dcm')
        u16 = smooth(16, 24, 0, 65535, 500).astype(np.uint16)
        u16[3, 4], u16[3, 5] = 0, 32768
        u16[9, 0], u16[10, 0] = 40000, 7232
        ds = base_dataset(16, 24, 1, 16, False)
        save(ds, u16, 'base_u16.dcm')

        # Lossless JPEG, every predictor at 8, 12 and 16 bits.
        for bits, base in ((8, 'ex_le_u8.dcm'), (12, 'base_u12.dcm'), (16, 'base_u16.dcm')):
            for sv in range(1, 8):
                name = 'll_p%d_%d.dcm' % (sv, bits)
                run('dcmcjpeg', '+el', '+sv', str(sv), os.path.join(OUT, base), os.path.join(OUT, name))
                expect(name)
        os.remove(os.path.join(OUT, 'base_u12.dcm'))
        os.remove(os.path.join(OUT, 'base_u16.dcm'))
        run('dcmcjpeg', '+e1', os.path.join(OUT, 'rgb8.dcm'), os.path.join(OUT, 'll_rgb.dcm'))
        expect('ll_rgb.dcm')
        run('dcmcjpeg', '+e1', os.path.join(OUT, 'ct_s16.dcm'), os.path.join(OUT, 'll_ct_s16.dcm'))
        expect('ll_ct_s16.dcm')

        # Restart intervals of one row (8-bit) and two rows (16-bit, predictor 7).
        img = smooth(10, 14, 0, 255, 10).astype(np.uint16)
        ds = base_dataset(10, 14, 1, 8, False)
        encapsulated(ds, [encode_lossless(img[:, :, None], 8, 1, 1)], 'll_restart_8.dcm')
        expect('ll_restart_8.dcm')
        img = smooth(12, 9, 0, 65535, 3000).astype(np.uint16)
        img[4, 3], img[4, 4] = 65000, 32232
        ds = base_dataset(12, 9, 1, 16, False)
        encapsulated(ds, [encode_lossless(img[:, :, None], 16, 7, 2)], 'll_restart_16.dcm')
        expect('ll_restart_16.dcm')
        # A wrong restart number: RST1 where RST0 belongs.
        data = bytearray(encode_lossless(img[:, :, None], 16, 7, 2))
        at = data.index(b'\xff\xd0', 20)
        data[at + 1] = 0xD1
        ds = base_dataset(12, 9, 1, 16, False)
        encapsulated(ds, [bytes(data)], 'bad_restart.dcm')

        # Multi-frame, uncompressed and lossless JPEG (one fragment per frame).
        mf = np.stack([smooth(12, 16, 100 * f, 4000 + 100 * f, 40) for f in range(4)]).astype(np.uint16)
        ds = base_dataset(12, 16, 1, 16, False, frames=4)
        save(ds, mf, 'mf_u16.dcm')
        expect('mf_u16.dcm', [1, 2, 4])
        run('dcmcjpeg', '+e1', os.path.join(OUT, 'mf_u16.dcm'), os.path.join(OUT, 'mf_jpegll.dcm'))
        expect('mf_jpegll.dcm', [1, 3, 4])

        # Baseline JPEG grey, and colour (YBR_FULL_422 in the stream, RGB once decoded).
        run('dcmcjpeg', '+eb', os.path.join(OUT, 'ex_le_u8.dcm'), os.path.join(OUT, 'jpeg_baseline.dcm'))
        expect('jpeg_baseline.dcm')
        run('dcmcjpeg', '+eb', os.path.join(OUT, 'rgb8.dcm'), os.path.join(OUT, 'jpeg_rgb.dcm'))
        expect('jpeg_rgb.dcm')
        # 8-bit baseline JPEG in a frame that says 16 bits allocated (8 stored), as some
        # writers leave it; DCMTK decodes it to the same samples.
        ds = base_dataset(24, 32, 1, 8, False)
        ds.BitsAllocated = 16
        save(ds, smooth(24, 32, 0, 255, 6).astype(np.uint16), 'w8.dcm')
        run('dcmcjpeg', '+eb', os.path.join(OUT, 'w8.dcm'), os.path.join(OUT, 'jpeg_baseline_16.dcm'))
        os.remove(os.path.join(OUT, 'w8.dcm'))
        ds = pydicom.dcmread(os.path.join(OUT, 'jpeg_baseline_16.dcm'))
        ds.BitsAllocated = 16
        ds.save_as(os.path.join(OUT, 'jpeg_baseline_16.dcm'))
        expect('jpeg_baseline_16.dcm')
        make_markerless_rgb_jpeg(tmp)
        run('dcmdjpeg', os.path.join(OUT, 'jpeg_rgb_nomarker.dcm'), os.path.join(tmp, 'plain.dcm'))
        expect_rendered('jpeg_rgb_nomarker.dcm', os.path.join(tmp, 'plain.dcm'))
        make_ybr_fixtures(expect_rendered)
        make_palette_fixture(expect_rendered)

        # Extended (12-bit) DCT JPEG of a CT slice whose size is not a whole number of
        # blocks; DCMTK (dcmdjpeg) and GDCM (gdcmconv --raw) decode it to the same samples.
        ct12 = smooth(38, 45, 0, 4095, 30).astype(np.uint16)
        ds = base_dataset(38, 45, 1, 12, False)
        ds.Modality = 'CT'
        ds.RescaleIntercept = -1024
        ds.RescaleSlope = 1
        save(ds, ct12, 'u12.dcm')
        run('dcmcjpeg', '+ee', os.path.join(OUT, 'u12.dcm'), os.path.join(OUT, 'jpeg12_ct.dcm'))
        os.remove(os.path.join(OUT, 'u12.dcm'))
        expect('jpeg12_ct.dcm')
        # The same with a scan whose spectral end is 0: not sequential parameters, which
        # the decoders warn about and ignore (as in some archived files).
        data = bytearray(open(os.path.join(OUT, 'jpeg12_ct.dcm'), 'rb').read())
        sos = data.index(b'\xff\xda')
        data[sos + 4 + 1 + 2 * data[sos + 4] + 1] = 0
        open(os.path.join(OUT, 'jpeg12_sos.dcm'), 'wb').write(data)
        expect('jpeg12_sos.dcm')

        make_bit_depth_fixtures(lambda name, frames=None: expected.extend(pixel_array_lines(name, frames)))
        # 32-bit grey through RLE (DCMTK), its values from pydicom's own RLE decoder.
        run('dcmcrle', os.path.join(OUT, 'dose32.dcm'), os.path.join(OUT, 'rle_dose32.dcm'))
        expected.extend(pixel_array_lines('rle_dose32.dcm'))

        # JPEG-LS (CharLS): lossless signed 16-bit grey, near-lossless colour.
        run('dcmcjpls', os.path.join(OUT, 'ct_s16.dcm'), os.path.join(OUT, 'jpegls_s16.dcm'))
        expect('jpegls_s16.dcm')
        run('dcmcjpls', '+en', os.path.join(OUT, 'rgb8.dcm'), os.path.join(OUT, 'jpegls_nl_rgb.dcm'))
        expect('jpegls_nl_rgb.dcm')
        # 12-bit near-lossless at an odd size, its one frame split over 1 kB fragments (as
        # encoders that limit fragment sizes write it).
        u12 = smooth(45, 61, 0, 4095, 400).astype(np.uint16)
        save(base_dataset(45, 61, 1, 12, False), u12, 'u12_plain.dcm')
        run('dcmcjpls', '+en', '+md', '3', '+fs', '1', os.path.join(OUT, 'u12_plain.dcm'),
            os.path.join(OUT, 'jpegls_nl12_fragments.dcm'))
        os.remove(os.path.join(OUT, 'u12_plain.dcm'))
        expect('jpegls_nl12_fragments.dcm')

        # Deflated explicit VR little endian.
        run('dcmconv', '+td', os.path.join(OUT, 'ct_s16.dcm'), os.path.join(OUT, 'deflated.dcm'))
        expect('deflated.dcm')

        # RLE: 8-bit grey, 8-bit RGB, 16-bit signed.
        for src, name in (('ex_le_u8.dcm', 'rle_u8.dcm'), ('rgb8.dcm', 'rle_rgb.dcm'),
                          ('ct_s16.dcm', 'rle_s16.dcm')):
            run('dcmcrle', os.path.join(OUT, src), os.path.join(OUT, name))
            expect(name)

        # JPEG 2000: 16-bit signed grey and RGB.
        run('gdcmconv', '--j2k', os.path.join(OUT, 'ct_s16.dcm'), os.path.join(OUT, 'j2k_s16.dcm'))
        expect('j2k_s16.dcm')
        run('gdcmconv', '--j2k', os.path.join(OUT, 'rgb8.dcm'), os.path.join(OUT, 'j2k_rgb.dcm'))
        expect('j2k_rgb.dcm')
        make_icon_fixture()
        expect('j2k_icon.dcm')
        make_icon_fixture(nested=True)
        expect('j2k_icon_nested.dcm')
        make_jp2_box_fixture(tmp)
        expect('j2k_jp2_box.dcm')

        # A numbered series of three 8 x 8 slices with distinct values.
        os.makedirs(os.path.join(OUT, 'series'), exist_ok=True)
        for n in (1, 2, 3):
            ds = base_dataset(8, 8, 1, 8, False)
            ds.ImagePositionPatient = [0.0, 0.0, 2.0 * n]
            ds.SliceLocation = 2.0 * n
            save(ds, np.full((8, 8), 10 * n, np.uint8), os.path.join('series', 'slice_%04d.dcm' % n))

        # Damaged files.
        whole = open(os.path.join(OUT, 'ct_s16.dcm'), 'rb').read()
        open(os.path.join(OUT, 'trunc_pixels.dcm'), 'wb').write(whole[:len(whole) - 700])
        open(os.path.join(OUT, 'trunc_header.dcm'), 'wb').write(whole[:300])
        ll = open(os.path.join(OUT, 'll_p1_16.dcm'), 'rb').read()
        open(os.path.join(OUT, 'trunc_fragment.dcm'), 'wb').write(ll[:len(ll) - 200])
        # Rows and columns of 65535 over 16 bytes of pixel data claimed as 4 GB.
        ds = base_dataset(65535, 65535, 1, 16, False)
        ds.PixelData = b'\0' * 16
        p = os.path.join(OUT, 'huge_frame.dcm')
        ds.save_as(p, write_like_original=False)
        raw = bytearray(open(p, 'rb').read())
        at = raw.rindex(b'\xe0\x7f\x10\x00OW\x00\x00')
        raw[at + 8:at + 12] = (0xFFFFFFF0).to_bytes(4, 'little')
        open(p, 'wb').write(raw)
        # A corrupt lossless stream: the Huffman table's counts cannot form a code.
        bad = bytearray(open(os.path.join(OUT, 'll_p1_8.dcm'), 'rb').read())
        at = bad.index(b'\xff\xc4')
        bad[at + 5] = 7  # seven codes of length 1
        open(os.path.join(OUT, 'corrupt_huffman.dcm'), 'wb').write(bad)
        # RLE whose segment offset points past the fragment.
        bad = bytearray(open(os.path.join(OUT, 'rle_u8.dcm'), 'rb').read())
        at = bad.index(b'\x01\x00\x00\x00\x40\x00\x00\x00')
        bad[at + 4:at + 8] = (0x7FFFFFFF).to_bytes(4, 'little')
        open(os.path.join(OUT, 'rle_bad_offset.dcm'), 'wb').write(bad)
        # A window centre longer than the text buffer, and a nested undefined-length
        # sequence before the pixel data.
        ds = base_dataset(4, 6, 1, 8, False)
        ds.WindowCenter = '1' * 1500
        ds.WindowWidth = 50
        inner = Dataset()
        inner.CodeValue = '7FE0'
        deeper = Dataset()
        deeper.Rows = 999
        inner.ContentSequence = [deeper]
        ds.ReferencedImageSequence = [inner]
        ds['ReferencedImageSequence'].is_undefined_length = True
        inner['ContentSequence'].is_undefined_length = True
        inner.is_undefined_length_sequence_item = True
        deeper.is_undefined_length_sequence_item = True
        save(ds, np.arange(24, dtype=np.uint8).reshape(4, 6) * 10, 'long_text_sequence.dcm')
        expect('long_text_sequence.dcm')

    with open(os.path.join(OUT, 'expected.txt'), 'w') as f:
        f.write('# name frame width height channels data_min data_max fnv1a64 first middle last\n')
        f.write('\n'.join(expected) + '\n')


if __name__ == '__main__':
    main()
