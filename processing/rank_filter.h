// Rank filters over a mask: rank-based openings and closings, medians, the per-pixel
// (varying) mask form, the mean over a mask, and the comparators of the sorting strategy.
// Samples are level x 16; ranks are taken over whole levels (value / 16, truncated towards
// zero) and written back as level x 16. Near the border the window holds only the
// samples that exist. Whole levels make the two strategies (a running histogram of
// levels, or a sorted window) give identical results; micro-CT raw data always sort.
#pragma once

// out1 = the rank-based opening at c1 (rank c1, then rank 1 - c1 of that) and out2 the
// same at c2, either output may be null; a median (c1 = 0.5, no out2) is one pass. With
// rank_only, one pass: the rank-c1 image into out1 and the rank-c2 image into out2. When
// r exceeds half the width or height, or a centile lies outside [0, 1], the outputs are
// copies of the input.
void rank_2d(int* in, int width, int height, int r, double c1, int* out1, double c2, int* out2,
             bool rank_only, bool unused = false);

// The same with the mask of the record's family chosen per pixel (mask1 for out1's
// passes, mask2 for out2's; mask indices 0 .. count - 1) and the rank of each mask from
// calculate_centile; a median (c1 = 0.5, no out2) is one pass at the middle rank.
void varied_rank_2d(int* in, int width, int height, int r, double c1, int* out1, double c2,
                    int* out2, int* mask1, int* mask2, int count);

// The mean over the mask of the current choice at every pixel, rounded half away from
// zero; the input copied when r exceeds half the width or height.
void mean_2d(int* in, int width, int height, int r, int* out);

// The same over a plane of 64-bit values with the circular mask (the guided filter's box
// means of squared levels).
void mean_2d_wide(const long long* in, int width, int height, int r, long long* out);

// Comparators for qsort: ascending ints; ascending doubles; records of two ints by the
// first then the second; records of a double and an int by the double then the int.
int qsort_int_compare(const void* a, const void* b);
int qsort_compare(const void* a, const void* b);
int qsort_svmf_compare(const void* a, const void* b);
int qsort_dsvmf_compare(const void* a, const void* b);

// Whether the rank filters use the running histogram (the record's switch, and never for
// micro-CT raw data).
bool rank_by_histogram();
