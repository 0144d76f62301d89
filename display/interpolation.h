// Interpolation kernels of the display stage.
#pragma once

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

// Recomputes info.cubic_coeffs from info.cubic_b and info.cubic_c: four coefficients
// (cubic term first) of P1 for 0 <= t < 1, then four of P2 for 1 <= t < 2.
void update_cubic_params();
