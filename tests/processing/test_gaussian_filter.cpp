// The Gaussian filter against a straightforward convolution.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pipeline_fixture.h"
#include "processing/gaussian_filter.h"

namespace {

// Straightforward separable convolution with edge replication, written from scratch.
std::vector<int> naive_gauss(const std::vector<int>& in, int w, int h, double sigma)
{
    const int n = (int)std::floor(sigma);
    std::vector<double> k(2 * n + 1);
    double sum = 0;
    for (int j = -n; j <= n; j++) {
        double t = std::exp(-std::pow(2.0 * j / sigma, 2));
        if (n == 1 && j) t = 0.75 + 0.25 * t;
        if (n == 2 && std::abs(j) == 2) t = 0.1 + 0.9 * t;
        if (n == 2 && std::abs(j) == 1) t = 0.25 + 0.75 * t;
        k[j + n] = t;
        sum += t;
    }
    for (double& t : k) t /= sum;
    auto at = [&](int x, int y) {
        return (double)in[std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1)];
    };
    std::vector<double> rows(w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double s = 0;
            for (int j = -n; j <= n; j++) s += k[j + n] * at(x + j, y);
            rows[y * w + x] = s;
        }
    std::vector<int> out(w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            double s = 0;
            for (int j = -n; j <= n; j++) s += k[j + n] * rows[std::clamp(y + j, 0, h - 1) * w + x];
            out[y * w + x] = (int)std::round(s);
        }
    return out;
}

TEST(GaussianFilter, MatchesAStraightforwardConvolutionAtEverySize)
{
    const int w = 23, h = 17;
    std::vector<int> in = random_samples(w * h, 255, 9);
    for (double sigma : {0.9, 1.0, 1.3, 2.0, 2.6, 3.9, 6.5, 30.0}) {  // below one: a copy
        std::vector<int> out(w * h);
        filter_2d(in.data(), w, h, sigma, out.data());
        EXPECT_EQ(out, naive_gauss(in, w, h, sigma)) << "sigma " << sigma;
    }
    // A negative-valued plane rounds half away from zero.
    std::vector<int> negative(w * h), out(w * h);
    for (size_t i = 0; i < in.size(); i++) negative[i] = -in[i];
    filter_2d(negative.data(), w, h, 2.6, out.data());
    EXPECT_EQ(out, naive_gauss(negative, w, h, 2.6));
    // In place gives the same.
    filter_2d(negative.data(), w, h, 2.6, negative.data());
    EXPECT_EQ(negative, out);
}

}  // namespace
