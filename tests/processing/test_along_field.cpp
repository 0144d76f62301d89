// The along-field smoother over pictures larger than its tiles, against the smoothing written
// out pixel by pixel from its definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/cpu_features.h"
#include "processing/anisotropic_filter.h"
#include "processing/thresholded_filter.h"

namespace {

// Each pixel's weighted mean over the pairs of its window: for every offset o of the half
// window in order (rows 0 .. n, columns -n .. n, the row-0 half before the pixel left out),
// the neighbour at -o then the one at +o, each pair weighing the radial weight times the
// factor of its first pixel, then of its second; a pair counts while the values differ by
// less than the level (x 16), or with a noise map by less than (noise here + noise there) x
// level / 8192.
std::vector<int> smoothed_by_definition(const std::vector<int>& v, int w, int h, double sigma, const double* vx,
                                        const double* vy, const double* extra, bool use_level, int level,
                                        const int* noise)
{
    const int n = (int)std::floor(sigma);
    auto factor = [&](int x, int y, int dx, int dy) {
        const size_t i = (size_t)y * w + x;
        const double d = std::sqrt((double)dx * dx + dy * dy) / 0.65;
        double across = std::fabs(vx[i] * dy - vy[i] * dx);
        if (extra) across += std::min(extra[i], 0.65) * d;
        return 1.0 / (across + 1);
    };
    std::vector<int> out(v.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int own = v[(size_t)y * w + x];
            double s = own, t = 1.0;
            for (int dy = 0; dy <= n; dy++)
                for (int dx = -n; dx <= n; dx++) {
                    if (dy == 0 && dx <= 0) continue;
                    const double g = smoothing_weight(std::sqrt((double)dx * dx + dy * dy), sigma, n);
                    for (int side : {-1, 1}) {
                        const int qx = x + side * dx, qy = y + side * dy;
                        if (qx < 0 || qy < 0 || qx >= w || qy >= h) continue;
                        const int other = v[(size_t)qy * w + qx];
                        const double fp = factor(x, y, dx, dy), fq = factor(qx, qy, dx, dy);
                        double gk = side < 0 ? g * fq * fp : g * fp * fq;
                        const long long bound =
                            noise ? ((long long)noise[(size_t)y * w + x] + noise[(size_t)qy * w + qx]) * level / 8192
                                  : (long long)level * 16;
                        if (use_level && std::llabs((long long)own - other) >= bound) gk = 0;
                        s += gk * other;
                        t += gk;
                    }
                }
            out[(size_t)y * w + x] = t > 0 ? (int)std::round(s / t) : 0;
        }
    return out;
}

}  // namespace

// Wider than a tile's columns and taller than its rows on either core, without and with the
// level test (fixed, or from a noise map with a few negative values), with and without the
// corner term, the SIMD and the plain forms.
TEST(AlongField, TilesGiveTheSmoothingOfTheDefinition)
{
    const int w = 531, h = 100;
    const size_t count = (size_t)w * h;
    uint32_t seed = 11;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<int> v(count);
    std::vector<double> vx(count), vy(count), extra(count);
    std::vector<int> noise(count);
    for (size_t i = 0; i < count; i++) {
        noise[i] = (int)(next() >> 18) * 16 - (i % 97 == 0 ? 70000 : 0);
        v[i] = (int)(next() >> 22) * 16 + (int)(i % w) * 8;
        vx[i] = ((int)(next() >> 20) - 2048) / 1700.0;
        vy[i] = ((int)(next() >> 20) - 2048) / 1700.0;
        extra[i] = (next() >> 22) / 1024.0;
    }
    for (double sigma : {2.5, 4.7})
        for (int level_test : {0, 1, 2})
            for (const double* e : {(const double*)nullptr, (const double*)extra.data()}) {
                filter_params p;
                p.use_level = level_test > 0;
                p.level = 40;
                if (level_test == 2) {
                    p.levelling = true;
                    p.noise = noise.data();
                    p.noise_width = w;
                    p.noise_height = h;
                }
                const std::vector<int> expected = smoothed_by_definition(v, w, h, sigma, vx.data(), vy.data(), e,
                                                                         p.use_level, p.level, p.noise_for(w, h));
                for (bool simd : {true, false}) {
                    SCOPED_TRACE(::testing::Message() << "simd " << simd << " sigma " << sigma << " level test " << level_test
                                                      << " corner term " << (e != nullptr));
                    choose_processing_simd(simd, false);
                    std::vector<int> out(count, -1);
                    int* in = v.data();
                    int* to = out.data();
                    anisotropic_filter_vectors(&in, &to, 1, w, h, sigma, vx.data(), vy.data(), e, p);
                    EXPECT_EQ(out, expected);
                }
            }
    choose_processing_simd(true, true);
}
