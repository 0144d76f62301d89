// The residual histogram and the per-pixel noise map.
#include "processing/noise_estimation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "processing/anisotropic_filter.h"
#include "processing/colour.h"
#include "processing/rank_filter.h"

namespace {

// The plane the estimators look at: the image itself, the shown channel of a colour
// image, or its scaled grey plane.
std::vector<int> grey_plane(const int* image, int w, int h, const filter_params& p, int channel)
{
    const size_t pixels = (size_t)w * h;
    if (!p.colour_processing) return std::vector<int>(image, image + pixels);
    std::vector<int> plane(pixels, 0);
    const int n = p.channels;
    if (channel >= 1 && channel <= n)
        for (size_t i = 0; i < pixels; i++) plane[i] = image[i * n + channel - 1];
    else
        to_grey(const_cast<int*>(image), w, h, (colour_t)p.colour, plane.data(), true);
    return plane;
}

long long nearest(double v) { return (long long)(v >= 0 ? v + 0.5 : v - 0.5); }

// The separable [1 -2 1] x [1 -2 1] residual at interior pixel i.
long long residual(const int* p, int w, size_t i)
{
    auto d = [&](size_t c) { return 2LL * p[c] - p[c - 1] - p[c + 1]; };
    return 2 * d(i) - d(i - w) - d(i + w);
}

}  // namespace

std::vector<int> estimate_histogram(const int* image, int w, int h, const filter_params& p, int channel)
{
    // The histogram is sized from the data: data_max + 1 bins, none for data_max < 0.
    const int bins = std::max(p.data_max + 1, 0);
    std::vector<int> histogram(bins, 0);
    if (!bins || !image || w < 3 || h < 3) return histogram;
    const std::vector<int> g = grey_plane(image, w, h, p, channel);
    auto bin_of = [&](long long e) {
        return (int)std::clamp<long long>(nearest(std::llabs(e) / 6.0 / 16.0), 0, bins - 1);
    };
    std::vector<int> first;
    first.reserve((size_t)(w - 2) * (h - 2));
    for (int y = 1; y < h - 1; y++)
        for (int x = 1; x < w - 1; x++) first.push_back(bin_of(residual(g.data(), w, (size_t)y * w + x)));
    if (first.empty()) return histogram;
    std::nth_element(first.begin(), first.begin() + first.size() * 3 / 4, first.end());
    const double t = (first[first.size() * 3 / 4] - 0.5) * 4.949747468305833 * 16;
    // Flat pixels only: every neighbour within t of the pixel.
    for (int y = 1; y < h - 1; y++)
        for (int x = 1; x < w - 1; x++) {
            const size_t i = (size_t)y * w + x;
            bool flat = true;
            for (int dy = -1; dy <= 1 && flat; dy++)
                for (int dx = -1; dx <= 1; dx++)
                    if ((dx || dy) && std::fabs((double)g[i + dy * w + dx] - g[i]) >= t) {
                        flat = false;
                        break;
                    }
            if (flat) histogram[bin_of(residual(g.data(), w, i))]++;
        }
    return histogram;
}

namespace {

// The absolute scaled second-difference response of one plane.
std::vector<int> noise_response(const int* p, int w, int h, double f)
{
    std::vector<long long> rows((size_t)w * h), both((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            rows[i] = x == 0 ? (long long)p[i] - p[i + 1]
                    : x == w - 1 ? (long long)p[i] - p[i - 1]
                                 : 2LL * p[i] - p[i - 1] - p[i + 1];
        }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            both[i] = y == 0 ? rows[i] - rows[i + w] : y == h - 1 ? rows[i] - rows[i - w] : 2 * rows[i] - rows[i - w] - rows[i + w];
        }
    std::vector<int> out((size_t)w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            const bool edge_x = x == 0 || x == w - 1, edge_y = y == 0 || y == h - 1;
            double v;
            if (edge_x && edge_y)
                v = std::round(both[i] * f / 2);
            else if (edge_x || edge_y)
                v = std::round(both[i] * f / (2 * std::sqrt(3.0)));
            else
                v = std::trunc(both[i] * f / 6);
            out[i] = (int)std::clamp(std::fabs(v), 0.0, 2e9);
        }
    return out;
}

// The smoothed noise level of one (sub-)plane.
std::vector<int> noise_of_plane(const int* p, int w, int h, double f, int s, const filter_params& q)
{
    std::vector<int> response = noise_response(p, w, h, f), smooth((size_t)w * h), out((size_t)w * h);
    anisotropic_filter_2d(response.data(), w, h, 2.6, 0.6, smooth.data(), nullptr, nullptr, nullptr, false, q);
    const int r = std::min({(int)(14 / std::sqrt((double)s)), w / 2, h / 2});
    rank_2d(smooth.data(), w, h, r, 0.06, out.data(), 0, nullptr, false, q);
    return out;
}

}  // namespace

int estimate_noise_image(const int* plane, int w, int h, int* noise, const filter_params& p)
{
    if (!noise || !plane || w < 6 || h < 6) return p.level;
    const size_t pixels = (size_t)w * h;
    const int* const g = plane;
    const bool sensor = p.noise_kind == 1 || p.noise_kind == 2;
    const double f = sensor ? 13.2 : 9.6;
    // The smoothing takes the circular mask without the level, whatever the controls say,
    // and shows no probe.
    const filter_params q = p.with_mask(MASK_CIRCLE).level_off().unprobed();
    std::vector<long long> map(pixels);
    if (sensor && p.colour == COLOUR_RGB) {
        // The four phases of a Bayer-like layout, each estimated on its own.
        for (int py = 0; py < 2; py++)
            for (int px = 0; px < 2; px++) {
                const int sw = (w - px + 1) / 2, sh = (h - py + 1) / 2;
                if (sw < 1 || sh < 1) continue;
                std::vector<int> sub((size_t)sw * sh);
                for (int y = 0; y < sh; y++)
                    for (int x = 0; x < sw; x++) sub[(size_t)y * sw + x] = g[(size_t)(2 * y + py) * w + 2 * x + px];
                const std::vector<int> level = sw >= 3 && sh >= 3 ? noise_of_plane(sub.data(), sw, sh, f, 2, q) : sub;
                for (int y = 0; y < sh; y++)
                    for (int x = 0; x < sw; x++) map[(size_t)(2 * y + py) * w + 2 * x + px] = level[(size_t)y * sw + x];
            }
    } else {
        const std::vector<int> level = noise_of_plane(g, w, h, f, 1, q);
        std::copy(level.begin(), level.end(), map.begin());
    }

    // Relative to the level, in 1/4096, in 64 bits (16-bit data overflow 32).
    long long divisor;
    int level = p.level;
    if (p.levelling) {
        double m = 0;
        for (long long v : map) m += (double)(v / 16);
        m /= pixels;
        if (m <= 1) {
            m = 1;
            level = 1;
        } else {
            level = (int)((1 - 0.75 * std::exp(-m / 20)) * m + 0.5);
        }
        divisor = std::max<long long>((long long)(m + 0.5), 1);
    } else {
        divisor = std::max(p.level, 1);
    }
    for (size_t i = 0; i < pixels; i++)
        noise[i] = (int)std::clamp<long long>(map[i] * 4096 / divisor, 0, INT32_MAX);
    return level;
}
