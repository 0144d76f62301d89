// The level-thresholded Gaussian.
#include "processing/thresholded_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>


double smoothing_weight(double d, double sigma, int n)
{
    const double u = 2 * d / sigma, g = std::exp(-u * u);
    if (d > 0 && n == 1) return (1 - 0.75 / d) * g + 0.75 / d;
    if (d > 0 && n == 2) return (1 - 0.25 / d) * g + 0.25 / d;
    return g;
}

void thresholded_filter_2d(int* in, int w, int h, double sigma, int* out, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1) return;
    const size_t count = (size_t)w * h;
    const int n0 = (int)std::floor(sigma);
    if (n0 < 1) {
        if (in != out) std::copy(in, in + count, out);
        return;
    }
    // A window wider than the image only repeats its border rows and columns; it is held
    // to the image's size so a huge sigma cannot take hours.
    const int n = std::min(n0, std::max(w, h));
    std::vector<int> copy;
    const int* src = in;
    if (in == out) {
        copy.assign(in, in + count);
        src = copy.data();
    }
    const int d = 2 * n + 1;
    std::vector<double> weight((size_t)d * d);
    for (int dy = -n; dy <= n; dy++)
        for (int dx = -n; dx <= n; dx++)
            weight[(size_t)(dy + n) * d + dx + n] = smoothing_weight(std::sqrt((double)dx * dx + dy * dy), sigma, n0);
    const long long fixed = (long long)p.level * 16;
    const int* noise = p.noise_for(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const long long centre = src[(size_t)y * w + x];
            const long long centre_noise = noise ? noise[(size_t)y * w + x] : 0;
            double sum = 0.0, total = 0.0;
            for (int dy = -n; dy <= n; dy++) {
                const int yy = std::clamp(y + dy, 0, h - 1);
                for (int dx = -n; dx <= n; dx++) {
                    const int xx = std::clamp(x + dx, 0, w - 1);
                    const size_t at = (size_t)yy * w + xx;
                    const long long v = src[at];
                    const long long t = noise ? (noise[at] + centre_noise) * p.level / 8192 : fixed;
                    if (std::llabs(v - centre) >= t) continue;
                    const double g = weight[(size_t)(dy + n) * d + dx + n];
                    sum += g * v;
                    total += g;
                }
            }
            // The centre always counts unless the threshold is 0; then it stays as it is.
            out[(size_t)y * w + x] = total > 0 ? (int)(sum / total + 0.5) : (int)centre;
        }
}
