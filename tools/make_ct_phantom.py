#!/usr/bin/python3
"""Makes the bundled CT sample: data/samples/ct_phantom/ct_phantom_0001.dcm ... 0012.

A synthetic head-sized phantom (water body, fat rim, bone ring, soft-tissue and contrast
inserts) with a dense metal insert in the middle slices. Each slice is forward-projected
with scikit-image's radon transform; the metal rays get beam hardening (a quadratic loss of
line integral) and photon starvation noise, the other rays a little quantum noise; the
slice is reconstructed with filtered back-projection (iradon, ramp filter). The result has
the dark and bright streaks real scanners show around metal.

Stored as 16-bit signed CT, rescale intercept -1024, slope 1, 0.9 mm pixels, 3 mm slices,
window centre 40 and width 400, written with pydicom. Deterministic (fixed seed).

Usage: /usr/bin/python3 tools/make_ct_phantom.py [output folder]
"""
import os
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid
from skimage.transform import iradon, radon

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, '..', 'data', 'samples', 'ct_phantom')
SIZE = 256
SLICES = 12
PIXEL = 0.9       # mm
THICKNESS = 3.0   # mm
MU_WATER = 0.02   # per mm, roughly 70 keV


def ellipse(y, x, cy, cx, ry, rx, angle=0.0):
    c, s = np.cos(angle), np.sin(angle)
    u = (x - cx) * c + (y - cy) * s
    v = -(x - cx) * s + (y - cy) * c
    return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0


def phantom_hu(z):
    """Hounsfield units of slice z (0 .. SLICES-1) and its metal mask."""
    y, x = np.mgrid[0:SIZE, 0:SIZE].astype(np.float64)
    c = SIZE / 2
    t = (z - (SLICES - 1) / 2) / SLICES      # -0.5 .. 0.5 along the body
    hu = np.full((SIZE, SIZE), -1000.0)
    scale = 1.0 - 0.25 * t * t
    body = ellipse(y, x, c, c, 100 * scale, 85 * scale)
    hu[body] = -90.0                                        # fat rim
    hu[ellipse(y, x, c, c, 94 * scale, 79 * scale)] = 0.0   # water
    ring = ellipse(y, x, c, c, 80 * scale, 66 * scale) & ~ellipse(y, x, c, c, 72 * scale, 58 * scale)
    hu[ring] = 900.0                                        # bone
    hu[ellipse(y, x, c - 25, c - 20, 14, 10, 0.4)] = 45.0   # soft tissue
    hu[ellipse(y, x, c + 30, c + 22, 9, 9)] = 300.0         # contrast
    hu[ellipse(y, x, c + 28, c - 30, 6, 12, -0.3)] = -400.0  # lung-like
    metal = np.zeros((SIZE, SIZE), bool)
    if abs(t) < 0.3:
        metal = ellipse(y, x, c + 4, c + 12, 6, 4, 0.2) | ellipse(y, x, c + 4, c - 14, 5, 5)
        hu[metal] = 14000.0                                 # titanium-like
    return hu, metal


def simulate(z, rng):
    hu, metal = phantom_hu(z)
    mu = MU_WATER * (1.0 + hu / 1000.0)                     # per mm
    mu[mu < 0] = 0
    theta = np.linspace(0.0, 180.0, 360, endpoint=False)
    sino = radon(mu * PIXEL, theta=theta, circle=True)      # line integrals
    metal_path = radon(metal.astype(np.float64) * PIXEL, theta=theta, circle=True)
    # Beam hardening: the measured integral falls behind the true one through metal.
    sino = sino - 0.7 * metal_path * MU_WATER * 8.0 * np.tanh(metal_path / 6.0)
    # Quantum noise, far stronger where few photons get through.
    photons = 6.0e5 * np.exp(-sino)
    counts = rng.poisson(np.maximum(photons, 1.0)).astype(np.float64)
    sino = -np.log(np.maximum(counts, 1.0) / 6.0e5)
    image = iradon(sino, theta=theta, filter_name='ramp', circle=True, output_size=SIZE) / PIXEL
    out = (image / MU_WATER - 1.0) * 1000.0
    out[~ellipse(*np.mgrid[0:SIZE, 0:SIZE], SIZE / 2, SIZE / 2, SIZE / 2 - 2, SIZE / 2 - 2)] = -1000.0
    return np.clip(np.rint(out), -1024, 31743).astype(np.int32)


def write_slice(path, n, hu, study, series, frame_of_reference, pixel=PIXEL, thickness=THICKNESS,
                description='Synthetic phantom with metal insert'):
    ds = Dataset()
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.2'  # CT Image Storage
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID = study
    ds.SeriesInstanceUID = series
    ds.FrameOfReferenceUID = frame_of_reference
    ds.Modality = 'CT'
    ds.Manufacturer = 'Voxmira synthetic phantom'
    ds.PatientName = 'Phantom^CT'
    ds.PatientID = 'PHANTOM'
    ds.SeriesDescription = description
    ds.InstanceNumber = n
    rows, columns = hu.shape
    z = (n - 1) * thickness
    ds.ImagePositionPatient = [-columns * pixel / 2, -rows * pixel / 2, z]
    ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    ds.SliceLocation = z
    ds.SliceThickness = thickness
    ds.PixelSpacing = [pixel, pixel]
    ds.KVP = 120
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = 'MONOCHROME2'
    ds.Rows = rows
    ds.Columns = columns
    ds.BitsAllocated = 16
    ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 1
    ds.RescaleIntercept = -1024
    ds.RescaleSlope = 1
    ds.RescaleType = 'HU'
    ds.WindowCenter = 40
    ds.WindowWidth = 400
    ds.PixelData = (hu + 1024).astype('<i2').tobytes()
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.save_as(path, write_like_original=False)


def main():
    os.makedirs(OUT, exist_ok=True)
    rng = np.random.default_rng(31415)
    study, series, frame_of_reference = generate_uid(), generate_uid(), generate_uid()
    for z in range(SLICES):
        write_slice(os.path.join(OUT, 'ct_phantom_%04d.dcm' % (z + 1)), z + 1, simulate(z, rng),
                    study, series, frame_of_reference)


if __name__ == '__main__':
    main()
