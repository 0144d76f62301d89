// The separable Gaussian filter of one plane, used for sub-sampling pre-filters, the
// "Gaussian filter" choice and the smoothing inside other filters.
#pragma once

#include "processing/filter_params.h"

// Filters one plane of width x height samples into `out` (not allocated here).
// Half-width n = floor(sigma); below 1 the output is a copy. Tap j (-n..n) is
// exp(-(2j / sigma)^2), with the outer taps of n = 1 and the outer and inner taps of
// n = 2 lifted towards 1, normalised to sum 1. Rows then columns in double precision,
// samples beyond the border replaced by the nearest border sample, the result rounded
// half away from zero. While the "Gaussian filter" is chosen with the level in force the
// level-thresholded variant runs instead (see thresholded_filter.h): p.filter is
// FILTER_GAUSSIAN with p.use_level.
void filter_2d(int* in, int width, int height, double sigma, int* out, const filter_params& p = {});

// The plain Gaussian whatever the filter choice: the anti-aliasing filter of sub-sampling
// must not become the level-thresholded one.
void gaussian_blur_2d(int* in, int width, int height, double sigma, int* out);

// The normalised kernel filter_2d uses for sigma (2 floor(sigma) + 1 taps; empty when
// floor(sigma) < 1). For tests and for filters that convolve on their own.
void gaussian_kernel(double sigma, double* taps);
