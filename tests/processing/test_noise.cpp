// The noise estimators: block-PCA variance on known noise and on nothing to measure, the
// histogram and noise map on wide data, the map and automatic level of a colour image.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "commands/pipeline.h"
#include "core/record.h"
#include "processing/colour.h"
#include "processing/noise_estimation.h"
#include "processing/noise_variance.h"
#include "pipeline_fixture.h"

TEST(Noise, BlockPcaFindsKnownNoiseAndNothingWhereThereIsNone)
{
    const int w = 256, h = 256;
    std::mt19937 rng(3);
    for (double sigma : {5.0, 10.0, 20.0}) {
        std::normal_distribution<double> noise(0, sigma);
        std::vector<int> image((size_t)w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                image[(size_t)y * w + x] = (int)std::lround(60 + 0.3 * x + 40 * std::sin(y / 20.0) + noise(rng));
        EXPECT_NEAR(std::sqrt(EstimateNoiseVariance(image.data(), w, h)), sigma, 0.05 * sigma);
    }
    std::vector<int> flat(64 * 64, 100), clipped(64 * 64, 255), small(5 * 5, 7);
    EXPECT_EQ(std::vector<double>({EstimateNoiseVariance(flat.data(), 64, 64), EstimateNoiseVariance(clipped.data(), 64, 64),
                                   EstimateNoiseVariance(small.data(), 5, 5)}), std::vector<double>(3, 0.0));
}

TEST(Noise, HistogramAndMapOnWideData)
{
    // CT-like data: the histogram takes data_max + 1 bins, the map stays in range.
    const int w = 64, h = 48;
    std::vector<int> ct = random_samples((size_t)w * h, 60, 2);
    for (int& v : ct) v += 3000 * 16;
    filter_params p;
    p.data_max = 3100;
    const std::vector<int> histogram = estimate_histogram(ct.data(), w, h, p, 0);
    ASSERT_EQ(histogram.size(), 3101u);
    EXPECT_GT(std::accumulate(histogram.begin(), histogram.end(), 0LL), 0);
    p.data_max = -5;
    EXPECT_TRUE(estimate_histogram(ct.data(), w, h, p, 0).empty());

    std::vector<int> wide = random_samples((size_t)w * h, 60000, 4), noise((size_t)w * h, -1);
    p.level = 1;
    EXPECT_EQ(estimate_noise_image(wide.data(), w, h, noise.data(), p), 1);
    for (int v : noise) ASSERT_GE(v, 0) << "no overflow on 16-bit data";
    p.levelling = true;
    p.level = 7;
    EXPECT_GT(estimate_noise_image(wide.data(), w, h, noise.data(), p), 1000)
        << "the automatic level follows the measured noise";
}

TEST(Noise, ColourMapAndAutomaticLevelComeFromTheGreyPlane)
{
    // The pipeline's map and level of an RGB image are those of its scaled grey plane (and
    // the estimate reads that one plane only: under the address sanitizer a read past it
    // would stop the test).
    const int w = 40, h = 33;
    install_image(w, h, COLOUR_RGB, 3, random_samples((size_t)w * h * 3, 255, 7));
    info.filter = 2;
    info.levelling = 1;
    info.level = 9;
    sample_image();
    std::vector<int> grey((size_t)w * h), expected((size_t)w * h);
    to_grey(info.sampled_image, w, h, COLOUR_RGB, grey.data(), true);
    process_whole_image(false);
    const int level = info.level;
    const std::vector<int> map(info.noise_image, info.noise_image + w * h);
    filter_params p;
    p.levelling = true;
    p.level = 9;
    EXPECT_EQ(level, estimate_noise_image(grey.data(), w, h, expected.data(), p));
    EXPECT_EQ(map, expected);
    reset_info();
}
