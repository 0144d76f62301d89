// Noise estimation and the variance-stabilising transforms the pipeline calls.
#pragma once

#include "processing/colour.h"
#include "processing/noise_transforms.h"

// Fills info.histogram (info.histogram_bins bins) for the image of the current size and
// colour layout.
void estimate_histogram(int* image, int width, int height);

// Per-pixel noise level of one plane relative to the filter level, in 1/4096, written
// into `noise` (width x height). Leaves `noise` untouched below 6 x 6.
void estimate_noise_image(int* image, int width, int height, int* noise);
