// Interpolation kernels of the display stage.
#include "display/interpolation.h"

#include "app/record.h"

void update_cubic_params()
{
    const double B = info.cubic_b, C = info.cubic_c;
    double* p = info.cubic_coeffs;
    p[0] = (12 - 9 * B - 6 * C) / 6;
    p[1] = (-18 + 12 * B + 6 * C) / 6;
    p[2] = 0.0;
    p[3] = (6 - 2 * B) / 6;
    p[4] = (-B - 6 * C) / 6;
    p[5] = (6 * B + 30 * C) / 6;
    p[6] = (-12 * B - 48 * C) / 6;
    p[7] = (8 * B + 24 * C) / 6;
}
