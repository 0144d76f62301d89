// Noise estimation for the pipeline: the residual histogram and the per-pixel noise map
// (the block-PCA estimator is in noise_variance.h, the transforms in noise_transforms.h).
#pragma once

#include "processing/colour.h"
#include "processing/noise_transforms.h"
#include "processing/filter_params.h"

#include <vector>

// The residual histogram of the image (grey, or for colour processing channel `channel`
// (1-based) of p.channels, or the scaled grey plane when no such channel): the separable
// [1 -2 1] residual of the flat pixels, binned in levels / 6. p.data_max + 1 bins (none
// when data_max < 0).
std::vector<int> estimate_histogram(const int* image, int width, int height, const filter_params& p, int channel);

// Per-pixel noise level of one plane (one value per pixel, whatever the colour space:
// the caller reduces colour data first) relative to the filter level (4096 x 16 is the
// level), written into `noise` (width x height): the smoothed second-difference response,
// opened at centile 0.06. With the automatic level (p.levelling) the level is first found
// from the mean response. Returns the level (p.level without the automatic level, or
// below 6 x 6, where `noise` is left untouched).
int estimate_noise_image(const int* plane, int width, int height, int* noise, const filter_params& p);
