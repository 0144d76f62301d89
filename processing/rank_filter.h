// Rank filters over a mask: rank-based openings and closings, medians, the per-pixel
// (varying) mask form, the mean over a mask, and the comparators of the sorting strategy.
// Samples are level x 16; ranks are taken over whole levels (value / 16, truncated towards
// zero) and written back as level x 16. Near the border the window holds only the
// samples that exist. Whole levels make the two strategies (a running histogram of
// levels, or a sorted window) give identical results; micro-CT raw data always sort.
#pragma once

#include "processing/filter_params.h"

// out1 = the rank-based opening at c1 (rank c1, then rank 1 - c1 of that) and out2 the
// same at c2, either output may be null; a median (c1 = 0.5, no out2) is one pass. With
// rank_only, one pass: the rank-c1 image into out1 and the rank-c2 image into out2. When
// r exceeds half the width or height, or a centile lies outside [0, 1], the outputs are
// copies of the input. The mask is p.mask (at p.angle), the strategy p.rank_histogram;
// with p's probe the window at the probe pixel goes to p.probe_out.
void rank_2d(int* in, int width, int height, int r, double c1, int* out1, double c2, int* out2,
             bool rank_only, const filter_params& p);

// The same with the mask of `family` chosen per pixel (mask1 for out1's passes, mask2 for
// out2's; indices clamped to 0 .. count - 1) and the rank of each mask from
// calculate_centile; a median (c1 = 0.5, no out2) is one pass at the middle rank.
void varied_rank_2d(int* in, int width, int height, int r, double c1, int* out1, double c2,
                    int* out2, const int* mask1, const int* mask2, const mask_family& family,
                    const filter_params& p);

// The mean over the mask p.mask at every pixel, rounded half away from zero; the input
// copied when r exceeds half the width or height. With p's probe mode a picture of the
// mask goes to p.probe_out.
void mean_2d(int* in, int width, int height, int r, int* out, const filter_params& p);

// The same over a plane of 64-bit values with the circular mask (the guided filter's box
// means of squared levels).
void mean_2d_wide(const long long* in, int width, int height, int r, long long* out);

// Comparators for qsort: ascending ints; ascending doubles; records of two ints by the
// first then the second; records of a double and an int by the double then the int.
int qsort_int_compare(const void* a, const void* b);
int qsort_compare(const void* a, const void* b);
int qsort_svmf_compare(const void* a, const void* b);
int qsort_dsvmf_compare(const void* a, const void* b);
