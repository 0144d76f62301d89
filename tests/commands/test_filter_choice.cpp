// The record rules of the filter choice, shared by the window and the batch tool.
#include <gtest/gtest.h>

#include "commands/filter_choice.h"
#include "core/record.h"

// Which rows each filter shows is checked on the real window (the GUI tests).
TEST(FilterChoice, AnisotropyAndCentileDefaultsConvertBothWays)
{
    reset_info();
    // The anisotropic filter and the rank filters convert each other's defaults both ways;
    // values the user chose stay.
    info.filter = 11;
    filter_rows r = apply_filter_choice();
    EXPECT_EQ(info.dev_values[3], 30);
    EXPECT_EQ(info.dev_values[4], 30);
    EXPECT_EQ(info.centile_alt, 5);
    EXPECT_EQ(r.centile_value, 5);
    info.filter = 5;
    info.mask = 2;
    r = apply_filter_choice();
    EXPECT_EQ(info.dev_values[3], 24);
    EXPECT_EQ(info.centile_alt, 6);
    EXPECT_EQ(info.centile, 8) << "fixed masks: the default centile 4 becomes 8";
    EXPECT_EQ(r.centile_value, 8);
    info.mask = 1;
    apply_filter_choice();
    EXPECT_EQ(info.centile, 4) << "the varying mask takes 4 back";
    info.centile = 12;
    info.centile_alt = 9;
    info.filter = 11;
    apply_filter_choice();
    info.filter = 4;
    apply_filter_choice();
    EXPECT_EQ(info.centile, 12);
    EXPECT_EQ(info.centile_alt, 9);
    reset_info();
}
