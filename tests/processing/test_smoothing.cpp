// The smoothing filters on planes whose answers are known, and every built filter choice.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "processing/anisotropic_filter.h"
#include "processing/colour.h"
#include "processing/filter_dispatch.h"
#include "processing/gaussian_filter.h"
#include "processing/guided_filter.h"
#include "processing/thresholded_filter.h"
#include "pipeline_fixture.h"

namespace {

double spread(const std::vector<int>& v, int w, int h, int margin)
{
    double s = 0, s2 = 0;
    int n = 0;
    for (int y = margin; y < h - margin; y++)
        for (int x = margin; x < w - margin; x++) {
            s += v[y * w + x];
            s2 += (double)v[y * w + x] * v[y * w + x];
            n++;
        }
    return std::sqrt(s2 / n - (s / n) * (s / n));
}

}  // namespace

TEST(Smoothing, ThresholdedGaussianLeavesOutFarNeighbours)
{
    const int w = 11, h = 9;
    std::vector<int> in = random_samples(w * h, 255, 3), out(w * h);
    filter_params p;
    p.level = 60;
    const double sigma = 3.9;
    thresholded_filter_2d(in.data(), w, h, sigma, out.data(), p);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double sum = 0, total = 0;
            for (int dy = -3; dy <= 3; dy++)
                for (int dx = -3; dx <= 3; dx++) {
                    const int v = in[std::clamp(y + dy, 0, h - 1) * w + std::clamp(x + dx, 0, w - 1)];
                    if (std::abs(v - in[y * w + x]) >= 60 * 16) continue;
                    const double d = std::sqrt(dx * dx + dy * dy), g = std::exp(-std::pow(2 * d / sigma, 2));
                    sum += g * v;
                    total += g;
                }
            ASSERT_EQ(out[y * w + x], (int)(sum / total + 0.5)) << x << "," << y;
        }
}

TEST(Smoothing, GuidedFilterOnFlatStepAndWideData)
{
    const int w = 24, h = 16;
    // Flat 16-bit data near the top of the range: squares need 64 bits.
    std::vector<int> flat(w * h, 60000 * 16), out(w * h);
    guided_filter(flat.data(), w, h, 3, 50, out.data());
    EXPECT_EQ(out, flat);
    // A step far stronger than epsilon comes back within a level.
    std::vector<int> step(w * h);
    for (int i = 0; i < w * h; i++) step[i] = (i % w < w / 2 ? 100 : 3000) * 16;
    guided_filter(step.data(), w, h, 3, 20, out.data());
    for (int i = 0; i < w * h; i++) ASSERT_NEAR(out[i], step[i], 16 * 190) << i;  // a sixteenth of the step
    EXPECT_EQ(out[5 * w + 2], step[5 * w + 2]);
    // A weak texture much below epsilon is smoothed towards its mean.
    std::vector<int> texture = random_samples(w * h, 10, 9);
    guided_filter(texture.data(), w, h, 3, 400, out.data());
    EXPECT_LT(spread(out, w, h, 3), spread(texture, w, h, 3) / 2);
    // A radius that does not fit copies.
    guided_filter(step.data(), w, h, 9, 20, out.data());
    EXPECT_EQ(out, step);
}

TEST(Smoothing, GradientAndOrientationOfAnEdge)
{
    const int w = 9, h = 5;
    std::vector<int> ramp(w * h), gx(w * h), gy(w * h);
    for (int i = 0; i < w * h; i++) ramp[i] = (i % w) * 16;
    grad_2d(ramp.data(), w, h, gx.data(), gy.data());
    EXPECT_EQ(gx, std::vector<int>(w * h, 16)) << "central differences halved, one-sided at the ends";
    EXPECT_EQ(gy, std::vector<int>(w * h, 0));

    // A vertical step: the field runs along the edge (angle pi / 2) and is strong there;
    // a flat plane has no structure and no NaN in the corner measure.
    const int n = 32;
    std::vector<int> edge(n * n), out(n * n);
    for (int i = 0; i < n * n; i++) edge[i] = (i % n < n / 2 ? 50 : 150) * 16;
    std::vector<double> angle(n * n), strength(n * n), extra(n * n);
    const filter_params p;
    anisotropic_filter_2d(edge.data(), n, n, 3.9, 0.6, nullptr, angle.data(), strength.data(), extra.data(), true, p);
    EXPECT_NEAR(angle[16 * n + 16], M_PI / 2, 1e-6);
    EXPECT_GT(strength[16 * n + 16], 0.9);
    std::vector<int> flat(n * n, 40 * 16);
    anisotropic_filter_2d(flat.data(), n, n, 3.9, 0.6, out.data(), nullptr, nullptr, extra.data(), false, p);
    EXPECT_EQ(out, flat);
    for (double e : extra) ASSERT_EQ(e, 0.0);

    // Filtering along the field keeps the edge where the Gaussian blurs it.
    std::vector<int> noisy = edge, blurred(n * n);
    std::vector<int> noise = random_samples(n * n, 20, 4);
    for (int i = 0; i < n * n; i++) noisy[i] += noise[i] - 10 * 16;
    anisotropic_filter_2d(noisy.data(), n, n, 3.9, 0.6, out.data(), nullptr, nullptr, nullptr, false, p);
    gaussian_blur_2d(noisy.data(), n, n, 3.9, blurred.data());
    const int at = 16 * n + n / 2;  // first pixel of the bright side
    EXPECT_GT(out[at], 130 * 16);
    EXPECT_LT(blurred[at], out[at]);
    std::vector<int> side(n * 8);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < 8; x++) side[y * 8 + x] = out[y * n + 4 + x];
    EXPECT_LT(spread(side, 8, n, 2), 5 * 16.0) << "noise along the edge is smoothed";
}

// Every built filter choice lowers the noise of a noisy picture, on one plane and alike on
// every channel of a colour image; a plane too small for the mask stays as it was.
TEST(Smoothing, BuiltFilterChoicesReduceNoise)
{
    const int w = 48, h = 40;
    std::vector<int> noisy = random_samples(w * h, 60, 8), out(w * h);
    for (int& v : noisy) v += 100 * 16;
    filter_params p;
    p.filter_size = 2;
    p.level = 80;
    p.use_level = true;
    p.centile = 30;
    for (int filter : {1, 2, 3, 4, 5, 10, 11}) {
        for (int mask : {0, 1, 2, 3}) {
            p.filter = filter;
            p.mask = mask;
            run_filter(filter_image{noisy.data(), out.data(), w, h}, p);
            EXPECT_LT(spread(out, w, h, 3), spread(noisy, w, h, 3) * 0.8) << "filter " << filter << " mask " << mask;
            if (filter != 3 && filter != 4 && filter != 5) break;  // the mask matters to rank filters only
        }
    }
    // A colour image whose three channels are the same grey is filtered, and the same in
    // each: the levellings with the varying mask once gave the later channels the family of
    // radius 1 instead of the filter's.
    std::vector<int> grey3(w * h * 3), grey3_out(grey3.size());
    for (int i = 0; i < w * h; i++) grey3[i * 3] = grey3[i * 3 + 1] = grey3[i * 3 + 2] = noisy[i];
    p.colour_processing = true;
    p.channels = 3;
    p.colour = COLOUR_RGB;
    p.mask = MASK_VARYING;
    for (int filter : {FILTER_MEDIAN, FILTER_OCCO, FILTER_OCCO_LEVELLING, FILTER_BITONIC}) {
        p.filter = filter;
        run_filter(filter_image{grey3.data(), grey3_out.data(), w, h}, p);
        for (int i = 0; i < w * h; i++) {
            ASSERT_TRUE(grey3_out[i * 3] == grey3_out[i * 3 + 1] && grey3_out[i * 3] == grey3_out[i * 3 + 2])
                << "filter " << filter << " pixel " << i;
            out[i] = grey3_out[i * 3];
        }
        EXPECT_LT(spread(out, w, h, 3), spread(noisy, w, h, 3) * 0.8) << "filter " << filter;
    }
    std::vector<int> tiny = random_samples(20, 255, 2), tiny_out(20);
    p = filter_params();
    p.filter = FILTER_MEDIAN;
    p.filter_size = 3;
    run_filter(filter_image{tiny.data(), tiny_out.data(), 5, 4}, p);
    EXPECT_EQ(tiny_out, tiny);
}
