// The area-attribute grain filter of one plane.
#pragma once

// With A = (2r - 1)^2 pixels: every bright grain (a 4-connected region of the upper level
// sets) of area at most (1 - c) A is flattened to the level around it (an area opening),
// then every dark grain of area at most c A (an area closing). So c < 0.5 removes bright
// grains more than dark ones, c > 0.5 the reverse, and c = 0.5 treats both alike. Limits
// of one or two pixels come from each pixel's neighbourhood; larger ones from a flood of
// bands of rows with margins (two halves on two cores), or of the component tree in bands
// joined at the seams when the margins would be too wide, so large flat regions cost no
// more than small ones. r < 1 copies the input.
void grain_filter_2d(int* in, int width, int height, int r, double c, int* out);

// The area opening alone: connected components (4-connectivity) of every upper level set
// with at most `limit` pixels are removed. The input may be the output.
void area_opening(const int* in, int width, int height, long long limit, int* out);

// Two grain filters side by side, one on each core (out_a = the filter of in_a at c_a, out_b
// of in_b at c_b); neither output may be either input.
void grain_filter_2d_pair(int width, int height, int r, const int* in_a, double c_a, int* out_a, const int* in_b,
                          double c_b, int* out_b);

// The four grain filters of OCCO with the area mask: O at c and C at 1 - c of the input,
// then CO at 1 - c of O and OC at c of C.
void grain_occo(const int* in, int width, int height, int r, double c, int* O, int* C, int* CO, int* OC);
