// The level-thresholded Gaussian: neighbours too different from the centre are ignored.
#pragma once

// Filters one plane of width x height samples into `out` (not allocated here).
void thresholded_filter_2d(int* in, int width, int height, double sigma, int* out);
