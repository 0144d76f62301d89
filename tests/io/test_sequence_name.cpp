// The numbered-file rule shared by the loaders and writers.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "core/checked_size.h"
#include "io/sequence_name.h"

TEST(SequenceName, FieldIsTheLastRunOfDigitsAnywhere)
{
    sequence_field f;
    const std::string ct = "/data/run2/ct_0099.dcm";
    ASSERT_TRUE(find_sequence_field(ct, f));
    EXPECT_EQ(std::make_pair(f.number, f.zero_padded), std::make_pair(99L, true));
    // Wider numbers are not truncated.
    EXPECT_EQ(std::make_tuple(sequence_file_name(ct, f, 100), sequence_file_name(ct, f, 7),
                              sequence_file_name(ct, f, 12345)),
              std::make_tuple("/data/run2/ct_0100.dcm", "/data/run2/ct_0007.dcm", "/data/run2/ct_12345.dcm"));
    // The digits may be in a folder name.
    ASSERT_TRUE(find_sequence_field("/scans/series12/IMAGE", f));
    EXPECT_EQ(sequence_file_name("/scans/series12/IMAGE", f, 13), "/scans/series13/IMAGE");

    EXPECT_FALSE(find_sequence_field("/scans/image.dcm", f));
}

TEST(SequenceName, UnpaddedAndSpacePaddedFields)
{
    sequence_field f;
    ASSERT_TRUE(find_sequence_field("img9.png", f));
    EXPECT_FALSE(f.zero_padded);
    EXPECT_EQ(sequence_file_name("img9.png", f, 10), "img10.png");

    // "7  " is a field of width 3 right-padded with spaces.
    ASSERT_TRUE(find_sequence_field("IM7  .dcm", f));
    EXPECT_EQ(f.number, 7);
    EXPECT_EQ(sequence_file_name("IM7  .dcm", f, 12), "IM12 .dcm");
    EXPECT_EQ(sequence_file_name("IM7  .dcm", f, 6), "IM6  .dcm");
}

TEST(SequenceName, RangeStopsAtTheFirstGapEachWay)
{
    const std::set<std::string> files = {"s_003.dcm", "s_004.dcm", "s_005.dcm", "s_006.dcm",
                                         "s_008.dcm"};
    auto exists = [&](const std::string& n) { return files.count(n) != 0; };
    sequence_field f;
    ASSERT_TRUE(find_sequence_field("s_004.dcm", f));
    long first = 0, count = 0;
    ASSERT_TRUE(find_sequence_range("s_004.dcm", f, exists, nullptr, first, count));
    EXPECT_EQ(std::make_pair(first, count), std::make_pair(3L, 4L));

    // Cancelling during the downward scan is reported.
    int pulses = 0;
    ASSERT_TRUE(find_sequence_field("s_011.dcm", f));
    EXPECT_FALSE(find_sequence_range("s_011.dcm", f, [](const std::string&) { return true; },
                                     [&] { return ++pulses < 1; }, first, count));
}

TEST(CheckedSize, RejectsOverflowAndSizesTheFileCannotBack)
{
    EXPECT_TRUE(mad3_sizes_valid(512, 512, 3, 0));
    EXPECT_FALSE(mad3_sizes_valid(65536, 65536, 3, 0));
    EXPECT_FALSE(mad3_sizes_valid(-1, 2, 3, 0));
    EXPECT_TRUE(image_fits(512, 512, 1, 2, 132, 512 * 512 * 2 + 132));
    EXPECT_FALSE(image_fits(512, 512, 1, 2, 132, 512 * 512 * 2 + 131));
    EXPECT_FALSE(image_fits(0, 512, 1, 2, 0, 1 << 30));
    EXPECT_EQ(new_samples_checked(70000, 1, 1), nullptr);
    int* p = new_samples_checked(4, 4, 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[47], 0);
    delete[] p;
}
