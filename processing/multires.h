// The resampling operators of the multi-resolution pyramid. A coarse plane of w2 x h2 with
// w2 = (w - 1) / 2 + 1, h2 = (h - 1) / 2 + 1 belongs to a fine plane of w x h; coarse
// sample (x, y) sits on fine sample (2x, 2y). Kernels are chosen by p.restrict_kind and
// p.interpolate_kind (both 2 by default).
// Every output sample is rounded to the nearest whole level.
#pragma once

#include "processing/filter_params.h"

// Fine to coarse: 1 binomial 3 x 3 (renormalised at the border), 2 the half-band filter
// (-1, 0, 9, 16, 9, 0, -1) / 32, 3 (1, 4, 6, 4, 1) / 16, 4 (1, 2, 1) / 4, 5 the 3 x 3
// median; then every second sample. Samples beyond the border repeat the border.
void restrict(int* in, int w, int h, int* out, int w2, int h2, const filter_params& p);

// Coarse to fine (out overwritten): 2 copies on the coarse grid and (9 (a + b) - (c + d)) /
// 16 half-way, rows then columns; 1 and 3 linear half-way; 4 the (1, 6, 1) / 8 subdivision;
// anything else the nearest coarse sample.
void interpolate(int* in, int w2, int h2, int* out, int w, int h, const filter_params& p);

// The same over p.channels interleaved channels when p.colour_processing is on.
void restrict_data(int* in, int w, int h, int* out, int w2, int h2, const filter_params& p);
void interpolate_data(int* in, int w2, int h2, int* out, int w, int h, const filter_params& p);

// value rounded to the nearest multiple of 16 (a whole level).
int whole_level(int value);
