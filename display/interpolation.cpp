// Interpolation kernels of the display stage.
#include "display/interpolation.h"

#include <cmath>

#include "core/record.h"

static const char* const interp_labels[INTERP_KINDS] = {
    "No interpolation", "Nearest neighbour", "Bi-linear", "Cubic B spline",
    "Cubic Catmull-Rom spline", "Cubic Mitchell-Netravali spline",
    "Lanczos (a=2) interpolation", "Lanczos (a=3) interpolation"};

const char* interp_label(int kind)
{
    return kind >= 0 && kind < INTERP_KINDS ? interp_labels[kind] : nullptr;
}

void select_interpolation(int kind)
{
    info.interp = kind;
    if (kind == INTERP_BSPLINE) {
        info.cubic_c = 0.0;
        info.cubic_b = 1.0;
    } else if (kind == INTERP_CATMULL_ROM) {
        info.cubic_c = 0.5;
        info.cubic_b = 0.0;
    } else if (kind == INTERP_MITCHELL) {
        info.cubic_c = 1.0 / 3;
        info.cubic_b = 1.0 / 3;
    } else {
        return;
    }
    update_cubic_params();
}

static inline double poly(const double* c, double t) { return ((c[0] * t + c[1]) * t + c[2]) * t + c[3]; }
static inline double poly_slope(const double* c, double t) { return (3 * c[0] * t + 2 * c[1]) * t + c[2]; }

double lanczos(int a, double t)
{
    if (t == 0) return 1.0;
    const double x = M_PI * t;
    return a * std::sin(x) * std::sin(x / a) / (x * x);
}

int interp_weights(interp_t kind, double f, double* w)
{
    switch (kind) {
    case INTERP_BSPLINE:
    case INTERP_CATMULL_ROM:
    case INTERP_MITCHELL: {
        const double* p1 = info.cubic_coeffs;
        const double* p2 = info.cubic_coeffs + 4;
        w[0] = poly(p2, 1 + f);
        w[1] = poly(p1, f);
        w[2] = poly(p1, 1 - f);
        w[3] = poly(p2, 2 - f);
        return 4;
    }
    case INTERP_LANCZOS2:
        for (int i = -1; i <= 2; i++) w[i + 1] = lanczos(2, i - f);
        return 4;
    case INTERP_LANCZOS3:
        for (int i = -2; i <= 3; i++) w[i + 2] = lanczos(3, i - f);
        return 6;
    default:
        return 0;
    }
}

// The sample kind 1 shows: the nearer grid point in each direction.
static inline int nearest_sample(const int* d, int step, int row_step, double fx, double fy)
{
    return d[(int)std::floor(fx + 0.5) * step + (int)std::floor(fy + 0.5) * row_step];
}

unsigned char interp_data(const int* d, int step, int row_step, double fx, double fy,
                          interp_t kind, double* value)
{
    double v;
    switch (kind) {
    case INTERP_NONE: {
        // Half a display pixel in processed pixels: only the display pixel that holds the
        // sample shows it.
        const double e = 0.5 / (info.subsample * info.zoom);
        const bool on_x = fx < e || fx >= 1 - e, on_y = fy < e || fy >= 1 - e;
        if (!(on_x && on_y)) {
            if (value) *value = 0.0;
            return 0;
        }
        v = nearest_sample(d, step, row_step, fx, fy);
        break;
    }
    case INTERP_NEAREST:
        v = nearest_sample(d, step, row_step, fx, fy);
        break;
    case INTERP_LINEAR:
        v = (d[step + row_step] * fx + d[row_step] * (1 - fx)) * fy +
            (d[step] * fx + d[0] * (1 - fx)) * (1 - fy);
        break;
    case INTERP_BSPLINE:
    case INTERP_CATMULL_ROM:
    case INTERP_MITCHELL:
    case INTERP_LANCZOS2:
    case INTERP_LANCZOS3: {
        double wx[6], wy[6];
        const int taps = interp_weights(kind, fx, wx);
        interp_weights(kind, fy, wy);
        const int back = taps / 2 - 1;
        v = separable_sum(d - back * step - back * row_step, step, row_step, wx, wy, taps);
        break;
    }
    default:
        v = 0.0;
    }
    if (value) *value = v / 16;
    return display_level(v);
}

unsigned char interp_grad(const int* d, int step, int row_step, double fx, double fy,
                          interp_t kind, vertex2d* direction)
{
    double gx = 0.0, gy = 0.0;
    if (kind == INTERP_BSPLINE || kind == INTERP_CATMULL_ROM || kind == INTERP_MITCHELL) {
        const double* p1 = info.cubic_coeffs;
        const double* p2 = info.cubic_coeffs + 4;
        double wx[4], wy[4], ux[4], uy[4];
        interp_weights(kind, fx, wx);
        interp_weights(kind, fy, wy);
        ux[0] = -poly_slope(p2, 1 + fx);
        ux[1] = -poly_slope(p1, fx);
        ux[2] = poly_slope(p1, 1 - fx);
        ux[3] = poly_slope(p2, 2 - fx);
        uy[0] = -poly_slope(p2, 1 + fy);
        uy[1] = -poly_slope(p1, fy);
        uy[2] = poly_slope(p1, 1 - fy);
        uy[3] = poly_slope(p2, 2 - fy);
        const int* base = d - step - row_step;
        gx = separable_sum(base, step, row_step, ux, wy, 4);
        gy = separable_sum(base, step, row_step, wx, uy, 4);
    } else {
        gx = (d[0] - d[step]) * (1 - fy) + (d[row_step] - d[step + row_step]) * fy;
        gy = (d[0] * (1 - fx) + d[step] * fx) - (d[row_step] * (1 - fx) + d[step + row_step] * fx);
    }
    const double m = std::sqrt(gx * gx + gy * gy);
    if (direction) *direction = m > 0 ? vertex2d(gx / m, gy / m) : vertex2d(0, 0);
    const double dx = info.line_end.x - info.line_start.x;
    const double dy = info.line_end.y - info.line_start.y;
    double level;
    if (dx == 0 && dy == 0)
        level = m / 16;
    else
        level = (dx * gx + dy * gy) / (16 * std::sqrt(dx * dx + dy * dy)) * 0.5 + 127;
    if (level > 255) return 255;
    if (level < 0) return 0;
    return (unsigned char)(int)level;
}
