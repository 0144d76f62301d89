// Lunar DFE / DFF bone-densitometry (DXA) files.
#pragma once

#include <vector>

// Loads image record `index` (-1: record 0) of a DXA file: an 8-byte signature whose
// bytes 2 and 6 alone are non-zero; records follow the marker 00 01 00 0C 00 00 00 00
// with nine big-endian words (width at word 2, height at word 3) and big-endian signed
// 16-bit rows (file_type -6). Images whose height is a multiple of 16 (at least 32) get
// the row-shift correction. Returns false (record unchanged) on any check.
bool load_dfe_file(char* path, int index);

// The row-shift correction in place on stored samples (value x 16), width x height,
// height a multiple of 16 and at least 32: per 16-row block boundary a shift of 0.0 ..
// 3.9 rows is estimated, interpolated per row and each block stretched about its centre.
void correct_row_shifts(int* image, int width, int height);

// The shift estimated at boundary b (the best of 0.0, 0.1, .. 3.9 rows).
double estimate_row_shift(const int* image, int width, int b);
