// Structural similarity (SSIM) maps of 8-bit planes.
#pragma once

// SSIM of y against x, and, when z and map_xz are given, of z against x. The planes hold
// 8-bit values (0..255) as ints, width x height, rows top first. Local statistics use a
// Gaussian window of sigma 1.5 pixels over 9 taps (offsets -4..4) with edge replication;
// constants K1 = (0.01 x 255)^2 and K2 = (0.03 x 255)^2. Each map value is SSIM x 4080,
// truncated toward zero. Does nothing when width or height is below 1.
void ssim(int* x, int* y, int width, int height, int* map_xy, int* z, int* map_xz);
