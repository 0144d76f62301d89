// Noise estimation for the pipeline: the residual histogram and the per-pixel noise map
// (the block-PCA estimator is in noise_variance.h, the transforms in noise_transforms.h).
#pragma once

#include "processing/colour.h"
#include "processing/noise_transforms.h"

// The residual histogram of the image (grey, the shown channel, or the scaled grey plane
// of colour data): the separable [1 -2 1] residual of the flat pixels, binned in levels /
// 6. info.histogram is sized to data_max + 1 bins (none when data_max < 0).
void estimate_histogram(int* image, int width, int height);

// Per-pixel noise level of one plane (one value per pixel, whatever the colour space:
// the caller reduces colour data first) relative to the filter level (4096 x 16 is the
// level), written into `noise` (width x height): the smoothed second-difference response,
// opened at centile 0.06. With the automatic level (levelling) the level is first set from
// the mean response. Leaves `noise` untouched below 6 x 6.
void estimate_noise_image(int* plane, int width, int height, int* noise);
