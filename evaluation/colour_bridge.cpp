#include "evaluation/colour_bridge.h"

#include <cmath>

#if __has_include("processing/colour.h")
#include "processing/colour.h"

colour_bridge_t colour_bridge = {
    [](int c, double* factors, int source) { channel_factor((colour_t)c, factors, (colour_t)source); },
    [](int* image, int w, int h, int c, int range, int centre) {
        return to_rgb(image, w, h, (colour_t)c, range, centre);
    },
    [](int* image, int w, int h, int c) { return to_raw(image, w, h, (colour_t)c); },
    [](int* in, int w, int h, int c, int* out, bool scaled) {
        return to_grey(in, w, h, (colour_t)c, out, scaled);
    },
};
#else
// RGB Alpha and RAW Bayer to RGB, the only conversions of layouts (no processing space).
static int layout_to_rgb(int* image, int width, int height, int c, int range, int centre)
{
    if ((c != 7 && c != 8) || width < 1 || height < 1) return 0;
    const double full = c == 8 ? 4095.0 : 255.0;
    const size_t n = (size_t)width * height;
    for (size_t i = 0; i < n; i++) {
        const int* p = image + 4 * i;
        double x[4];
        for (int k = 0; k < 4; k++) x[k] = (p[k] / 16) / full;
        double rgb[3];
        if (c == 7) {
            for (int k = 0; k < 3; k++) rgb[k] = x[k] * x[3];
        } else {
            rgb[0] = x[0];
            rgb[1] = (x[1] + x[3]) / 2;
            rgb[2] = x[2];
        }
        for (int k = 0; k < 3; k++) {
            double v = std::fmin(std::fmax(rgb[k], 0.0), 1.0);
            if (range > 0) v = (v - centre / full) / (range / full) + 127.0 / 255.0;
            image[3 * i + k] = (int)(v * 255 + 0.5) * 16;
        }
    }
    return 1;
}

// Factors of the data layouts; the processing spaces come with the colour-space module.
static void layout_channel_factor(int c, double* factors, int source)
{
    if (c == 0) {
        factors[0] = (source == 8 || source == 9) ? 0.5 : 0.577;
        return;
    }
    for (int k = 0; k < 4; k++) factors[k] = 1.0;
}

static int no_to_raw(int*, int, int, int) { return 0; }

// The mean of R, G, B (or the four RAW values), scaled by the grey channel factor.
static int layout_to_grey(int* in, int width, int height, int c, int* out, bool scaled)
{
    if ((c != 1 && c != 7 && c != 8) || width < 1 || height < 1) return 0;
    const int n = values_per_pixel(c);
    const double full = c == 8 ? 4095.0 : 255.0;
    const double factor = scaled ? (c == 8 ? 0.5 : 0.577) : 1.0;
    const size_t count = (size_t)width * height;
    for (size_t i = 0; i < count; i++) {
        const int* p = in + n * i;
        double g = c == 8 ? (p[0] / 16 + p[1] / 16 + p[2] / 16 + p[3] / 16) / (4 * full)
                          : (p[0] / 16 + p[1] / 16 + p[2] / 16) / (3 * full);
        g = std::fmin(std::fmax(g, 0.0), 1.0);
        out[i] = (int)(g * full / factor + 0.5) * 16;
    }
    return 1;
}

colour_bridge_t colour_bridge = {layout_channel_factor, layout_to_rgb, no_to_raw, layout_to_grey};
#endif
