// The record's reset invariants.
#include <gtest/gtest.h>

#include "core/record.h"

TEST(Record, ResetReleasesEveryImageAndRestoresDefaults)
{
    reset_info();
    info.raw_image = new int[10];
    info.sampled_image = new int[10];
    info.processed_image = new int[10];
    info.display_image = new unsigned char[30];
    info.probe_values = new int[4];
    info.probe_count = 4;
    info.kernel = new double[7];
    info.kernel_size = 7;
    info.mask_orientations = new int[2];
    info.mask_count = 5;
    info.ramp_filter = new double[8];
    info.rsq_cache[3] = new double[16];
    info.file_name = "a.dcm";
    info.filter_size = 9;
    info.data_max = 4000;
    info.window_range = 700;
    info.file_type = 0;

    reset_info();

    EXPECT_EQ(info.raw_image, nullptr);
    EXPECT_EQ(info.sampled_image, nullptr);
    EXPECT_EQ(info.processed_image, nullptr);
    EXPECT_EQ(info.display_image, nullptr);
    EXPECT_EQ(info.probe_values, nullptr);
    EXPECT_EQ(info.probe_count, 0);
    EXPECT_EQ(info.kernel, nullptr);
    EXPECT_EQ(info.kernel_size, -1);
    EXPECT_EQ(info.mask_orientations, nullptr);
    EXPECT_EQ(info.mask_count, 0);
    EXPECT_EQ(info.ramp_filter, nullptr);
    EXPECT_TRUE(info.file_name.empty());
    EXPECT_EQ(info.file_type, -4);
    EXPECT_EQ(info.width, 1200);
    EXPECT_EQ(info.height, 1200);
    EXPECT_EQ(info.data_min, 0);
    EXPECT_EQ(info.data_max, 1);
    EXPECT_EQ(info.window_range, 1);
    // The mask radius follows the default filter size, not the one before the reset.
    EXPECT_DOUBLE_EQ(info.mask_radius[0], 3.5);
    EXPECT_DOUBLE_EQ(info.mask_radius[1], 3.5);
}

TEST(Record, SinogramCacheAlwaysHasOneSlotPerNeighbourPairPlusOne)
{
    reset_info();
    ASSERT_NE(info.rsq_cache, nullptr);
    EXPECT_EQ(rsq_cache_slots(), 19);
    for (int i = 0; i < 19; i++) EXPECT_EQ(info.rsq_cache[i], nullptr);

    // A changed neighbour count must not make the next reset walk past the array it
    // allocated earlier (AddressSanitizer builds catch the overrun).
    for (int i = 0; i < 19; i++) info.rsq_cache[i] = new double[4];
    info.rsq_neighbours = 40;
    reset_info();
    EXPECT_EQ(info.rsq_neighbours, 9);
    for (int i = 0; i < 19; i++) EXPECT_EQ(info.rsq_cache[i], nullptr);
}

TEST(Record, ProfileBuffersAreReallocatedForTheDefaultLength)
{
    info.profile_length = 10;
    reset_info();
    ASSERT_NE(info.line_profile, nullptr);
    ASSERT_NE(info.projection_line, nullptr);
    EXPECT_EQ(info.profile_length, 50);
    // Four values per sample, all zero.
    for (int i = 0; i < 4 * 50; i++) EXPECT_EQ(info.line_profile[i], 0.0);
    for (int i = 0; i < 50; i++) EXPECT_EQ(info.projection_line[i], 0.0);
}

TEST(Record, ResetRestoresTheCubicBSplineKernel)
{
    info.interp = 6;
    info.cubic_b = 0.0;
    info.cubic_c = 0.5;
    reset_info();
    EXPECT_EQ(info.interp, 3);
    // B = 1, C = 0: P1(t) = (3t^3 - 6t^2 + 4) / 6, P2(t) = (-t^3 + 6t^2 - 12t + 8) / 6.
    const double expected[8] = {0.5, -1.0, 0.0, 4.0 / 6, -1.0 / 6, 1.0, -2.0, 8.0 / 6};
    for (int i = 0; i < 8; i++) EXPECT_NEAR(info.cubic_coeffs[i], expected[i], 1e-12) << i;
}

TEST(Record, TuningAndMetalDefaults)
{
    info.dev_values[3] = 30;
    info.metal_rmar = 0;
    info.metal_threshold = 1;
    info.ref_range = 0.5;
    reset_info();
    const int dev[10] = {2, 2, 1, 24, 24, 1, 1, 1, 3, 1};
    for (int i = 0; i < 10; i++) EXPECT_EQ(info.dev_values[i], dev[i]);
    EXPECT_EQ(info.metal_rmar, 1);
    EXPECT_EQ(info.metal_threshold, 2800);
    EXPECT_EQ(info.metal_air, -500);
    EXPECT_EQ(info.recon_angles, 720);
    EXPECT_DOUBLE_EQ(info.ref_range, 1.0);
    EXPECT_EQ(info.level, 256);
    EXPECT_EQ(info.use_level, 1);
}
