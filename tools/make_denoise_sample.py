#!/usr/bin/python3
"""Makes the bundled denoising sample in data/samples (run from the repository root).

camera_all_ref_016.png is scikit-image's "camera" picture (CC0, Lav Varshney);
camera_all_noise_016.png is that picture with Gaussian noise of standard deviation 16
grey levels (seed 2026), rounded and clipped to 0..255. The names follow the
"_all_noise_016" / "_all_ref_016" rule, so opening the noisy image finds the reference,
sets level 100 and the window 127/155.
"""
import os

import numpy as np
from PIL import Image
from skimage import data

OUT = "data/samples"
os.makedirs(OUT, exist_ok=True)
clean = data.camera()
rng = np.random.default_rng(2026)
noisy = np.clip(np.round(clean + rng.normal(0.0, 16.0, clean.shape)), 0, 255).astype(np.uint8)
Image.fromarray(clean, "L").save(os.path.join(OUT, "camera_all_ref_016.png"), optimize=True)
Image.fromarray(noisy, "L").save(os.path.join(OUT, "camera_all_noise_016.png"), optimize=True)

# The PSNR of the noisy image in the range the reference spans (25/41 of full scale),
# for the record in data/samples/README.md.
r = 25 / 41
mse = np.mean(((noisy.astype(float) - clean) / 255 / r) ** 2)
print("PSNR %.2f dB" % (-10 * np.log10(mse)))
