// An independent computation of the display image from the record, pixel by pixel, for
// create_display_image: clamped reads of every neighbour, kernels in their textbook forms.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/record.h"
#include "display/interpolation.h"
#include "processing/colour.h"

namespace display_reference {

// Kernel weight of kind at distance t: kinds 3 to 5 the Mitchell-Netravali family k(t) with
// (B, C) = (1, 0), (0, 1/2), (1/3, 1/3), kinds 6 and 7 Lanczos-2 and -3.
inline double weight(int kind, double t)
{
    if (kind >= 6) {
        const int a = kind == 6 ? 2 : 3;
        return t == 0 ? 1 : a * std::sin(M_PI * t) * std::sin(M_PI * t / a) / (M_PI * t * M_PI * t);
    }
    const double B = kind == 3 ? 1 : kind == 4 ? 0 : 1.0 / 3, C = kind == 3 ? 0 : kind == 4 ? 0.5 : 1.0 / 3;
    t = std::fabs(t);
    if (t < 1) return ((12 - 9 * B - 6 * C) * t * t * t + (-18 + 12 * B + 6 * C) * t * t + (6 - 2 * B)) / 6;
    if (t < 2)
        return ((-B - 6 * C) * t * t * t + (6 * B + 30 * C) * t * t + (-12 * B - 48 * C) * t + (8 * B + 24 * C)) / 6;
    return 0;
}

struct plane {
    std::vector<long long> v;
    int rows, cols, n;
    long long at(int col, int row, int ch) const
    {
        col = std::clamp(col, 0, cols - 1);
        row = std::clamp(row, 0, rows - 1);
        return v[((size_t)row * cols + col) * n + ch];
    }
};

// Display level of `kind` at (col + fx, row + fy), reads clamped. `tie` is set when the
// exact level lies on a rounding boundary (x.5), where the order of summation decides.
inline int level_at(const plane& p, int ch, int col, int row, double fx, double fy, int kind,
                    bool& tie)
{
    tie = false;
    double v = 0;
    if (kind == 0 || kind == 1) {
        if (kind == 0) {
            const double e = 0.5 / (info.subsample * info.zoom);
            const bool near_x = fx < e || fx >= 1 - e, near_y = fy < e || fy >= 1 - e;
            if (!near_x || !near_y) return 0;
        }
        v = (double)p.at(col + (fx >= 0.5), row + (fy >= 0.5), ch);
    } else if (kind == 2) {
        v = (1 - fx) * (1 - fy) * p.at(col, row, ch) + fx * (1 - fy) * p.at(col + 1, row, ch) +
            (1 - fx) * fy * p.at(col, row + 1, ch) + fx * fy * p.at(col + 1, row + 1, ch);
    } else {
        const int lo = kind == 7 ? -2 : -1, hi = kind == 7 ? 3 : 2;
        for (int j = lo; j <= hi; j++)
            for (int i = lo; i <= hi; i++)
                v += p.at(col + i, row + j, ch) * weight(kind, i - fx) * weight(kind, j - fy);
    }
    const double level = v / 16;
    tie = std::fabs(level - std::floor(level) - 0.5) < 1e-9;
    return level > 255 ? 255 : level < 0 ? 0 : (int)(level + 0.5);
}

// The display image of a processed image without residual, detail, noise or gradient; with
// `through_interp_data`, interp_data on a clamped copy of each neighbourhood (to match exactly).
// The program narrows the wide kernels on the outermost rings, so `edges` receives, per window
// pixel, how far its source cell lies inside the border (0 on the outer ring, capped at 2; -1 outside).
inline std::vector<unsigned char> compute(std::vector<bool>* ties = nullptr,
                                          bool through_interp_data = false,
                                          std::vector<int>* edges = nullptr)
{
    const int ww = info.window_width, wh = info.window_height;
    std::vector<unsigned char> out((size_t)ww * wh * 3, 0);
    if (ties) ties->assign(out.size(), false);
    if (edges) edges->assign((size_t)ww * wh, -1);
    const double s = info.subsample, z = info.zoom;
    const int ph = info.proc_height, pw = info.proc_width;
    auto clampi = [](double v, int hi) { return (int)std::min(std::max(v, 0.0), (double)hi); };
    const int top = clampi(std::floor((info.centre.y - wh / 2.0 / z) / s) - 2, ph - 1);
    const int bottom = clampi(std::ceil((info.centre.y + wh / 2.0 / z) / s) + 2, ph - 1);
    const int left = clampi(std::floor((info.centre.x - ww / 2.0 / z) / s) - 2, pw - 1);
    const int right = clampi(std::ceil((info.centre.x + ww / 2.0 / z) / s) + 2, pw - 1);
    plane p;
    p.rows = bottom - top + 1;
    p.cols = right - left + 1;
    const int n = info.colour_processing ? info.channels : 1;
    const long long range = std::max(info.window_range, 1);
    auto window = [&](long long v) { return ((v / 16 - info.window_centre) * 255 / range + 127) * 16; };
    p.n = (n == 1) ? 1 : 3;
    p.v.resize((size_t)p.rows * p.cols * p.n);
    std::vector<int> pixel(n);
    for (int r = 0; r < p.rows; r++)
        for (int c = 0; c < p.cols; c++) {
            const int* src = info.processed_image + ((size_t)(top + r) * pw + left + c) * n;
            long long* dst = &p.v[((size_t)r * p.cols + c) * p.n];
            if (n == 1) {
                double v = src[0];
                if (info.colour != 0) {
                    double f;
                    channel_factor(COLOUR_GREY, &f, (colour_t)info.colour);
                    v = std::floor(v * f + 0.5);
                }
                dst[0] = window((long long)v);
            } else if (info.channel > 0) {
                double f[4];
                channel_factor((colour_t)info.colour, f, COLOUR_RGB);
                const double v = src[info.channel - 1] * f[info.channel - 1];
                for (int k = 0; k < 3; k++)
                    dst[k] = window((long long)std::floor(
                        v * colour_info[info.colour].channel_colours[info.channel - 1][k] + 0.5));
            } else if (info.colour == 1) {
                for (int k = 0; k < 3; k++) dst[k] = window(src[k]);
            } else {
                std::copy(src, src + n, pixel.begin());
                to_rgb(pixel.data(), 1, 1, (colour_t)info.colour, info.window_range, info.window_centre);
                for (int k = 0; k < 3; k++) dst[k] = pixel[k];
            }
        }
    for (int r = 0; r < wh; r++) {
        const double y = ((r - wh / 2) / z + info.centre.y) / s - top;
        const int row = (int)std::floor(y);
        if (row < 0 || row >= p.rows) continue;
        for (int c = 0; c < ww; c++) {
            const double x = ((c - ww / 2) / z + info.centre.x) / s - left;
            const int col = (int)std::floor(x);
            if (col < 0 || col >= p.cols) continue;
            const int kind = info.interp;
            const int image_row = top + row, image_col = left + col;
            if (edges)
                (*edges)[(size_t)r * ww + c] = std::min({image_row, ph - 1 - image_row, image_col, pw - 1 - image_col, 2});
            unsigned char* o = &out[((size_t)r * ww + c) * 3];
            if (through_interp_data) {
                for (int k = 0; k < 3; k++) {
                    int local[36];
                    for (int j = 0; j < 6; j++)
                        for (int i = 0; i < 6; i++)
                            local[j * 6 + i] = (int)p.at(col + i - 2, row + j - 2, p.n == 1 ? 0 : k);
                    o[k] = interp_data(local + 14, 1, 6, x - col, y - row, (interp_t)kind, nullptr);
                }
                continue;
            }
            for (int k = 0; k < 3; k++) {
                bool tie;
                o[k] = (unsigned char)level_at(p, p.n == 1 ? 0 : k, col, row, x - col, y - row, kind, tie);
                if (ties) (*ties)[((size_t)r * ww + c) * 3 + k] = tie;
            }
        }
    }
    return out;
}

// The first byte of a display image (`got`, window size) that differs from compute(), -1 when
// none does; bytes on a rounding tie are passed over, and so are the wide kernels (B-spline
// and up) less than two cells inside the border, which the reference does not model.
inline long first_difference(const unsigned char* got, bool through_interp_data = false)
{
    std::vector<bool> ties;
    std::vector<int> edges;
    const std::vector<unsigned char> expected = compute(&ties, through_interp_data, &edges);
    for (size_t i = 0; i < expected.size(); i++)
        if (!ties[i] && (info.interp < INTERP_BSPLINE || edges[i / 3] >= 2) && got[i] != expected[i])
            return (long)i;
    return -1;
}

}  // namespace display_reference
