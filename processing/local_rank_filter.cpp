// The local-mask rank filter.
#include "processing/local_rank_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "processing/masks.h"
#include "processing/row_bands.h"

namespace {

struct local_setup {
    const int* in;
    int w, h, n, r;
    double half_width_scale;  // level x 16
    const int* guide;
    const int* grey;
};

// The admission half-width for pixel (x, y): level x 16 x f from the guide's spread in
// the window and the pixel's distance from its extremes.
double admission(const local_setup& s, int x, int y)
{
    int lo = s.guide[(size_t)y * s.w + x], hi = lo;
    for (int yy = std::max(0, y - s.r); yy <= std::min(s.h - 1, y + s.r); yy++)
        for (int xx = std::max(0, x - s.r); xx <= std::min(s.w - 1, x + s.r); xx++) {
            const int g = s.guide[(size_t)yy * s.w + xx];
            lo = std::min(lo, g);
            hi = std::max(hi, g);
        }
    const double L = s.half_width_scale;
    const double own = s.guide[(size_t)y * s.w + x];
    const double m1 = (hi - lo) / L, m2 = std::min(own - lo, hi - own) / L;
    double f = m1 < 0.9 ? 1.6 : m1 <= 1.57 ? 1.6 - (m1 - 0.9) * 0.9 / 0.67 : 0.7;
    if (f < 1 && m2 < 0.7) f = 1 - m2 * (1 - f) / 0.7;
    return L * f;
}

// One pass: per pixel and channel, the sample of centile p among the admitted neighbours
// of `src`, written to dst.
void local_pass(const local_setup& s, const int* src, double p, int* dst)
{
    over_row_bands(s.h, (long long)s.w * s.h * (2 * s.r + 1) * (2 * s.r + 1), [&](int y0, int y1, yield_clock* clock) {
        std::vector<int> at;
        std::vector<int> levels;
        for (int y = y0; y < y1; y++) {
            for (int x = 0; x < s.w; x++) {
                const double limit = admission(s, x, y);
                const long long centre = s.guide[(size_t)y * s.w + x];
                at.clear();
                for (int yy = std::max(0, y - s.r); yy <= std::min(s.h - 1, y + s.r); yy++)
                    for (int xx = std::max(0, x - s.r); xx <= std::min(s.w - 1, x + s.r); xx++) {
                        const size_t q = (size_t)yy * s.w + xx;
                        if (std::llabs(s.grey[q] - centre) <= limit) at.push_back((int)q);
                    }
                const size_t self = (size_t)y * s.w + x;
                for (int ch = 0; ch < s.n; ch++) {
                    if (at.empty()) {
                        dst[self * s.n + ch] = src[self * s.n + ch];
                        continue;
                    }
                    levels.clear();
                    for (int q : at) levels.push_back(src[(size_t)q * s.n + ch] / 16);
                    const int idx = rank_index(p, (int)levels.size());
                    std::nth_element(levels.begin(), levels.begin() + idx, levels.end());
                    dst[self * s.n + ch] = levels[idx] * 16;
                }
            }
            if (clock) clock->maybe_yield();
        }
    });
}

}  // namespace

void rank_2d_x(int* in, int w, int h, int n_channels, int r, int level, double c, int, int* open,
               int* close, int* guide, int* grey)
{
    if (!in || w < 1 || h < 1 || n_channels < 1 || n_channels > 4) return;
    const size_t count = (size_t)w * h * n_channels;
    if (r < 1 || r > w / 2 || r > h / 2 || !(c >= 0 && c <= 0.5) || !open || !close || !guide) {
        if (open && open != in) std::copy(in, in + count, open);
        if (close && close != in) std::copy(in, in + count, close);
        return;
    }
    local_setup s{in, w, h, n_channels, r, std::max(level, 1) * 16.0, guide, grey ? grey : in};
    if (!grey && n_channels != 1) s.grey = guide;
    std::vector<int> work(count);
    local_pass(s, in, c, work.data());
    local_pass(s, work.data(), 1 - c, open);
    local_pass(s, in, 1 - c, work.data());
    local_pass(s, work.data(), c, close);
}
