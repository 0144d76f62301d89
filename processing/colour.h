// Colour spaces: the ten spaces images are filtered in, their names and display tints,
// and the conversions between them.
//
// Per-pixel conversions work on reals with full scale 1.0 and return 1 on success, 0
// (output untouched) when the space is not handled. Whole-image conversions work in
// place on the record's samples (level x 16, channels interleaved) and return nonzero on
// success, 0 when the space is not handled or width or height is below 1. Reading a
// sample takes value / 16 truncated towards zero; writing a non-negative level x stores
// (int)(x + 0.5) x 16. Full scale is 255 levels, 4095 for the RAW spaces 8 and 9.
#pragma once

#include <wx/string.h>

enum colour_t {
    COLOUR_GREY = 0,
    COLOUR_RGB = 1,
    COLOUR_HSV = 2,
    COLOUR_YCBCR = 3,
    COLOUR_XYZ = 4,
    COLOUR_LAB = 5,
    COLOUR_LCH = 6,
    COLOUR_RGBA = 7,   // data layout only: R, G, B, alpha
    COLOUR_RAW = 8,    // data layout only: R, G1, B, G2 of a Bayer sensor
    COLOUR_YUVDG = 9,  // processing space of RAW data
};

enum { COLOUR_SPACES = 10 };

struct colour_info_t {
    wxString name;                 // "RGB", "CIE L*a*b", ...
    wxString channel_names[4];     // "None" for channels the space lacks
    double channel_colours[4][3];  // tint (red, green, blue in 0..1) of each channel
};

// Indexed by colour_t. Filled statically with the English texts; translate_colour_info()
// passes them through the translation lookup once the locale is set.
extern colour_info_t colour_info[COLOUR_SPACES];
void translate_colour_info();

// Channels of a space: 1 for Grey, 4 for RGB Alpha, RAW Bayer and YUVdG, else 3.
int colour_channels(colour_t c);

// The scale of each stored channel (a converted value c in 0..1 is stored as c / factor)
// chosen so equal noise in the input channels gives equal noise in every channel.
// Writes 3 or 4 values, or for Grey one value: 0.5 when `source` is RAW Bayer or YUVdG,
// else 0.577.
void channel_factor(colour_t c, double* factors, colour_t source);

// Per pixel, reals with full scale 1.
int from_rgb(double* rgb, double* out, colour_t c);  // c = 2..6; negatives become 0
int to_rgb(double* in, double* rgb, colour_t c);     // c = 2..9; clamps to [0, 1];
                                                     // HSV reduces in[0] in place
int from_raw(double* raw, double* out, colour_t c);  // c = 9; clamps below at 0
int to_raw(double* in, double* raw, colour_t c);     // c = 9; clamps below at 0
int to_grey(double* in, double& grey, colour_t c);   // c = 1..9; mean of the RGB (RAW)
                                                     // values in clamped to [0, 1]

// Whole images, in place.
// 3 interleaved RGB channels to space c (2..6); stops at the first pixel rejected.
int from_rgb(int* image, int width, int height, colour_t c);
// 4 interleaved RAW channels (R, G1, B, G2) to YUVdG (c = 9 only).
int from_raw(int* image, int width, int height, colour_t c);
// YUVdG back to RAW (c = 9 only); negatives stored as 0, no upper clamp.
int to_raw(int* image, int width, int height, colour_t c);
// Space c (2..9) to RGB, three values per pixel packed from the start of the array.
// With range > 0 each channel is windowed: (v - centre / M) / (range / M) + 127/255.
int to_rgb(int* image, int width, int height, colour_t c, int range, int centre);
// The same on 8-bit samples (no fixed point); results clamped to 0..255.
int to_rgb(unsigned char* image, int width, int height, colour_t c, int range, int centre);
// One grey plane from space c (1..9): q(grey x M / n), n = 1 unscaled, else the Grey
// channel factor (0.5 for RAW spaces, 0.577 otherwise). `out` is not written on failure.
int to_grey(int* in, int width, int height, colour_t c, int* out, bool scaled);
