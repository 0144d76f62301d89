// The record rules of the filter choice, shared by the window and the batch tool.
#include <gtest/gtest.h>

#include <tuple>

#include "commands/filter_choice.h"
#include "core/record.h"

// Which rows each filter shows is checked on the real window (the GUI tests). The
// anisotropic filter and the rank filters convert each other's defaults both ways; values
// the user chose stay.
TEST(FilterChoice, AnisotropyAndCentileDefaultsConvertBothWays)
{
    reset_info();
    info.filter = 11;
    filter_rows r = apply_filter_choice();
    EXPECT_EQ(std::tie(info.dev_values[3], info.dev_values[4], info.centile_alt, r.centile_value),
              std::make_tuple(30, 30, 5, 5));
    info.filter = 5;
    info.mask = 2;
    r = apply_filter_choice();
    // Fixed masks: the default centile 4 becomes 8.
    EXPECT_EQ(std::tie(info.dev_values[3], info.centile_alt, info.centile, r.centile_value),
              std::make_tuple(24, 6, 8, 8));
    info.mask = 1;
    apply_filter_choice();
    EXPECT_EQ(info.centile, 4) << "the varying mask takes 4 back";
    info.centile = 12;
    info.centile_alt = 9;
    for (int filter : {11, 4}) {
        info.filter = filter;
        apply_filter_choice();
    }
    EXPECT_EQ(std::tie(info.centile, info.centile_alt), std::make_tuple(12, 9));
    reset_info();
}
