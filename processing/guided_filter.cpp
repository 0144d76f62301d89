// The self-guided filter.
#include "processing/guided_filter.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "processing/rank_filter.h"
#include "processing/row_bands.h"

void guided_filter(int* in, int w, int h, int r, int epsilon, int* out)
{
    if (!in || !out || w < 1 || h < 1) return;
    const size_t count = (size_t)w * h;
    if (r <= 0 || epsilon == 0 || r > w / 2 || r > h / 2) {
        if (in != out) std::copy(in, in + count, out);
        return;
    }
    std::vector<long long> plane(count), squares(count), mu(count), mu_s(count);
    // The pixel-wise steps in bands of rows over the cores (each pixel on its own).
    auto pixelwise = [&](const std::function<void(size_t, size_t)>& step) {
        over_row_bands(h, (long long)count * 8, [&](int y0, int y1, yield_clock*) { step((size_t)y0 * w, (size_t)y1 * w); });
    };
    pixelwise([&](size_t i0, size_t i1) {
        for (size_t i = i0; i < i1; i++) {
            plane[i] = in[i];
            const long long level = in[i] / 16;
            squares[i] = level * level;
        }
    });
    mean_2d_wide(plane.data(), w, h, r, mu.data());
    mean_2d_wide(squares.data(), w, h, r, mu_s.data());
    const long long eps2 = (long long)epsilon * epsilon;
    std::vector<long long> a(count), b(count);
    pixelwise([&](size_t i0, size_t i1) {
        for (size_t i = i0; i < i1; i++) {
            const double m = mu[i] / 16.0;
            const long long var = (long long)std::max(mu_s[i] - m * m, 0.0);
            a[i] = var + eps2 > 0 ? var * 16 / (var + eps2) : 0;
            b[i] = (16 - a[i]) * mu[i] / 16;
        }
    });
    mean_2d_wide(a.data(), w, h, r, mu.data());
    mean_2d_wide(b.data(), w, h, r, mu_s.data());
    pixelwise([&](size_t i0, size_t i1) {
        for (size_t i = i0; i < i1; i++) {
            const long long v = (long long)(in[i] / 16) * mu[i] + mu_s[i];
            out[i] = (int)std::clamp<long long>(v, INT32_MIN, INT32_MAX);
        }
    });
}
