// The colour conversions that comparison and saving borrow from the colour-space module.
//
// When the colour-space module (processing/colour.h) is part of the build, these are its
// functions. Without it only the data layouts (grey, RGB, RGB with alpha, RAW Bayer) are
// served and the processing spaces (HSV .. YUVdG) report that they cannot be converted.
#pragma once

struct colour_bridge_t {
    // Channel scale factors of space c for data of space `source` (3 or 4 values, 1 for
    // grey).
    void (*channel_factor)(int c, double* factors, int source);
    // Whole-image conversion of c (3 or 4 values per pixel) to RGB, packed in place;
    // nonzero on success.
    int (*to_rgb)(int* image, int width, int height, int c, int range, int centre);
    // Whole-image conversion of YUVdG back to RAW Bayer, in place; nonzero on success.
    int (*to_raw)(int* image, int width, int height, int c);
    // One grey plane from 3 or 4 values per pixel of space c; nonzero on success.
    int (*to_grey)(int* in, int width, int height, int c, int* out, bool scaled);
};

extern colour_bridge_t colour_bridge;

// Values per pixel of a colour space: 1 grey, 4 for RGB Alpha, RAW Bayer and YUVdG, else 3.
inline int values_per_pixel(int c) { return c == 0 ? 1 : (c >= 7 && c <= 9) ? 4 : 3; }
