// The local-mask rank filter: each pixel's mask is the part of its square window whose
// grey values lie near the pixel's guide value.
#pragma once

#include "processing/filter_params.h"

// Local-mask opening (rank c, then rank 1 - c, over each pixel's admitted neighbours)
// into `open` and closing (rank 1 - c, then rank c) into `close`, for n_channels
// interleaved channels; a null output is not made (the closing of an opening needs only
// the closing). A neighbour q of pixel p is admitted when |grey(q) - guide(p)| is
// at most p.level x 16 x f, where f (0.7 .. 1.6) shrinks as the guide's spread in the window
// grows and, for a pixel near one of the window's extremes, grows back towards 1. Ranks
// are taken over the admitted neighbours (the centile of their count); a pixel that
// admits none keeps its value. Outside 1 <= r <= half the width and height, 1..4 channels
// and 0 <= c <= 0.5 the outputs asked for are copies of the input. The level is p.level; with p's
// probe the window of the probe pixel goes to p.probe_out.
void rank_2d_x(int* in, int width, int height, int n_channels, int r, double c, int* open, int* close,
               int* guide, int* grey, const filter_params& p);
