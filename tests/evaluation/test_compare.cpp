// The comparison report against a straightforward computation: PSNR, SNR, the range of the
// "_all_noise" references, channel selection, the SSIM report and the cases skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>
#include <sstream>
#include <vector>

#include "core/record.h"
#include "core/ui.h"
#include "evaluation/compare.h"

namespace {

// Input, result and reference of w x h pixels with n values each, processed in `colour`.
void three_images(int w, int h, int n, int data_colour, int colour, unsigned seed, int full)
{
    reset_info();
    info.width = info.proc_width = w;
    info.height = info.proc_height = h;
    info.channels = n;
    info.data_colour = data_colour;
    info.colour = colour;
    info.colour_processing = n > 1;
    const size_t count = (size_t)w * h * n;
    info.sampled_image = new int[count];
    info.processed_image = new int[count];
    info.ref_image = new int[count];
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, full), noise(-30 * 16, 30 * 16);
    for (size_t i = 0; i < count; i++) {
        info.ref_image[i] = level(rng) * 16;
        info.sampled_image[i] = info.ref_image[i] + noise(rng);
        info.processed_image[i] = info.ref_image[i] + noise(rng) / 3;
    }
}

// 10 log10 of the mean squared error over the rectangle, values in full-scale units.
double error_db(const int* a, const int* b, int x0, int y0, int x1, int y1, int n, int k0, int k1,
                double full, double r)
{
    double sum = 0;
    int count = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            for (int k = k0; k < k1; k++) {
                const size_t i = ((size_t)y * info.width + x) * n + k;
                const double d = (a[i] - b[i]) / 16.0 / full / r;
                sum += d * d;
                count++;
            }
    return 10 * std::log10(sum / count);
}

// The report's numbers in order of appearance: number `which`, NAN when there are fewer.
double parse(const wxString& report, int which)
{
    std::istringstream in(std::regex_replace(report.ToStdString(), std::regex("[^-.0-9]+"), " "));
    double v = NAN;
    for (int k = 0; k <= which; k++)
        if (!(in >> v)) return NAN;
    return v;
}

}  // namespace

TEST(Compare, PsnrOfGreyImagesAndOfTheShownChannelAgainstADirectComputation)
{
    three_images(20, 15, 1, 0, 0, 1, 255);
    const wxString report = compare_to_ref(0, 0, 20, 15);
    ASSERT_TRUE(report.StartsWith("PSNR(dB) ")) << report;
    const double d_in = error_db(info.sampled_image, info.ref_image, 0, 0, 20, 15, 1, 0, 1, 255, 1);
    const double d_out = error_db(info.processed_image, info.ref_image, 0, 0, 20, 15, 1, 0, 1, 255, 1);
    EXPECT_NEAR(parse(report, 0), -d_in, 0.006);
    EXPECT_NEAR(parse(report, 1), -d_out, 0.006);
    EXPECT_NEAR(parse(report, 2), d_in - d_out, 0.006);
    EXPECT_EQ(ui_last_status(0), report);

    // A sub-rectangle, and the range of an "_016" reference (peak 25/41 of full scale).
    info.ref_range = 25.0 / 41;
    const wxString part = compare_to_ref(3, 2, 11, 9);
    const double r = 25.0 / 41;
    EXPECT_NEAR(parse(part, 0), -error_db(info.sampled_image, info.ref_image, 3, 2, 11, 9, 1, 0, 1, 255, r), 0.006);
    EXPECT_NEAR(parse(part, 1), -error_db(info.processed_image, info.ref_image, 3, 2, 11, 9, 1, 0, 1, 255, r), 0.006);

    // Colour: the shown channel alone counts.
    three_images(12, 10, 3, 1, 1, 2, 255);
    for (int i = 0; i < 12 * 10; i++) info.sampled_image[3 * i] += 90 * 16;  // red far off
    info.channel = 2;                                                         // green shown
    const wxString colour = compare_to_ref(0, 0, 12, 10);
    const double green = error_db(info.sampled_image, info.ref_image, 0, 0, 12, 10, 3, 1, 2, 255, 1);
    EXPECT_NEAR(parse(colour, 0), -green, 0.006) << colour;
    info.channel = 0;
    const double all = error_db(info.sampled_image, info.ref_image, 0, 0, 12, 10, 3, 0, 3, 255, 1);
    EXPECT_NEAR(parse(compare_to_ref(0, 0, 12, 10), 0), -all, 0.006);
}

TEST(Compare, SnrOfRawBayerData)
{
    three_images(8, 6, 4, 8, 8, 3, 4095);
    info.ref_range = 0.8;
    const wxString report = compare_to_ref(0, 0, 8, 6);
    ASSERT_TRUE(report.StartsWith("SNR(dB) ")) << report;
    // Signal power of the reference shifted by the range offset, all in 12-bit full scale.
    const double r = 0.8, o = (1 - r) / 2;
    double p = 0;
    for (int i = 0; i < 8 * 6 * 4; i++) {
        const double v = info.ref_image[i] / 16.0 / 4095 / r - o / r;
        p += v * v;
    }
    const double d_ref = 10 * std::log10(p / (8 * 6 * 4));
    const double d_in = error_db(info.sampled_image, info.ref_image, 0, 0, 8, 6, 4, 0, 4, 4095, r);
    const double d_out = error_db(info.processed_image, info.ref_image, 0, 0, 8, 6, 4, 0, 4, 4095, r);
    EXPECT_NEAR(parse(report, 0), d_ref - d_in, 0.006);
    EXPECT_NEAR(parse(report, 1), d_ref - d_out, 0.006);
    EXPECT_NEAR(parse(report, 2), d_in - d_out, 0.006);
}

TEST(Compare, SsimReportAndSkippedCases)
{
    three_images(24, 20, 1, 0, 0, 4, 255);
    info.show_ssim = 1;
    const wxString report = compare_to_ref(0, 0, 24, 20);
    ASSERT_TRUE(report.StartsWith("SNR (SSIM) ")) << report;
    const double in_ssim = parse(report, 1), out_ssim = parse(report, 3);
    EXPECT_TRUE(0 < in_ssim && in_ssim < out_ssim && out_ssim <= 1) << report;  // the result is the closer one
    std::copy(info.ref_image, info.ref_image + 480, info.processed_image);
    EXPECT_TRUE(compare_to_ref(0, 0, 24, 20).EndsWith("(1.000)"));
    info.show_ssim = 0;

    ui_status(0, "unchanged");
    EXPECT_TRUE(compare_to_ref(0, 0, 0, 20).empty());   // empty rectangle
    EXPECT_TRUE(compare_to_ref(0, 0, 25, 20).empty());  // beyond the image
    info.subsample = 2;
    EXPECT_TRUE(compare_to_ref(0, 0, 24, 20).empty());
    info.subsample = 1;
    release_array(info.ref_image);
    EXPECT_TRUE(compare_to_ref(0, 0, 24, 20).empty());
    EXPECT_EQ(ui_last_status(0), "unchanged");
}
