// The Open command's reference pairing by file name, with every row of its tables, and
// "Open reference" with its own ref_range table.
#include <gtest/gtest.h>

#include <wx/filename.h>
#include <wx/log.h>

#include "core/ui.h"
#include "evaluation/reference.h"
#include "image_test_support.h"
#include "commands/open_data_set.h"

namespace {

// Writes the pair (8 x 6 grey PNGs, the reference one level brighter) and opens the
// noisy one as the Open command does with the image filter.
void open_pair(const std::string& dir, const std::string& noisy, const std::string& ref)
{
    write_png(dir + noisy + ".png", 8, 6, 40);
    if (!ref.empty()) write_png(dir + ref + ".png", 8, 6, 41);
    ASSERT_TRUE(open_data_set(wxString(dir + noisy + ".png"), 0));
}

wxString ref_name() { return wxFileName(info.ref_file_name).GetName(); }

}  // namespace

TEST(ReferencePairing, AllNoiseEndingsSetLevelRangeAndWindow)
{
    const struct {
        const char* ending;
        int level;
        double range;
    } rows[] = {
        {"_001", 6, 25.0 / 26},   {"_002", 13, 25.0 / 27},  {"_004", 30, 25.0 / 29},
        {"_008", 62, 25.0 / 33},  {"_016", 100, 25.0 / 41}, {"_032", 142, 25.0 / 57},
        {"_064", 184, 25.0 / 89}, {"_128", 214, 25.0 / 153}, {"_16", 256, 0.8},
        {"_32", 256, 0.6},        {"_64", 256, 0.5},         {"_5", 256, 1.0},
    };
    for (const auto& row : rows) {
        const std::string dir = fresh_folder();
        open_pair(dir, std::string("kodim_all_noise") + row.ending, std::string("kodim_all_ref") + row.ending);
        SCOPED_TRACE(row.ending);
        ASSERT_NE(info.ref_image, nullptr);
        EXPECT_EQ(ref_name(), wxString("kodim_all_ref") + row.ending);
        EXPECT_TRUE(wxFileName(info.ref_file_name).IsAbsolute());
        EXPECT_EQ(info.level, row.level);
        EXPECT_EQ(info.use_level, 1);
        EXPECT_DOUBLE_EQ(info.ref_range, row.range);
        EXPECT_EQ(info.ref_image[0], 41 * 16);
        if (row.range != 1.0) {
            EXPECT_EQ(info.window_centre, 127);
            EXPECT_EQ(info.window_range, (int)(row.range * 255));
            EXPECT_EQ(info.default_centre, 127);
            EXPECT_EQ(info.default_range, 255);
        } else {
            EXPECT_EQ(info.window_range, 255);
        }
    }
    // The worked case: level 100, ref_range 25/41, window 127/155.
    const std::string dir = fresh_folder();
    open_pair(dir, "noisy_all_noise_016", "noisy_all_ref_016");
    EXPECT_EQ(info.window_range, 155);
}

TEST(ReferencePairing, NindIsoTableAndTheIso200Fallback)
{
    const struct {
        const char* iso;
        int level;
    } rows[] = {
        {"250", 25},  {"320", 27},  {"400", 30},  {"500", 32},  {"640", 35},  {"800", 38},
        {"1000", 42}, {"1250", 48}, {"1600", 60}, {"2000", 64}, {"2500", 70}, {"3200", 80},
        {"4000", 88}, {"5000", 100}, {"6400", 110}, {"H1", 150}, {"H2", 200}, {"H3", 255},
    };
    for (const auto& row : rows) {
        const std::string dir = fresh_folder();
        open_pair(dir, std::string("NIND_scene_ISO") + row.iso, "NIND_scene_ISO100");
        SCOPED_TRACE(row.iso);
        EXPECT_EQ(ref_name(), "NIND_scene_ISO100");
        EXPECT_EQ(info.level, row.level);
        EXPECT_DOUBLE_EQ(info.ref_range, 1.0);
        EXPECT_EQ(info.window_range, 255);
    }
    const std::string dir = fresh_folder();
    open_pair(dir, "NIND_scene_ISO3200", "NIND_scene_ISO200");
    EXPECT_EQ(ref_name(), "NIND_scene_ISO200");
    EXPECT_EQ(info.level, 80);
    // An unknown ending finds the reference but leaves the level.
    const std::string other = fresh_folder();
    open_pair(other, "NIND_scene_ISO12", "NIND_scene_ISO100");
    EXPECT_EQ(ref_name(), "NIND_scene_ISO100");
    EXPECT_EQ(info.level, 256);
}

TEST(ReferencePairing, NoisyNoiseAndLastUnderscoreRules)
{
    std::string dir = fresh_folder();
    open_pair(dir, "0010_NOISY_SRGB_010", "0010_GT_SRGB_010");
    EXPECT_EQ(ref_name(), "0010_GT_SRGB_010");
    dir = fresh_folder();
    open_pair(dir, "0010_NOISY_RAW_010", "0010_GT_RAW_010");
    EXPECT_EQ(ref_name(), "0010_GT_RAW_010");
    dir = fresh_folder();
    open_pair(dir, "cat_noise", "cat");
    EXPECT_EQ(ref_name(), "cat");
    dir = fresh_folder();
    open_pair(dir, "cat_noise_sigma", "cat_sigma");
    EXPECT_EQ(ref_name(), "cat_sigma");
    dir = fresh_folder();
    open_pair(dir, "dog_big_3", "dog_big");
    EXPECT_EQ(ref_name(), "dog_big");
    EXPECT_EQ(info.level, 256);

    // An "_all_noise" name whose "_all_ref" partner is missing falls through to the last
    // "_" rule.
    dir = fresh_folder();
    open_pair(dir, "x_all_noise_016", "x_all_noise");
    EXPECT_EQ(ref_name(), "x_all_noise");
    EXPECT_DOUBLE_EQ(info.ref_range, 1.0);
    EXPECT_EQ(info.level, 256);

    // No candidate: a leading "_" is not a separator; no partner at all.
    dir = fresh_folder();
    open_pair(dir, "_dog", "dog");
    EXPECT_EQ(info.ref_image, nullptr);
    EXPECT_TRUE(info.ref_file_name.empty());
    dir = fresh_folder();
    open_pair(dir, "lonely_7", "");
    EXPECT_EQ(info.ref_image, nullptr);
    EXPECT_TRUE(info.ref_file_name.empty());
}

TEST(ReferencePairing, WrongSizeOrKindIsNoReference)
{
    std::string dir = fresh_folder();
    write_png(dir + "tree_all_noise_016.png", 8, 6, 40);
    write_png(dir + "tree_all_ref_016.png", 9, 6, 40);
    ASSERT_TRUE(open_data_set(wxString(dir + "tree_all_noise_016.png"), 0));
    EXPECT_EQ(info.ref_image, nullptr);
    EXPECT_TRUE(info.ref_file_name.empty());
    EXPECT_DOUBLE_EQ(info.ref_range, 1.0);

    dir = fresh_folder();
    write_png(dir + "leaf_noise.png", 8, 6, 40);
    write_png(dir + "leaf.png", 8, 6, 40, true);  // colour reference for a grey image
    ASSERT_TRUE(open_data_set(wxString(dir + "leaf_noise.png"), 0));
    EXPECT_EQ(info.ref_image, nullptr);
    EXPECT_TRUE(info.ref_file_name.empty());
}

TEST(OpenCommand, FilterChoosesTheLoaderAndOnlyImageFilesPair)
{
    // "All files" sends a PNG to the DICOM reader, which does not take it.
    const std::string dir = fresh_folder();
    write_png(dir + "pic_all_noise_016.png", 8, 6, 40);
    write_png(dir + "pic_all_ref_016.png", 8, 6, 41);
    EXPECT_FALSE(open_data_set(wxString(dir + "pic_all_noise_016.png"), 6));
    EXPECT_EQ(info.raw_image, nullptr);
    EXPECT_EQ(info.ref_image, nullptr);
    EXPECT_EQ(info.open_filter, 6);
    EXPECT_NE(info.display_image, nullptr);

    // A multi-page file (file_type -5) is not paired.
    const std::string pages = fresh_folder();
    copy_file(image_fixture("pages16.tif"), pages + "pages_noise.tif");
    write_png(pages + "pages.png", 4, 3, 1);
    ASSERT_TRUE(open_data_set(wxString(pages + "pages_noise.tif"), 0));
    EXPECT_EQ(info.file_type, -5);
    EXPECT_EQ(info.ref_image, nullptr);

    // Sixteen-bit data without limits get the window from the data range; the level slider
    // reaches the data maximum.
    ASSERT_TRUE(open_data_set(wxString(image_fixture("pages16.tif")), 0));
    EXPECT_EQ(info.window_centre, (1000 + 1011) / 2);
    EXPECT_EQ(info.window_range, 11);
    EXPECT_EQ(info.default_range, 11);
    EXPECT_EQ(level_slider_maximum(), 1011);
    ASSERT_TRUE(open_data_set(wxString(image_fixture("colour.png")), 0));
    EXPECT_EQ(info.colour, 1);
    EXPECT_EQ(info.channel, 0);
    EXPECT_EQ(level_slider_maximum(), info.colour_processing ? 443 : 256);
}

TEST(OpenReference, EndingTableAppliesOnlyToAllNoiseImages)
{
    const struct {
        const char* ending;
        double range;
    } rows[] = {
        {"_001", 0.9615384615384615}, {"_002", 0.9259259259259258}, {"_004", 0.8620689655172414},
        {"_008", 0.7575757575757576}, {"_016", 0.6097560975609756}, {"_032", 0.43859649122807015},
        {"_064", 0.2808988764044944}, {"_128", 0.16339869281045752}, {"_16", 0.8},
        {"_32", 0.6},                 {"_64", 0.5},                  {"_100", 1.0},
    };
    for (const auto& row : rows) {
        EXPECT_NEAR(ref_range_for_reference("/d/a_all_noise_7.png", wxString("/d/r") + row.ending + ".png"),
                    row.range, 1e-15)
            << row.ending;
        EXPECT_EQ(ref_range_for_reference("/d/plain.png", wxString("/d/r") + row.ending + ".png"), 1.0);
    }

    const std::string dir = fresh_folder();
    write_png(dir + "leaf_all_noise_9.png", 8, 6, 40);
    write_png(dir + "clean_016.png", 8, 6, 41);
    write_png(dir + "colour.png", 8, 6, 41, true);
    ASSERT_TRUE(open_data_set(wxString(dir + "leaf_all_noise_9.png"), 0));
    ASSERT_TRUE(open_reference(wxString(dir + "clean_016.png")));
    EXPECT_DOUBLE_EQ(info.ref_range, 0.6097560975609756);
    EXPECT_EQ(info.ref_file_name, wxString(dir + "clean_016.png"));

    // A colour reference for a grey image is refused and no reference remains.
    wxLogNull quiet;
    EXPECT_FALSE(open_reference(wxString(dir + "colour.png")));
    EXPECT_EQ(info.ref_image, nullptr);
    EXPECT_TRUE(info.ref_file_name.empty());
}
