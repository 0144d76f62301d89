// Interpolation kernels of the display stage.
#pragma once

#include "core/geometry.h"

// The eight display interpolation kinds.
enum interp_t {
    INTERP_NONE = 0,        // nearest, black between samples when zoomed in
    INTERP_NEAREST = 1,
    INTERP_LINEAR = 2,
    INTERP_BSPLINE = 3,     // cubic, B = 1, C = 0
    INTERP_CATMULL_ROM = 4, // cubic, B = 0, C = 0.5
    INTERP_MITCHELL = 5,    // cubic, B = C = 1/3
    INTERP_LANCZOS2 = 6,
    INTERP_LANCZOS3 = 7,
};

enum { INTERP_KINDS = 8 };

// The interpolation choice's label for kind k (untranslated), or null outside 0..7.
const char* interp_label(int kind);


// What the interpolation choice does: interp = kind, and for the cubic kinds 3, 4, 5 the
// parameters (C, B) = (0, 1), (0.5, 0), (1/3, 1/3) with update_cubic_params().
void select_interpolation(int kind);

// Interpolates at the fractional offset (fx, fy), 0 <= fx, fy < 1, from the sample `data`
// points at; `step` separates horizontal neighbours and `row_step` vertical ones. The
// kernel reads from -2 to +3 steps around `data` (kind 7), -1..+2 (kinds 3 to 6) or
// 0..+1 (kinds 0 to 2); the caller keeps those reads inside its array. Returns the display
// level 0..255 ((int)(level + 0.5) of the sum / 16, clamped); `value`, when given,
// receives the unclamped level. Kind 0 gives 0 away from the sample's own display pixel
// (which depends on info.subsample and info.zoom). The B-spline and Mitchell kernels
// smooth: they do not reproduce the samples.
unsigned char interp_data(const int* data, int step, int row_step, double fx, double fy,
                          interp_t kind, double* value);

// The gradient of the interpolant at (fx, fy) as a display level: its magnitude / 16, or
// with a profile line the derivative along the line centred on 127. `direction` receives
// the unit vector of the negated gradient ((0, 0) on a flat spot).
unsigned char interp_grad(const int* data, int step, int row_step, double fx, double fy,
                          interp_t kind, vertex2d* direction);

// Weights of the separable kernels 3 to 7 at fraction f: 4 taps for offsets -1..2, or 6
// for offsets -2..3 (kind 7). Returns the tap count, 0 for the other kinds.
int interp_weights(interp_t kind, double f, double* w);

// The Lanczos kernel a sin(pi t) sin(pi t / a) / (pi t)^2, 1 at t = 0.
double lanczos(int a, double t);

// Sums data[i step + j row_step] wx[i] wy[j] over the taps, row by row: the order every
// separable interpolation of the display stage uses.
inline double separable_sum(const int* d, int step, int row_step, const double* wx,
                            const double* wy, int taps)
{
    double v = 0.0;
    for (int j = 0; j < taps; j++, d += row_step) {
        double r = 0.0;
        const int* p = d;
        for (int i = 0; i < taps; i++, p += step) r += p[0] * wx[i];
        v += r * wy[j];
    }
    return v;
}

// The display level of an interpolated sum: (int)(sum / 16 + 0.5), clamped to 0..255.
inline unsigned char display_level(double sum)
{
    const double level = sum / 16;
    if (level > 255) return 255;
    if (level < 0) return 0;
    return (unsigned char)(int)(level + 0.5);
}
