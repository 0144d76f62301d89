// The level-thresholded Gaussian: neighbours too different from the centre are ignored.
#pragma once

#include "processing/filter_params.h"

// Filters one plane of width x height samples into `out` (not allocated here). Weights
// exp(-(2d / sigma)^2) over the (2n + 1)^2 window, n = floor(sigma), lifted for n = 1 and
// 2 as the Gaussian's taps are; a neighbour counts only while its difference from the
// centre is below p.level x 16 (or, with the automatic level and a noise map of this size,
// (noise there + noise here) x level / 8192). Rows and columns beyond the border are
// clamped to it. Below n = 1 the output is a copy.
void thresholded_filter_2d(int* in, int width, int height, double sigma, int* out, const filter_params& p);

// The radial weight both the thresholded and the anisotropic filter use at distance d
// for half-width n.
double smoothing_weight(double d, double sigma, int n);
