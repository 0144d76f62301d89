// Colour spaces: exact values, failure rules, clamps and round trips.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "processing/colour.h"

namespace {

TEST(ColourExactValues, WhiteGreyAndHues)
{
    double white[3] = {1, 1, 1}, out[3];
    ASSERT_EQ(from_rgb(white, out, COLOUR_YCBCR), 1);
    // The studio-range coefficients are given to four places.
    for (int k = 0; k < 3; k++) EXPECT_NEAR(out[k], (k ? 128.0 : 235.0) / 255, 1e-4) << k;
    ASSERT_EQ(from_rgb(white, out, COLOUR_LAB), 1);
    for (int k = 0; k < 3; k++) EXPECT_NEAR(out[k], k ? 0.5 : 1.0, 1e-4) << k;
    double grey[3] = {0.4, 0.4, 0.4};
    ASSERT_EQ(from_rgb(grey, out, COLOUR_HSV), 1);
    EXPECT_EQ(std::vector<double>(out, out + 3), std::vector<double>({0, 0, 0.4}));
    // Red maximal with blue above green: the last sextant, hue 0.996 - 0.166 x 0.5.
    double pinkish[3] = {1.0, 0.2, 0.6};
    ASSERT_EQ(from_rgb(pinkish, out, COLOUR_HSV), 1);
    EXPECT_NEAR(out[0], (0.2 - 0.6) * 0.166 / 0.8 + 0.996, 1e-12);
    EXPECT_NEAR(out[1], 0.8, 1e-12);
    // Ties go to red first, then green.
    double yellow[3] = {1.0, 1.0, 0.0};
    from_rgb(yellow, out, COLOUR_HSV);
    EXPECT_NEAR(out[0], 0.166, 1e-12);
    // A hue at or above 0.996 is reduced and written back; h = 0.002 lies in the first
    // sextant: (V, V(1 - (1 - f)S), V(1 - S)).
    double hsv[3] = {0.998, 1.0, 1.0}, rgb[3];
    ASSERT_EQ(to_rgb(hsv, rgb, COLOUR_HSV), 1);
    EXPECT_NEAR(hsv[0], 0.002, 1e-12);
    const double f = 0.002 / 0.166;
    const double expected[3] = {1.0, f, 0.0};
    for (int k = 0; k < 3; k++) EXPECT_NEAR(rgb[k], expected[k], 1e-12) << k;
    double again[3] = {0.996, 0.5, 0.8}, level;
    ASSERT_EQ(to_grey(again, level, COLOUR_HSV), 1);
    EXPECT_EQ(again[0], 0.0);
    EXPECT_NEAR(level, 0.8 * (3 - 2 * 0.5) / 3, 1e-12);
}

TEST(ColourExactValues, ToGreyIsTheMeanOfTheColourItStandsFor)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.05, 0.95);
    for (int c = COLOUR_HSV; c <= COLOUR_LCH; c++) {
        for (int i = 0; i < 200; i++) {
            double rgb[3] = {u(rng), u(rng), u(rng)}, conv[3], back[3], grey;
            ASSERT_EQ(from_rgb(rgb, conv, (colour_t)c), 1);
            double copy[3] = {conv[0], conv[1], conv[2]};
            to_rgb(copy, back, (colour_t)c);
            ASSERT_EQ(to_grey(conv, grey, (colour_t)c), 1);
            // XYZ grey weights are the column sums of the inverse matrix over 3.
            EXPECT_NEAR(grey, (back[0] + back[1] + back[2]) / 3, 2e-6) << "space " << c;
        }
    }
    double raw[4] = {0.2, 0.4, 0.6, 0.8}, grey;
    ASSERT_EQ(to_grey(raw, grey, COLOUR_RAW), 1);
    EXPECT_NEAR(grey, 0.5, 1e-12);
}

TEST(ColourFailures, UnhandledSpacesReportFailureAndWriteNothing)
{
    double rgb[3] = {0.1, 0.2, 0.3}, out[3] = {7, 7, 7}, raw[4] = {1, 1, 1, 1};
    EXPECT_EQ(std::vector<int>({from_rgb(rgb, out, COLOUR_GREY), from_rgb(rgb, out, COLOUR_RGB), from_rgb(rgb, out, COLOUR_YUVDG),
                                to_rgb(rgb, out, COLOUR_RGB), from_raw(raw, out, COLOUR_YCBCR)}),
              std::vector<int>(5, 0));
    EXPECT_EQ(out[0], 7);
    double grey = 5;
    EXPECT_EQ(to_grey(rgb, grey, COLOUR_GREY), 0);
    EXPECT_EQ(grey, 5);

    int image[6] = {160, 320, 480, 1600, 1760, 1920};
    const std::vector<int> before(image, image + 6);
    for (colour_t c : {COLOUR_GREY, COLOUR_RGB, COLOUR_RGBA, COLOUR_RAW, COLOUR_YUVDG}) {
        EXPECT_EQ(from_rgb(image, 2, 1, c), 0);
        EXPECT_EQ(std::vector<int>(image, image + 6), before);
    }
    EXPECT_EQ(from_rgb(image, 0, 1, COLOUR_HSV), 0);
    EXPECT_EQ(to_rgb(image, 2, 1, COLOUR_RGB, 0, 1), 0);
    int plane[2] = {-1, -1};
    EXPECT_EQ(to_grey(image, 2, 1, COLOUR_GREY, plane, true), 0);
    EXPECT_EQ(plane[0], -1);
}

TEST(ColourStorage, NegativeComponentsStoredAsZeroOthersUnclamped)
{
    // Strongly negative input drives luminance below zero.
    int dark[3] = {-100 * 16, -100 * 16, -100 * 16};
    ASSERT_NE(from_rgb(dark, 1, 1, COLOUR_YCBCR), 0);
    EXPECT_EQ(dark[0], 0);
    // Green 2 far above green 1 drives delta green below zero.
    int raw[4] = {0, -1000 * 16, 0, 4095 * 16};
    ASSERT_NE(from_raw(raw, 1, 1, COLOUR_YUVDG), 0);
    EXPECT_EQ(raw[3], 0);
    // Saturated blue has a chroma above full scale, which stays.
    int blue[3] = {0, 0, 255 * 16};
    ASSERT_NE(from_rgb(blue, 1, 1, COLOUR_LCH), 0);
    EXPECT_GT(blue[1], 255 * 16);
    // Whole-image values: q(out x 255 / factor) with truncation after adding 0.5.
    int white[3] = {255 * 16, 255 * 16, 255 * 16};
    ASSERT_NE(from_rgb(white, 1, 1, COLOUR_YCBCR), 0);
    EXPECT_EQ(white[0], (int)(235.0 / 0.574 + 0.5) * 16);
    EXPECT_EQ(white[1], (int)(128.0 / 0.547 + 0.5) * 16);
    EXPECT_EQ(white[2], (int)(128.0 / 0.577 + 0.5) * 16);
}

// Round trips through stored samples, whole levels of the scaled channels: on average within
// half a level, at worst a few where a hue step is steep (HSV stores 510 hues).
TEST(ColourRoundTrip, StoredSamplesComeBackWithinTheirQuantisation)
{
    const int worst_allowed[COLOUR_SPACES] = {0, 0, 2, 1, 2, 3, 3};
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> level(0, 255);
    const int pixels = 20000;
    for (int c = COLOUR_HSV; c <= COLOUR_LCH; c++) {
        std::vector<int> image(pixels * 3);
        for (int& v : image) v = level(rng) * 16;
        std::vector<int> original = image;
        ASSERT_NE(from_rgb(image.data(), pixels, 1, (colour_t)c), 0);
        ASSERT_NE(to_rgb(image.data(), pixels, 1, (colour_t)c, 0, 1), 0);
        int worst = 0;
        double total = 0;
        for (int i = 0; i < pixels * 3; i++) {
            worst = std::max(worst, std::abs(image[i] - original[i]));
            total += std::abs(image[i] - original[i]);
        }
        EXPECT_LE(worst, worst_allowed[c] * 16) << colour_info[c].name;
        EXPECT_LT(total / (pixels * 3), 8.0) << colour_info[c].name;
    }
    // RAW data through YUVdG and back, on the 12-bit scale.
    std::uniform_int_distribution<int> raw_level(0, 4095);
    std::vector<int> raw(pixels * 4);
    for (int i = 0; i < pixels; i++) {
        // A smooth sensor: the two greens close, red and blue anywhere.
        const int g = raw_level(rng);
        raw[i * 4 + 0] = raw_level(rng) * 16;
        raw[i * 4 + 1] = g * 16;
        raw[i * 4 + 2] = raw_level(rng) * 16;
        raw[i * 4 + 3] = std::clamp(g + raw_level(rng) % 64 - 32, 0, 4095) * 16;
    }
    std::vector<int> original = raw;
    ASSERT_NE(from_raw(raw.data(), pixels, 1, COLOUR_YUVDG), 0);
    ASSERT_NE(to_raw(raw.data(), pixels, 1, COLOUR_YUVDG), 0);
    int worst = 0;
    for (int i = 0; i < pixels * 4; i++) worst = std::max(worst, std::abs(raw[i] - original[i]));
    EXPECT_LE(worst, 16);
}

// Unquantised, every space returns every colour within one level; the CIE and HSV
// pairs are exact inverses, YCbCr and YUVdG carry their coefficients' rounding.
TEST(ColourRoundTrip, PerPixelWithinOneLevel)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 20000; i++) {
        double rgb[3] = {u(rng), u(rng), u(rng)}, conv[3], back[3];
        for (int c = COLOUR_HSV; c <= COLOUR_LCH; c++) {
            from_rgb(rgb, conv, (colour_t)c);
            to_rgb(conv, back, (colour_t)c);
            const double tolerance = c == COLOUR_YCBCR ? 1.0 / 255 : 2e-6;
            for (int k = 0; k < 3; k++) ASSERT_NEAR(back[k], rgb[k], tolerance) << c;
        }
        // A RAW pixel whose chroma stays positive, so no clamp intervenes.
        const double g = 0.2 + 0.6 * u(rng);
        double raw[4] = {g + 0.3 * (u(rng) - 0.5), g, g + 0.3 * (u(rng) - 0.5), g + 0.1 * (u(rng) - 0.5)};
        double yuv[4], raw_back[4];
        from_raw(raw, yuv, COLOUR_YUVDG);
        to_raw(yuv, raw_back, COLOUR_YUVDG);
        for (int k = 0; k < 4; k++) ASSERT_NEAR(raw_back[k], raw[k], 1.0 / 4095);
    }
}

TEST(ColourToRgb, PacksThreeValuesPerPixelAndWindows)
{
    // RGB Alpha: (r, g, b) x alpha, four values in, three out, packed from the start.
    int image[8] = {100 * 16, 50 * 16, 200 * 16, 51 * 16, 255 * 16, 0, 0, 255 * 16};
    ASSERT_NE(to_rgb(image, 2, 1, COLOUR_RGBA, 0, 1), 0);
    EXPECT_EQ(std::vector<int>(image, image + 6), std::vector<int>({20 * 16, 10 * 16, 40 * 16, 255 * 16, 0, 0}));
    // Window centre 20, width 51: (v - 20/255) / (51/255) + 127/255, times 255.
    int windowed[4] = {100 * 16, 50 * 16, 200 * 16, 51 * 16};
    ASSERT_NE(to_rgb(windowed, 1, 1, COLOUR_RGBA, 51, 20), 0);
    EXPECT_EQ(windowed[0], 127 * 16);
    EXPECT_EQ(windowed[1], (int)(((10 - 20) / 51.0 + 127 / 255.0) * 255 + 0.5) * 16);
    EXPECT_EQ(windowed[2], (int)(((40 - 20) / 51.0 + 127 / 255.0) * 255 + 0.5) * 16);
    // The byte form clamps what bytes cannot hold.
    unsigned char bytes[4] = {100, 50, 200, 51};
    ASSERT_NE(to_rgb(bytes, 1, 1, COLOUR_RGBA, 0, 1), 0);
    EXPECT_TRUE(bytes[0] == 20 && bytes[2] == 40) << (int)bytes[0] << " " << (int)bytes[2];
    unsigned char wide[4] = {255, 0, 0, 255};
    ASSERT_NE(to_rgb(wide, 1, 1, COLOUR_RGBA, 10, 128), 0);
    EXPECT_TRUE(wide[0] == 255 && wide[1] == 0) << (int)wide[0] << " " << (int)wide[1];
}

}  // namespace
