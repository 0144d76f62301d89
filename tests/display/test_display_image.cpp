// The display stage against an independent computation, and its special displays.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../processing/pipeline_fixture.h"
#include "core/record.h"
#include "display/coordinates.h"
#include "display/display_image.h"
#include "display/display_kernels.h"
#include "display/interpolation.h"
#include "display_reference.h"
#include "processing/colour.h"
#include "commands/pipeline.h"

namespace {

class DisplayImage : public ::testing::Test {
protected:
    void TearDown() override { reset_info(); }

    // A processed image (no filter) shown in a window of ww x wh; colour data are RGB.
    void grey_image(int w, int h, const std::vector<int>& samples, int ww, int wh, int channels = 1)
    {
        install_image(w, h, channels == 1 ? 0 : COLOUR_RGB, channels, samples);
        resize(ww, wh);
        sample_image();
        process_image();
    }
    // Window (centre, range) and interpolation kind for the next create_display_image.
    static void view(int centre, int range, int kind)
    {
        info.window_centre = centre;
        info.window_range = range;
        select_interpolation(kind);
    }
    static void resize(int ww, int wh)
    {
        info.window_width = ww;
        info.window_height = wh;
        release_array(info.display_image);
        info.display_image = new unsigned char[(size_t)ww * wh * 3];
    }
    static std::vector<unsigned char> shown()
    {
        return std::vector<unsigned char>(
            info.display_image, info.display_image + (size_t)info.window_width * info.window_height * 3);
    }
    static const unsigned char* pixel(int x, int y)
    {
        return info.display_image + ((size_t)y * info.window_width + x) * 3;
    }
    static std::vector<int> rgb_at(int x, int y) { return std::vector<int>(pixel(x, y), pixel(x, y) + 3); }
};

// Every kind against the textbook kernels; on the outermost ring the cubic and Lanczos
// kernels give way to bilinear, and Lanczos-3 to Lanczos-2 on the ring inside it.
TEST_F(DisplayImage, EveryKindMatchesTheStraightforwardComputation)
{
    const int w = 37, h = 29;
    grey_image(w, h, random_samples(w * h, 255, 21), 90, 70);
    info.window_centre = 120;
    info.window_range = 200;
    const double zooms[] = {2.3, 1.0, 0.7, 3.0};
    const short centres[][2] = {{18, 14}, {3, 25}, {30, 2}, {18, 15}};
    for (int z = 0; z < 4; z++) {
        info.zoom = zooms[z];
        info.centre = vertex2s{centres[z][0], centres[z][1]};
        std::vector<unsigned char> got[INTERP_KINDS];  // the narrower kinds come first
        for (int kind = 0; kind < INTERP_KINDS; kind++) {
            select_interpolation(kind);
            create_display_image();
            got[kind] = shown();
            std::vector<bool> ties;
            std::vector<int> edges;
            const std::vector<unsigned char> textbook = display_reference::compute(&ties, false, &edges);
            long first = -1;
            for (size_t i = 0; i < textbook.size() && first < 0; i++) {
                const int edge = edges[i / 3];
                const bool to_linear = kind >= INTERP_BSPLINE && edge == 0;
                const bool to_lanczos2 = kind == INTERP_LANCZOS3 && edge == 1;
                const int expected = to_linear ? got[INTERP_LINEAR][i] : to_lanczos2 ? got[INTERP_LANCZOS2][i] : textbook[i];
                const bool exact = to_linear || to_lanczos2 || !ties[i];
                if (got[kind][i] != expected && (exact || std::abs(got[kind][i] - expected) != 1)) first = (long)i;
            }
            EXPECT_EQ(first, -1) << "kind " << kind << " zoom " << zooms[z];
        }
    }
}

// The cached-weight and threaded paths give exactly what interp_data gives per pixel,
// with the AVX2 kernels and with the plain ones.
TEST_F(DisplayImage, FastPathsEqualInterpDataPerPixel)
{
    const int w = 300, h = 260;
    grey_image(w, h, random_samples(w * h, 4095, 24), 640, 360);
    info.window_centre = 2000;
    info.window_range = 3000;
    const bool simd = display_simd_active();
    for (bool wanted : {false, true}) {
        use_display_simd(wanted);
        for (double zoom : {1.37, 0.61, 4.0}) {
            info.zoom = zoom;
            info.centre = vertex2s{140, 120};
            for (int kind = 0; kind < INTERP_KINDS; kind++) {
                select_interpolation(kind);
                create_display_image();
                ASSERT_EQ(display_reference::first_difference(info.display_image, true), -1)
                    << "kind " << kind << " zoom " << zoom << " simd " << display_simd_active();
            }
        }
    }
    // Grey data in a colour space are shown through a scaled work copy (all channels) or a
    // tinted one (one channel), made over the same bands.
    info.colour = COLOUR_RGB;
    info.zoom = 0.61;
    for (int channel : {0, 1}) {
        info.channel = channel;
        create_display_image();
        ASSERT_EQ(display_reference::first_difference(info.display_image, true), -1) << "channel " << channel;
    }
    use_display_simd(simd);
}

TEST_F(DisplayImage, ColourPathsMatchTheStraightforwardComputation)
{
    const int w = 21, h = 17;
    for (int colour : {COLOUR_RGB, COLOUR_YCBCR, COLOUR_LAB, COLOUR_HSV}) {
        for (int channel = 0; channel <= 3; channel++) {
            install_image(w, h, COLOUR_RGB, 3, random_samples(w * h * 3, 255, 30 + colour));
            info.colour = colour;
            info.channel = channel;
            resize(50, 40);
            sample_image();
            info.zoom = 2.2;
            info.centre = vertex2s{9, 8};
            view(100, 180, channel == 2 ? INTERP_LANCZOS3 : INTERP_CATMULL_ROM);
            process_image();
            ASSERT_EQ(display_reference::first_difference(info.display_image), -1)
                << "colour " << colour << " channel " << channel;
        }
    }
}

TEST_F(DisplayImage, WindowingOfWidthOneAndZero)
{
    // Two equal rows: even sizes put display pixel (c, r) on image pixel (c, r).
    std::vector<int> samples = {99 * 16, 100 * 16, 101 * 16, 100 * 16 + 8};
    samples.insert(samples.end(), samples.begin(), samples.end());
    grey_image(4, 2, samples, 4, 2);
    view(100, 1, INTERP_NEAREST);
    create_display_image();
    // The fraction is dropped before windowing.
    EXPECT_EQ(std::vector<int>({pixel(0, 0)[0], pixel(1, 0)[0], pixel(2, 0)[0], pixel(3, 0)[0]}),
              std::vector<int>({0, 127, 255, 127}));
    info.window_range = 0;           // must not divide by zero
    create_display_image();
    EXPECT_EQ(pixel(2, 0)[0], 255);
    info.window_range = -40;
    create_display_image();
    EXPECT_EQ(pixel(0, 0)[0], 0);
    // Integer windowing truncates toward zero: -1 x 255 / 256 is 0, so 99 shows as 127.
    info.window_range = 256;
    create_display_image();
    EXPECT_EQ(pixel(0, 0)[0], 127);
}

TEST_F(DisplayImage, ResidualOfAnUnchangedImageIsUniform)
{
    grey_image(6, 4, random_samples(24, 255, 23), 6, 4);
    info.show_hipass = 1;
    view(40, 200, INTERP_CATMULL_ROM);
    create_display_image();
    const int expected = std::clamp(127 - 255 * 40 / 200, 0, 255);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 6; x++) ASSERT_EQ(pixel(x, y)[1], expected);
}

TEST_F(DisplayImage, DetailAndNoiseMaps)
{
    grey_image(2, 2, {100 * 16, 110 * 16, 100 * 16, 110 * 16}, 2, 2);
    // Pretend the filter flattened every pixel to 105.
    std::fill(info.processed_image, info.processed_image + 4, 105 * 16);
    info.detail = 5;  // gain 1.5
    view(127, 255, INTERP_NEAREST);
    create_display_image();
    EXPECT_EQ(pixel(0, 0)[0], (105 * 16 + (int)(-5 * 16 * 1.5)) / 16);
    EXPECT_EQ(pixel(1, 0)[0], (105 * 16 + (int)(5 * 16 * 1.5)) / 16);
    info.detail = 0;
    info.show_noise = 1;
    info.noise_image = new int[4]{4096 * 16, -4096 * 16, 4096 * 16, -4096 * 16};
    info.level = 256;
    info.show_threshold = 1;  // not applied to the noise map
    info.threshold = 0;
    create_display_image();
    // Noise x level / 4096 = 256 x 16 and -256 x 16, windowed: 256 and -256, clamped;
    // no threshold marks on the noise map.
    EXPECT_EQ(std::vector<int>({pixel(0, 0)[0], pixel(0, 0)[1], pixel(1, 0)[0]}), std::vector<int>({255, 255, 0}));
    info.level = 8;  // 8 levels: (8 - 127) + 127
    create_display_image();
    EXPECT_EQ(pixel(0, 0)[2], 8);
}

TEST_F(DisplayImage, ThresholdMarks)
{
    grey_image(2, 2, {50 * 16, 200 * 16, 50 * 16, 200 * 16}, 2, 2);
    view(127, 255, INTERP_NEAREST);
    info.show_threshold = 1;
    info.threshold = 150;
    create_display_image();
    EXPECT_EQ(pixel(0, 0)[1], 50);
    EXPECT_EQ(rgb_at(1, 0), std::vector<int>({200, 0, 200})) << "magenta";

    std::vector<int> rgb = {200 * 16, 20 * 16, 160 * 16};
    for (int i = 0; i < 3; i++) rgb.insert(rgb.end(), rgb.begin(), rgb.begin() + 3);
    grey_image(2, 2, rgb, 2, 2, 3);
    info.show_threshold = 1;
    info.threshold = 150;
    select_interpolation(INTERP_NEAREST);
    create_display_image();
    EXPECT_EQ(rgb_at(0, 0), std::vector<int>({255, 20, 255}));
}

TEST_F(DisplayImage, GradientOfARamp)
{
    const int w = 12, h = 10;
    std::vector<int> ramp(w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) ramp[y * w + x] = x * 5 * 16;  // 5 levels per pixel
    grey_image(w, h, ramp, w, h);
    info.show_gradient = 1;  // the window 127 / 255 keeps the slope at 5 display levels per pixel
    for (int kind : {INTERP_LINEAR, INTERP_BSPLINE, INTERP_CATMULL_ROM}) {
        select_interpolation(kind);
        create_display_image();
        EXPECT_TRUE(pixel(5, 5)[0] == 5 && pixel(5, 5)[1] == 5) << kind;
    }
    // With a line along x, the derivative along it, halved and centred on 127; the
    // interpolant's gradient is negated, so a rising ramp reads below 127.
    info.line_start = vertex2d(1, 1);
    info.line_end = vertex2d(9, 1);
    create_display_image();
    EXPECT_EQ(pixel(5, 5)[0], (int)(-5 * 0.5 + 127));
}

TEST_F(DisplayImage, ProfileAlongARow)
{
    const int w = 10, h = 6;
    std::vector<int> samples(w * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) samples[y * w + x] = (x * 10 + y) * 16;
    grey_image(w, h, samples, w, h);
    select_interpolation(INTERP_LINEAR);
    info.line_start = vertex2d(1, 2);
    info.line_end = vertex2d(7, 2);
    info.profile_length = 13;
    release_array(info.line_profile);
    info.line_profile = new double[4 * 13]();
    info.show_projection = 1;
    create_display_image();
    EXPECT_EQ(info.show_projection, 0);
    for (int k = 0; k < 13; k++) EXPECT_NEAR(info.line_profile[k], (1 + k * 0.5) * 10 + 2, 1e-9) << k;
    // Above the threshold the profile shows the top of the window.
    info.show_threshold = 1;
    info.threshold = 50;
    info.window_centre = 30;
    info.window_range = 101;
    create_display_image();
    EXPECT_NEAR(info.line_profile[0], 12, 1e-9);
    EXPECT_EQ(info.line_profile[12], 30 + 50);
    // A line leaving the image reads zero outside it.
    info.show_threshold = 0;
    info.line_end = vertex2d(19, 2);
    create_display_image();
    EXPECT_EQ(info.line_profile[12], 0.0);
}

TEST_F(DisplayImage, ColourProfileHoldsEveryChannel)
{
    std::vector<int> rgb = {10 * 16, 20 * 16, 30 * 16, 40 * 16, 50 * 16, 60 * 16};
    rgb.insert(rgb.end(), rgb.begin(), rgb.end());
    grey_image(2, 2, rgb, 2, 2, 3);
    select_interpolation(INTERP_NEAREST);
    info.line_start = vertex2d(0, 0);
    info.line_end = vertex2d(1, 0);
    info.profile_length = 2;
    create_display_image();
    const double expected[] = {10, 20, 30, 40, 50, 60};
    for (int i = 0; i < 6; i++) EXPECT_EQ(info.line_profile[i], expected[i]);
}

TEST(DisplayCoordinates, MappingsAreInverses)
{
    reset_info();
    info.window_width = 640;
    info.window_height = 480;
    info.width = 300;
    info.height = 200;
    set_default_zoom();
    EXPECT_TRUE(info.centre.x == 150 && info.centre.y == 100);
    EXPECT_DOUBLE_EQ(info.zoom, 2.13333333333333333);
    EXPECT_EQ(info.zoom_mode, 0);
    for (int x = 0; x < 300; x += 7)
        for (int y = 0; y < 200; y += 11) {
            const vertex2s w = image_to_window(vertex2d(x, y));
            const vertex2s back = window_to_image(w);
            ASSERT_TRUE(back.x == x && back.y == y) << x << "," << y;
            const vertex2d exact = window_to_image(vertex2d(w.x, w.y));
            ASSERT_NEAR(exact.x, x, 0.5 / info.zoom);
        }
}

}  // namespace

// At zoom 1, whatever the parities, window pixel (c, r) shows sample (c - ww / 2 + w / 2,
// r - wh / 2 + h / 2) exactly, the pixel window_to_image names; black only outside the image.
TEST_F(DisplayImage, AtZoomOneEveryWindowPixelShowsOneSample)
{
    const int sizes[][4] = {{7, 5, 7, 5}, {6, 4, 6, 4}, {7, 5, 8, 6}, {8, 6, 7, 5}, {9, 3, 4, 8}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1], ww = size[2], wh = size[3];
        std::vector<int> samples(w * h);
        for (int i = 0; i < w * h; i++) samples[i] = (7 * i + 3) % 250 * 16;
        grey_image(w, h, samples, ww, wh);
        set_default_zoom();
        info.zoom = 1.0;
        // The interpolating kinds (the B-spline and Mitchell kernels smooth).
        for (int kind : {INTERP_NONE, INTERP_NEAREST, INTERP_LINEAR, INTERP_CATMULL_ROM,
                         INTERP_LANCZOS2, INTERP_LANCZOS3}) {
            select_interpolation(kind);
            create_display_image();
            for (int r = 0; r < wh; r++)
                for (int c = 0; c < ww; c++) {
                    const int x = c - ww / 2 + w / 2, y = r - wh / 2 + h / 2;
                    const bool inside = x >= 0 && x < w && y >= 0 && y < h;
                    const int expected = inside ? samples[y * w + x] / 16 : 0;
                    ASSERT_EQ(pixel(c, r)[0], expected)
                        << w << "x" << h << " in " << ww << "x" << wh << " kind " << kind
                        << " at " << c << "," << r;
                    const vertex2s under = window_to_image(vertex2s{(short)c, (short)r});
                    ASSERT_TRUE(!inside || (under.x == x && under.y == y)) << c << "," << r;
                }
        }
    }
}
