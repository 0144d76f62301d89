#!/usr/bin/python3
"""Makes the small image fixtures of tests/fixtures/images (run from the repository root).

tifffile writes the TIFF cases, Pillow the PNG cases, ImageMagick the BMP, PNM and JPEG
ones; scikit-image's structural_similarity gives the SSIM values the tests compare with.
"""
import os
import subprocess

import numpy as np
import tifffile
from PIL import Image
from scipy.ndimage import gaussian_filter
from skimage.metrics import structural_similarity

OUT = "tests/fixtures/images"
os.makedirs(OUT, exist_ok=True)
os.makedirs(OUT + "/seq", exist_ok=True)


def path(name):
    return os.path.join(OUT, name)


# 8-bit grey TIFF, 254 pixels per inch (0.1 mm), values 0..34.
g8 = (np.arange(35).reshape(5, 7)).astype(np.uint8)
tifffile.imwrite(path("grey8_inch.tif"), g8, resolution=(254, 254), resolutionunit="INCH")

# 16-bit grey TIFF with MinSampleValue 100 and MaxSampleValue 4100, 20 pixels per cm.
t16 = (np.arange(48).reshape(6, 8) * 80 + 100).astype(np.uint16)
tifffile.imwrite(path("minmax16.tif"), t16, resolution=(20, 20), resolutionunit="CENTIMETER",
                 extratags=[(280, "H", 1, 100, True), (281, "H", 1, 4100, True)])

# A CT data set as the program writes it: words carry +32768, 31768 is -1000 HU.
ct = np.array([[31768, 32768, 33768], [32000, 32768, 65535]], dtype=np.uint16)
tifffile.imwrite(path("ct16.tif"), ct, description="Voxmira RMAR CT Data",
                 extratags=[(280, "H", 1, 31768, True), (281, "H", 1, 65535, True)])

# Three 16-bit pages with values 1000 x (page + 1) + x.
with tifffile.TiffWriter(path("pages16.tif")) as tw:
    for p in range(3):
        tw.write((np.arange(12).reshape(3, 4) + 1000 * (p + 1)).astype(np.uint16),
                 contiguous=False)

# An RGB TIFF takes the wxImage path.
rgb = np.zeros((4, 5, 3), np.uint8)
rgb[..., 0] = 200
rgb[..., 1] = np.arange(5) * 10
rgb[..., 2] = 7
tifffile.imwrite(path("rgb8.tif"), rgb, photometric="rgb")

# A colour PNG whose pixels are all grey, and a colour one.
grey_rgb = np.repeat(np.arange(20, dtype=np.uint8).reshape(4, 5)[..., None] * 12, 3, axis=2)
Image.fromarray(grey_rgb, "RGB").save(path("grey_as_rgb.png"))
Image.fromarray(rgb, "RGB").save(path("colour.png"))

# RGBA: alpha 0..255 across.
rgba = np.zeros((3, 4, 4), np.uint8)
rgba[..., 0] = 10
rgba[..., 1] = 20
rgba[..., 2] = 30
rgba[..., 3] = np.array([0, 85, 170, 255], np.uint8)
Image.fromarray(rgba, "RGBA").save(path("alpha.png"))

# "_RAW": 16-bit RGBA samples, high bytes in the top half, low bytes in the bottom half.
words = np.array([[[258, 65535, 0, 4095], [4096, 1, 300, 1000]],
                  [[12345, 54321, 256, 255], [0, 0, 0, 0]]], np.uint16)  # 2 x 2 pixels
raw_rgba = np.concatenate([(words >> 8).astype(np.uint8), (words & 255).astype(np.uint8)], axis=0)
Image.fromarray(raw_rgba, "RGBA").save(path("scene_RAW.png"))

# Other formats through ImageMagick, from the colour PNG.
for ext in ("bmp", "ppm"):
    subprocess.run(["convert", path("colour.png"), path("colour." + ext)], check=True)
subprocess.run(["convert", path("grey_as_rgb.png"), "-quality", "100", path("grey.jpg")],
               check=True)

# A numbered sequence seq/frame_0003.png .. frame_0007.png, flat frames 10, 20, .. 50.
for k in range(3, 8):
    flat = np.full((4, 6), 10 * (k - 2), np.uint8)
    Image.fromarray(flat, "L").save(path("seq/frame_%04d.png" % k))

# SSIM: a structured 8-bit image and a noisy version; the committed values are
# scikit-image's Gaussian-weighted SSIM (sigma 1.5, no sample-covariance correction).
rng = np.random.default_rng(6)
yy, xx = np.mgrid[0:40, 0:48]
clean = (128 + 80 * np.sin(xx / 5.0) * np.cos(yy / 7.0)).round().clip(0, 255).astype(np.uint8)
noisy = (clean + rng.normal(0, 20, clean.shape)).round().clip(0, 255).astype(np.uint8)
smooth = ((clean.astype(int) * 3 + noisy.astype(int)) // 4).astype(np.uint8)
Image.fromarray(clean, "L").save(path("ssim_clean.png"))
Image.fromarray(noisy, "L").save(path("ssim_noisy.png"))
Image.fromarray(smooth, "L").save(path("ssim_smooth.png"))
# The same index with the 9-tap window (offsets -4..4, edge replication) computed with
# scipy directly, for a tight check of the formula.
def ssim9(x, y):
    g = lambda a: gaussian_filter(a, 1.5, truncate=4 / 1.5, mode="nearest")
    x = x.astype(np.float64)
    y = y.astype(np.float64)
    mx, my = g(x), g(y)
    vxy = g(x * x) - mx * mx + g(y * y) - my * my
    cxy = g(x * y) - mx * my
    k1, k2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    return (2 * mx * my + k1) / (mx * mx + my * my + k1) * (2 * cxy + k2) / (vxy + k2)


with open(path("ssim_expected.txt"), "w") as f:
    f.write("# image, scikit-image: mean over the interior (5-pixel border cropped) and map at"
            " (x 24, y 20); 9-tap scipy: mean over the whole map and map at (24, 20)\n")
    for name, img in (("noisy", noisy), ("smooth", smooth)):
        m, full = structural_similarity(clean, img, gaussian_weights=True, sigma=1.5,
                                        use_sample_covariance=False, data_range=255, full=True)
        nine = ssim9(clean, img)
        f.write("%s %.6f %.6f %.6f %.6f\n" % (name, m, full[20, 24], nine.mean(), nine[20, 24]))
