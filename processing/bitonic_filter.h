// The bitonic filter: a rank-based opening and closing, each corrected by its own
// smoothed error, blended pixel by pixel towards whichever fits the data better.
#pragma once

#include "processing/filter_params.h"

// One plane. Masks 0, 3, 4, 5, 6 through rank_2d, the area attribute (7) through the
// grain filter (smoothing sigma x 0.25, at least 1), the varying mask (1) per pixel from the
// orientation field `angle` / `strength` (computed here when null). The errors are smoothed
// with p's level scaled by 1.5. r < 1 copies the input.
void bitonic_filter(int* in, int width, int height, int r, double centile, int* out, const double* angle,
                    const double* strength, const filter_params& p);

// The local-mask variant on the whole (possibly multi-channel, interleaved) image: the
// guide and orientation field from the anisotropic filter of the grey plane, the local
// opening and closing of every channel in one call, and for colour with noise_colour the
// gamma transforms around it (p.channels, p.colour, p.noise_colour).
void bitonic_x_filter(int* in, int width, int height, int r, double centile, int* out, const filter_params& p);

// The blend of step 7: with a = |sO|, b = |sC|, (O' b^3 + C' a^3) / (a^3 + b^3) in double,
// truncated; the mean of O' and C' where both errors vanish.
int bitonic_blend(int opened, int closed, int smoothed_open_error, int smoothed_close_error);
