// The interpolation kernels of the display stage on hand-worked neighbourhoods: what the
// comparison with the textbook kernels (test_display_image.cpp) does not reach.
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

TEST_F(Interpolation, KindZeroHasNoLevelAwayFromItsSampleAndNearestRoundsHalfUp)
{
    patch p;
    for (int& x : p.v) x = 100 * 16;
    info.zoom = 4;  // e = 1/8; the pixels themselves: DisplayImage.EveryKindMatches...
    double level = 7;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.5, 0.0, INTERP_NONE, &level), 0);
    EXPECT_EQ(level, 0.0);
    // Nearest: a half rounds up, in each direction on its own.
    p.v[2 * 6 + 3] = 20 * 16;
    p.v[3 * 6 + 2] = 30 * 16;
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.49, 0.5, INTERP_NEAREST, nullptr), 30);
    EXPECT_EQ(interp_data(p.centre(), 1, 6, 0.5, 0.49, INTERP_NEAREST, nullptr), 20);
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
    EXPECT_EQ((std::pair<int, int>(display_level(16 * 254.5), display_level(16 * 254.49))), std::make_pair(255, 254));
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
    EXPECT_TRUE(dir.x == 0.0 && dir.y == 0.0);
}

}  // namespace
