// The record rules of the filter choice, shared by the window and the batch tool.
#include <gtest/gtest.h>

#include <string>

#include "commands/filter_choice.h"
#include "core/record.h"

TEST(FilterChoice, RowsAndTuningFollowTheFilter)
{
    reset_info();
    // Which rows each filter shows: centile (and its label), level, mask.
    const struct {
        bool centile, level, mask;
        const char* label;
    } rows[13] = {
        {false, false, false, " "},          {false, false, true, " "},
        {false, true, false, " "},           {false, true, true, " "},
        {true, true, true, "Mask centile:"}, {true, true, true, "Mask centile:"},
        {true, true, true, "Mask centile:"}, {false, false, false, " "},
        {true, false, true, "Mask centile:"}, {false, false, false, " "},
        {false, true, false, " "},           {true, true, false, "Filter anisotropy:"},
        {true, true, true, "Mask centile:"},
    };
    for (int f = 0; f < 13; f++) {
        info.filter = f;
        const filter_rows r = apply_filter_choice();
        EXPECT_EQ(r.centile, rows[f].centile) << f;
        EXPECT_EQ(r.level, rows[f].level) << f;
        EXPECT_EQ(r.mask, rows[f].mask) << f;
        EXPECT_EQ(std::string(r.centile_label), rows[f].label) << f;
    }

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
