// Rank filters by a bitwise search over many pixels at once (AVX2).
//
// The level of rank k in a window is the largest t for which fewer than k + 1 samples lie
// below t. That t is found from the top bit down: try the bit, keep it when the count of
// samples below the candidate stays within k. Each try is one compare and one subtract per
// sample for 32 (levels within 256) or 16 (within 65536) neighbouring pixels at a time, so a
// window of n samples and levels of b bits cost about 2 b n / 32 operations per pixel,
// with no histogram to keep. Levels are taken relative to the plane's lowest, in a copy of
// the plane padded by r on every side with the highest code: a padding sample is never
// below a candidate, so it never counts, and near the border the rank k of the samples that
// exist (from their number) gives the same level as a window clipped to the image.
#pragma once

#include <vector>

#include "processing/masks.h"

// Ranks ranks[j][n] (j < np, np 1 or 2; n the window's samples inside the image) of the
// levels under mask m at every pixel, written as level x 16 into outs[j]; lo, hi bound the
// plane's levels. Returns false, writing nothing, when AVX2 is not in use or the levels
// span more than 65536 values.
bool rank_pass_bits(const int* in, int w, int h, const mask_runs& m, const std::vector<int>* ranks, int np,
                    int* const* outs, int lo, int hi);

// The same with each pixel's own mask: masks[mask_of[pixel]] (clamped to the masks held),
// rank rank_at[j][mask * (most + 1) + n], n the samples of that mask inside the image; a
// pixel with none keeps its input. False, writing nothing, when AVX2 is not in use, the
// levels span more than 65536 values or there are more than 32 masks.
bool varied_pass_bits(const int* in, int w, int h, const std::vector<mask_runs>& masks, const int* mask_of,
                      const std::vector<int>* rank_at, int most, int np, int* const* outs, int lo, int hi);
