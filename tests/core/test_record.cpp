// The record's reset between data sets.
#include <gtest/gtest.h>

#include "core/record.h"

// Everything owned is released (sanitizer builds report a leak otherwise), the buffers a
// fresh record needs are there, and what a new data set must not inherit is gone.
TEST(Record, ResetReleasesAndRestores)
{
    reset_info();
    info.raw_image = new int[10];
    info.processed_image = new int[10];
    info.display_image = new unsigned char[30];
    info.kernel = new double[7];
    info.kernel_size = 7;
    info.mask_orientations = new int[2];
    info.mask_count = 5;
    info.ramp_filter = new double[8];
    info.file_name = "a.dcm";
    info.filter_size = 9;
    info.window_range = 700;
    info.profile_length = 10;
    info.interp = 6;
    info.cubic_b = 0.0;
    info.cubic_c = 0.5;
    // A changed neighbour count must not make the reset walk past the cache it allocated.
    for (int i = 0; i < rsq_cache_slots(); i++) info.rsq_cache[i] = new double[4];
    info.rsq_neighbours = 40;

    reset_info();

    EXPECT_TRUE(!info.raw_image && !info.processed_image && !info.display_image && !info.kernel &&
                !info.mask_orientations && !info.ramp_filter);
    EXPECT_EQ(info.kernel_size, -1);
    EXPECT_EQ(info.mask_count, 0);
    EXPECT_TRUE(info.file_name.empty());
    EXPECT_EQ(info.window_range, 1);
    // The mask radius follows the default filter size, not the one before the reset.
    EXPECT_DOUBLE_EQ(info.mask_radius[0], info.filter_size + 0.5);
    ASSERT_EQ(rsq_cache_slots(), 19);
    for (int i = 0; i < 19; i++) EXPECT_EQ(info.rsq_cache[i], nullptr);
    EXPECT_EQ(info.profile_length, 50);
    EXPECT_EQ(info.line_profile[4 * 50 - 1], 0.0);
    EXPECT_EQ(info.projection_line[49], 0.0);
    // Cubic B-spline, B = 1, C = 0: P1(t) = (3t^3 - 6t^2 + 4) / 6, P2(t) = (-t^3 + 6t^2 - 12t + 8) / 6.
    EXPECT_EQ(info.interp, 3);
    const double expected[8] = {0.5, -1.0, 0.0, 4.0 / 6, -1.0 / 6, 1.0, -2.0, 8.0 / 6};
    for (int i = 0; i < 8; i++) EXPECT_NEAR(info.cubic_coeffs[i], expected[i], 1e-12) << i;
}
