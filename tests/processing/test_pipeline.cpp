// sample_image and process_image over images built in the record.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/memory.h"
#include "core/record.h"
#include "core/ui.h"
#include "pipeline_fixture.h"
#include "processing/colour.h"
#include "processing/noise_transforms.h"
#include "processing/gaussian_filter.h"
#include "commands/pipeline.h"

namespace {

int compare_calls;
int compared[4];
void record_compare(int x0, int y0, int x1, int y1)
{
    compare_calls++;
    compared[0] = x0, compared[1] = y0, compared[2] = x1, compared[3] = y1;
}

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_hook = pipeline_compare_hook;
        pipeline_compare_hook = record_compare;
        compare_calls = 0;
    }
    void TearDown() override
    {
        pipeline_compare_hook = saved_hook;
        ui_install(ui_hooks());
        reset_info();
    }
    void (*saved_hook)(int, int, int, int) = nullptr;
    // A plain Gaussian of size 2 (the level not in force).
    static void gaussian()
    {
        info.filter = 2;
        info.use_level = 0;
        info.filter_size = 2;
    }
};

std::vector<int> processed(size_t n) { return std::vector<int>(info.processed_image, info.processed_image + n); }

TEST_F(Pipeline, SubsamplingTakesEverySthPixel)
{
    std::vector<int> raw = random_samples(100 * 100, 255, 5);
    install_image(100, 100, 0, 1, raw);
    info.subsample = 3;
    info.subsample_filter = 0;
    sample_image();
    ASSERT_EQ(std::make_pair(info.proc_width, info.proc_height), std::make_pair(33, 33));
    EXPECT_FALSE(info.colour_processing);
    for (int y = 0; y < 33; y++)
        for (int x = 0; x < 33; x++)
            ASSERT_EQ(info.sampled_image[y * 33 + x], raw[(y * 3) * 100 + x * 3]);
}

// An image far larger than memory (a petabyte of samples, refused at once): sub-sampling and
// filtering refuse with memory_refused and the record keeps the planes it had.
TEST_F(Pipeline, RefusedForMemoryTheRecordKeepsItsPlanes)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer aborts on a refused allocation";
#endif
    install_image(30, 20, 0, 1, random_samples(30 * 20, 255, 8));
    info.filter = 1;
    sample_image();
    process_image();
    const int* const sampled = info.sampled_image;
    const int* const processed = info.processed_image;
    const std::vector<int> before(processed, processed + 30 * 20);
    info.width = info.height = 1 << 24;
    EXPECT_THROW(sample_image(), memory_refused);
    EXPECT_EQ(info.sampled_image, sampled);
    EXPECT_EQ(info.proc_width, 30);
    info.proc_width = info.proc_height = 1 << 24;
    EXPECT_THROW(process_image(), memory_refused);
    EXPECT_EQ(info.processed_image, processed);
    EXPECT_EQ(std::vector<int>(processed, processed + 30 * 20), before);
    info.proc_width = 30;
    info.proc_height = 20;
    process_image();  // runs again: the re-entry guard is clear
    EXPECT_NE(info.processed_image, processed);
}

TEST_F(Pipeline, SubsamplingPrefilterIsTheGaussianOfSigmaSMinusHalf)
{
    // An impulse in the green of pixel (3, 2). Sigma 1.5 has three taps, the outer ones
    // lifted to t = 0.75 + 0.25 exp(-(2 / 1.5)^2): samples (1, 1) and (2, 1) sit one
    // column beside it and get v t / (1 + 2 t)^2, the other channels nothing.
    std::vector<int> raw(6 * 6 * 3, 0);
    raw[(2 * 6 + 3) * 3 + 1] = 160000;
    install_image(6, 6, COLOUR_RGB, 3, raw);
    info.subsample = 2;
    sample_image();
    ASSERT_EQ(info.proc_width, 3);
    const double t = 0.75 + 0.25 * std::exp(-std::pow(2 / 1.5, 2)), expected = 160000 * t / std::pow(1 + 2 * t, 2);
    for (int x : {1, 2}) {
        EXPECT_NEAR(info.sampled_image[(1 * 3 + x) * 3 + 1], expected, 0.5) << x;
        EXPECT_EQ(info.sampled_image[(1 * 3 + x) * 3], 0);
    }
    EXPECT_EQ(info.sampled_image[(0 * 3 + 1) * 3 + 1], 0) << "two rows away";
    // RGB processed as RGB: no conversion, the loader's range stays.
    EXPECT_EQ(info.data_max, 255);
}

TEST_F(Pipeline, ColourDataInGreyIsTheScaledChannelSum)
{
    std::vector<int> rgb = {16 * 10, 16 * 20, 16 * 30, 16 * 255, 16 * 255, 16 * 255};
    install_image(2, 1, COLOUR_RGB, 3, rgb);
    info.colour = COLOUR_GREY;
    sample_image();
    ASSERT_FALSE(info.colour_processing);
    EXPECT_EQ(info.sampled_image[0], (int)(16 * 60 / (3 * 0.577) + 0.5));
    EXPECT_EQ(info.sampled_image[1], (int)(16 * 765 / (3 * 0.577) + 0.5));

    // A RAW image shown in Grey is the sum of its four channels divided by 2.
    std::vector<int> raw = {16 * 100, 16 * 201, 16 * 300, 16 * 400};
    install_image(1, 1, COLOUR_RAW, 4, raw);
    info.colour = COLOUR_GREY;
    sample_image();
    EXPECT_EQ(info.sampled_image[0], 16 * 1001 / 2);
}

// A conversion sets data_min / data_max to the range of the converted levels (the
// conversions themselves are tested on their own).
TEST_F(Pipeline, ConversionSetsTheRangeOfTheConvertedLevels)
{
    for (int space : {COLOUR_YCBCR, COLOUR_YUVDG}) {
        const int n = space == COLOUR_YUVDG ? 4 : 3;
        install_image(9, 7, n == 4 ? COLOUR_RAW : COLOUR_RGB, n, random_samples(9 * 7 * n, 4095, 8));
        info.colour = space;
        sample_image();
        ASSERT_TRUE(info.colour_processing);
        const auto [lo, hi] = std::minmax_element(info.sampled_image, info.sampled_image + 9 * 7 * n);
        EXPECT_EQ(info.data_min, *lo / 16) << space;
        EXPECT_EQ(info.data_max, *hi / 16) << space;
    }
}

TEST_F(Pipeline, SensorNoiseRunsOnACropEvenWhenAllIsVisible)
{
    // With the noise transform in force the filter sees gamma-decoded data and the result
    // is encoded again; the transform works on a copy, so the sampled image is untouched.
    const int w = 20, h = 16;
    std::vector<int> raw = random_samples(w * h * 3, 255, 17);
    install_image(w, h, COLOUR_RGB, 3, raw);
    sample_image();
    gaussian();
    info.noise_kind = 1;
    info.noise_colour = 1;
    process_image();
    std::vector<int> expected = raw, plane(w * h), out(w * h);
    inverse_gamma_and_apply_anscombe(expected.data(), w, h, COLOUR_RGB, 2.4, 0, 0, 0);
    for (int k = 0; k < 3; k++) {
        for (int i = 0; i < w * h; i++) plane[i] = expected[i * 3 + k];
        filter_2d(plane.data(), w, h, 2.6, out.data());
        for (int i = 0; i < w * h; i++) expected[i * 3 + k] = out[i];
    }
    inverse_anscombe_and_apply_gamma(expected.data(), w, h, COLOUR_RGB, 2.4, 0, 0, 0);
    EXPECT_EQ(processed(w * h * 3), expected);
    EXPECT_EQ(std::vector<int>(info.sampled_image, info.sampled_image + w * h * 3), raw);
}

TEST_F(Pipeline, NoFilterCopiesTheInputWithoutTimingOrComparison)
{
    std::vector<int> raw = random_samples(30 * 20, 255, 10);
    install_image(30, 20, 0, 1, raw);
    sample_image();
    ui_status(2, "untouched");
    info.ref_image = new int[30 * 20]();
    process_image();
    ASSERT_NE(info.processed_image, nullptr);
    EXPECT_EQ(processed(600), raw);
    EXPECT_EQ(ui_last_status(2), "untouched");
    EXPECT_EQ(compare_calls, 0);
    EXPECT_EQ(info.multires_level, 1);
}

TEST_F(Pipeline, ZoomedOnACornerOnlyTheVisiblePartIsFiltered)
{
    const int w = 100, h = 80;
    std::vector<int> raw = random_samples(w * h, 255, 11);
    install_image(w, h, 0, 1, raw);
    sample_image();
    gaussian();
    info.window_width = 40;
    info.window_height = 30;
    info.zoom = 4.0;
    info.centre = vertex2s{10, 70};
    info.cursor = vertex2s{12, 66};
    info.ref_image = new int[w * h]();
    process_image();

    // Visible rows floor((70 - 3.75)) = 66 .. ceil(73.75) + 1 = 75; columns 5 .. 16.
    const int r0 = 66, r1 = 75, c0 = 5, c1 = 16;
    // Margin 2, rounded down to even at the start: rows 64..77, columns 2..18.
    const int R0 = 64, R1 = 77, C0 = 2, C1 = 18;
    const visible_region v = pipeline_visible_region();
    EXPECT_EQ(std::vector<int>({v.r0, v.r1, v.c0, v.c1, v.R0, v.R1, v.C0, v.C1}),
              std::vector<int>({r0, r1, c0, c1, R0, R1, C0, C1}));

    const int cw = C1 - C0, ch = R1 - R0;
    std::vector<int> crop(cw * ch), filtered(cw * ch);
    for (int y = 0; y < ch; y++)
        for (int x = 0; x < cw; x++) crop[y * cw + x] = raw[(y + R0) * w + x + C0];
    filter_2d(crop.data(), cw, ch, 2.6, filtered.data());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const bool inside = y >= r0 && y < r1 && x >= c0 && x < c1;
            const int expected = inside ? filtered[(y - R0) * cw + x - C0] : raw[y * w + x];
            ASSERT_EQ(info.processed_image[y * w + x], expected) << x << "," << y;
        }
    EXPECT_EQ(info.proc_width, w);
    EXPECT_TRUE(info.cursor.x == 12 && info.cursor.y == 66);
    EXPECT_TRUE(ui_last_status(2).StartsWith("Filtering took ") && ui_last_status(2).EndsWith(" ms")) << ui_last_status(2);
    ASSERT_EQ(compare_calls, 1);
    EXPECT_EQ(std::vector<int>(compared, compared + 4), std::vector<int>({c0, r0, c1, r1}));

    // The commands that write the result filter the whole image and keep the view.
    process_whole_image();
    std::vector<int> whole(w * h);
    filter_2d(raw.data(), w, h, 2.6, whole.data());
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), info.processed_image));
    EXPECT_DOUBLE_EQ(info.zoom, 4.0);
}

TEST_F(Pipeline, NothingIsFilteredWithoutAnImageOrWithTheCentreFarOff)
{
    reset_info();
    sample_image();
    process_image();
    EXPECT_TRUE(!info.sampled_image && !info.processed_image);
    std::vector<int> raw = random_samples(20 * 20, 255, 12);
    install_image(20, 20, 0, 1, raw);
    sample_image();
    gaussian();
    info.centre = vertex2s{3000, -3000};
    process_image();
    EXPECT_EQ(processed(400), raw);
}

int nested_calls;
int* processed_during_nested;
void status_reenters(int field, const wxString&)
{
    // A status update arrives while the pipeline runs; a nested run must return at once.
    int* before = info.processed_image;
    process_image();
    processed_during_nested = info.processed_image;
    nested_calls += before == info.processed_image;
}

TEST_F(Pipeline, ANestedCallReturnsAtOnce)
{
    std::vector<int> raw = random_samples(16 * 16, 255, 13);
    install_image(16, 16, 0, 1, raw);
    sample_image();
    gaussian();
    ui_hooks hooks;
    hooks.status = status_reenters;
    ui_install(hooks);
    nested_calls = 0;
    process_image();
    EXPECT_EQ(nested_calls, 1);
    ui_install(ui_hooks());
    // The guard is released afterwards: a later run works.
    info.filter = 0;
    info.processed_image[0] = -999;
    process_image();
    EXPECT_EQ(info.processed_image[0], raw[0]);
}

}  // namespace
