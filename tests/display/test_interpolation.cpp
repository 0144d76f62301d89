// The interpolation kernels of the display stage on hand-worked neighbourhoods.
#include <gtest/gtest.h>

#include <cmath>

#include "core/record.h"
#include "display/interpolation.h"

namespace {

// A 6 x 6 neighbourhood; `centre` points at (2, 2), so offsets -2..3 are inside.
struct patch {
    int v[36];
    const int* centre() const { return v + 2 * 6 + 2; }
};

class Interpolation : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_info();
        info.zoom = 1.0;
        info.subsample = 1;
    }
};

// The smoothing kinds (B-spline, Mitchell-Netravali) spread a single sample; Catmull-Rom
// interpolates it.
TEST_F(Interpolation, SmoothingKindsDoNotInterpolate)
{
    patch p = {};
    p.v[2 * 6 + 2] = 36 * 16;  // a single bright sample
    double level;
    select_interpolation(INTERP_BSPLINE);
    interp_data(p.centre(), 1, 6, 0.0, 0.0, INTERP_BSPLINE, &level);
    EXPECT_NEAR(level, 36 * (4.0 / 6) * (4.0 / 6), 1e-12);
    interp_data(p.centre() - 1, 1, 6, 0.0, 0.0, INTERP_BSPLINE, &level);  // one to the left
    EXPECT_NEAR(level, 36 * (1.0 / 6) * (4.0 / 6), 1e-12);
    // Half-way: P1(0.5) = 23/48, P2(1.5) = 1/48 for the B-spline.
    interp_data(p.centre(), 1, 6, 0.5, 0.0, INTERP_BSPLINE, &level);
    EXPECT_NEAR(level, 36 * (23.0 / 48) * (4.0 / 6), 1e-12);
    select_interpolation(INTERP_MITCHELL);
    // Mitchell-Netravali: P1(0) = 16/18, P2(1) = 1/18.
    interp_data(p.centre(), 1, 6, 0.0, 0.0, INTERP_MITCHELL, &level);
    EXPECT_NEAR(level, 36 * (16.0 / 18) * (16.0 / 18), 1e-12);
    interp_data(p.centre() - 6, 1, 6, 0.0, 0.0, INTERP_MITCHELL, &level);  // one row up
    EXPECT_NEAR(level, 36 * (16.0 / 18) * (1.0 / 18), 1e-12);
    // Catmull-Rom: P1 = 1.5t^3 - 2.5t^2 + 1, P2 = -0.5t^3 + 2.5t^2 - 4t + 2.
    select_interpolation(INTERP_CATMULL_ROM);
    interp_data(p.centre(), 1, 6, 0.0, 0.0, INTERP_CATMULL_ROM, &level);
    EXPECT_NEAR(level, 36, 1e-12);
    interp_data(p.centre() + 1, 1, 6, 0.5, 0.0, INTERP_CATMULL_ROM, &level);  // P2(1.5) = -1/16
    EXPECT_NEAR(level, 36 * -0.0625, 1e-12);
    select_interpolation(INTERP_LANCZOS2);  // leaves the cubic parameters alone
    EXPECT_DOUBLE_EQ(info.cubic_c, 0.5);
}

TEST_F(Interpolation, BilinearAndNearestByHand)
{
    patch p = {};
    p.v[2 * 6 + 2] = 10 * 16;
    p.v[2 * 6 + 3] = 20 * 16;
    p.v[3 * 6 + 2] = 30 * 16;
    p.v[3 * 6 + 3] = 60 * 16;
    double level;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.25, 0.5, INTERP_LINEAR, &level), 25);
    EXPECT_DOUBLE_EQ(level, (20 * 0.25 + 10 * 0.75) * 0.5 + (60 * 0.25 + 30 * 0.75) * 0.5);
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.49, 0.5, INTERP_NEAREST, nullptr), 30);
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.5, 0.49, INTERP_NEAREST, nullptr), 20);
    // Steps other than 1 select another channel layout.
    int rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    double v;
    interp_data(rgb + 1, 3, 6, 1.0 / 3, 0.0, INTERP_LINEAR, &v);  // greens 2 and 5
    EXPECT_NEAR(v * 16, 2 + 1.0, 1e-12);
}

TEST_F(Interpolation, KindZeroIsBlackAwayFromItsSample)
{
    patch p;
    for (int& x : p.v) x = 100 * 16;
    info.zoom = 4;  // e = 1/8
    double level = 7;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.5, 0.0, INTERP_NONE, &level), 0);
    EXPECT_EQ(level, 0.0);
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.1, 0.9, INTERP_NONE, nullptr), 100);
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.1, 0.5, INTERP_NONE, nullptr), 0);
    info.zoom = 0.5;  // zoomed out: every position shows its nearest sample
    info.subsample = 1;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.5, 0.5, INTERP_NONE, nullptr), 100);
}

TEST_F(Interpolation, LevelsClampButValuesDoNot)
{
    patch p;
    for (int& x : p.v) x = 300 * 16;
    double level;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.3, 0.7, INTERP_LINEAR, &level), 255);
    EXPECT_DOUBLE_EQ(level, 300);
    for (int& x : p.v) x = -5 * 16;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.3, 0.7, INTERP_LANCZOS2, &level), 0);
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0, 0, INTERP_NEAREST, &level), 0);
    EXPECT_DOUBLE_EQ(level, -5);
    EXPECT_EQ(display_level(16 * 254.5), 255);
    EXPECT_EQ(display_level(16 * 254.49), 254);
}

TEST_F(Interpolation, LanczosKernels)
{
    EXPECT_EQ(lanczos(2, 0.0), 1.0);
    EXPECT_NEAR(lanczos(2, 1.0), 0.0, 1e-15);
    EXPECT_NEAR(lanczos(3, 2.0), 0.0, 1e-15);
    EXPECT_NEAR(lanczos(2, 0.5), 2 * std::sin(M_PI / 4) / (M_PI * M_PI / 4), 1e-15);
    double w[6];
    ASSERT_EQ(interp_weights(INTERP_LANCZOS3, 0.25, w), 6);
    EXPECT_NEAR(w[0], lanczos(3, -2.25), 1e-15);
    EXPECT_NEAR(w[5], lanczos(3, 2.75), 1e-15);
    EXPECT_EQ(interp_weights(INTERP_LINEAR, 0.25, w), 0);
}

TEST_F(Interpolation, GradientOfARampAndOfAFlatPatch)
{
    patch p;
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 6; x++) p.v[y * 6 + x] = (7 * x + 3 * y) * 16;
    vertex2d dir;
    for (int kind : {INTERP_LINEAR, INTERP_BSPLINE, INTERP_CATMULL_ROM, INTERP_LANCZOS3}) {
        select_interpolation(kind);
        const unsigned char g = interp_grad(p.centre(), 1, 6, 0.3, 0.6, (interp_t)kind, &dir);
        EXPECT_EQ(g, (int)std::sqrt(7.0 * 7 + 3 * 3)) << kind;
        // The negated gradient points down the ramp.
        EXPECT_NEAR(dir.x, -7 / std::sqrt(58.0), 1e-12) << kind;
        EXPECT_NEAR(dir.y, -3 / std::sqrt(58.0), 1e-12) << kind;
    }
    info.line_start = vertex2d(0, 0);
    info.line_end = vertex2d(0, 10);  // along y: (-3 x 16 x 10) / (16 x 10) x 0.5 + 127
    EXPECT_EQ(interp_grad(p.centre(), 1, 6, 0.3, 0.6, INTERP_LINEAR, &dir), (int)(127 - 1.5));
    info.line_end = vertex2d(0, 0);
    patch flat;
    for (int& x : flat.v) x = 500;
    EXPECT_EQ(interp_grad(flat.centre(), 1, 6, 0.5, 0.5, INTERP_BSPLINE, &dir), 0);
    EXPECT_EQ(dir.x, 0.0);
    EXPECT_EQ(dir.y, 0.0);
}

}  // namespace
