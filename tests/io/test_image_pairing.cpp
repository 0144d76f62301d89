// The Open command's reference pairing by file name, and "Open reference".
#include <gtest/gtest.h>

#include <tuple>
#include <wx/filename.h>
#include <wx/log.h>

#include "commands/open_data_set.h"
#include "core/ui.h"
#include "evaluation/reference.h"
#include "image_test_support.h"

namespace {

// Writes the pair (8 x 6 grey PNGs, the reference one level brighter, unless given another
// width or colour) and opens the noisy one as the Open command does with the image filter.
void open_pair(const std::string& dir, const std::string& noisy, const std::string& ref, int ref_width = 8,
               bool ref_colour = false)
{
    write_png(dir + noisy + ".png", 8, 6, 40);
    if (!ref.empty()) write_png(dir + ref + ".png", ref_width, 6, 41, ref_colour);
    ASSERT_TRUE(open_data_set(wxString(dir + noisy + ".png"), 0));
}

wxString ref_name() { return wxFileName(info.ref_file_name).GetName(); }

}  // namespace

// The naming rules of the public benchmarks, with the level, ref_range and window they
// imply: the worked "_all_noise" case (level 100, ref_range 25/41, window 127/155), a
// coarse ending that keeps the level, and the NIND ISO table with its ISO200 fallback.
TEST(ReferencePairing, BenchmarkSeriesSetLevelRangeAndWindow)
{
    const struct {
        const char *noisy, *ref;
        int level;
        double range;
        int window;
    } rows[] = {
        {"kodim_all_noise_016", "kodim_all_ref_016", 100, 25.0 / 41, 155},
        {"kodim_all_noise_32", "kodim_all_ref_32", 256, 0.6, 153},
        {"kodim_all_noise_5", "kodim_all_ref_5", 256, 1.0, 255},
        {"NIND_scene_ISO3200", "NIND_scene_ISO100", 80, 1.0, 255},
        {"NIND_scene_ISOH2", "NIND_scene_ISO200", 200, 1.0, 255},
        {"NIND_scene_ISO12", "NIND_scene_ISO100", 256, 1.0, 255},  // unknown ISO: level stays
    };
    for (const auto& row : rows) {
        const std::string dir = fresh_folder();
        open_pair(dir, row.noisy, row.ref);
        SCOPED_TRACE(row.noisy);
        ASSERT_NE(info.ref_image, nullptr);
        EXPECT_EQ(ref_name(), row.ref);
        EXPECT_TRUE(wxFileName(info.ref_file_name).IsAbsolute());
        EXPECT_EQ(std::tie(info.ref_image[0], info.level, info.ref_range, info.window_range,
                           info.default_range),
                  std::make_tuple(41 * 16, row.level, row.range, row.window, 255));
    }
}

TEST(ReferencePairing, NoisyNoiseLastUnderscoreAndMismatchRules)
{
    const struct {
        const char *noisy, *ref, *paired;  // paired: the reference found, "" none
        int ref_width = 8;
        bool ref_colour = false;
    } rows[] = {
        {"0010_NOISY_SRGB_010", "0010_GT_SRGB_010", "0010_GT_SRGB_010"},
        {"0010_NOISY_RAW_010", "0010_GT_RAW_010", "0010_GT_RAW_010"},
        {"cat_noise", "cat", "cat"},
        {"cat_noise_sigma", "cat_sigma", "cat_sigma"},
        {"dog_big_3", "dog_big", "dog_big"},
        // An "_all_noise" name whose "_all_ref" partner is missing: the last "_" rule.
        {"x_all_noise_016", "x_all_noise", "x_all_noise"},
        {"_dog", "dog", ""},  // a leading "_" is not a separator
        {"lonely_7", "", ""},
        // A reference of another size, or colour for a grey image, is none.
        {"tree_all_noise_016", "tree_all_ref_016", "", 9},
        {"leaf_noise", "leaf", "", 8, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.noisy);
        open_pair(fresh_folder(), row.noisy, row.ref, row.ref_width, row.ref_colour);
        EXPECT_EQ(std::make_tuple(ref_name(), info.ref_image != nullptr, info.level, info.ref_range),
                  std::make_tuple(wxString(row.paired), *row.paired != 0, 256, 1.0));
    }
}

TEST(OpenCommand, FilterChoosesTheLoaderAndOnlyImageFilesPair)
{
    // "All files" sends a PNG to the DICOM reader, which does not take it.
    const std::string dir = fresh_folder();
    write_png(dir + "pic_all_noise_016.png", 8, 6, 40);
    write_png(dir + "pic_all_ref_016.png", 8, 6, 41);
    // The refused open leaves the record as it was.
    const auto before = std::make_tuple(info.raw_image, info.open_filter, info.file_name);
    EXPECT_FALSE(open_data_set(wxString(dir + "pic_all_noise_016.png"), 6));
    EXPECT_EQ(std::make_tuple(info.raw_image, info.open_filter, info.file_name), before);

    // A multi-page file (file_type -5) is not paired.
    const std::string pages = fresh_folder();
    copy_file(image_fixture("pages16.tif"), pages + "pages_noise.tif");
    write_png(pages + "pages.png", 4, 3, 1);
    ASSERT_TRUE(open_data_set(wxString(pages + "pages_noise.tif"), 0));
    EXPECT_EQ(std::make_tuple(info.file_type, info.ref_image), std::make_tuple(FILE_IMAGE_PAGES, nullptr));

    // Sixteen-bit data without limits get the window from the data range; the level slider
    // reaches the data maximum.
    ASSERT_TRUE(open_data_set(wxString(image_fixture("pages16.tif")), 0));
    EXPECT_EQ(std::tie(info.window_centre, info.window_range, info.default_range),
              std::make_tuple((1000 + 1011) / 2, 11, 11));
    EXPECT_EQ(level_slider_maximum(), 1011);
    ASSERT_TRUE(open_data_set(wxString(image_fixture("colour.png")), 0));
    EXPECT_EQ(std::make_tuple(info.colour, info.channel, level_slider_maximum()),
              std::make_tuple(1, 0, info.colour_processing ? 443 : 256));
}

// "Open reference" sets ref_range by the reference's ending only for "_all_noise" images.
TEST(OpenReference, RangeByEndingAndRefusal)
{
    EXPECT_DOUBLE_EQ(ref_range_for_reference("/d/plain.png", "/d/r_016.png"), 1.0);
    const std::string dir = fresh_folder();
    write_png(dir + "leaf_all_noise_9.png", 8, 6, 40);
    write_png(dir + "clean_016.png", 8, 6, 41);
    write_png(dir + "colour.png", 8, 6, 41, true);
    ASSERT_TRUE(open_data_set(wxString(dir + "leaf_all_noise_9.png"), 0));
    ASSERT_TRUE(open_reference(wxString(dir + "clean_016.png")));
    EXPECT_EQ(std::make_tuple(info.ref_range, info.ref_file_name),
              std::make_tuple(25.0 / 41, wxString(dir + "clean_016.png")));

    // A colour reference for a grey image is refused and no reference remains.
    wxLogNull quiet;
    EXPECT_FALSE(open_reference(wxString(dir + "colour.png")));
    EXPECT_EQ(std::make_tuple(info.ref_image, info.ref_file_name), std::make_tuple(nullptr, wxString()));
}
