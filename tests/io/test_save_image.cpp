// Saving: every form of the processed and displayed image read back, the 16-bit TIFF
// writer's three forms with their offsets and factors, sequences in their three modes,
// and the refusal to write over the data being read.
#include <gtest/gtest.h>

#include <tiffio.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <tuple>

#include "commands/open_data_set.h"
#include "commands/save_sequence.h"
#include "image_test_support.h"
#include "io/save_image.h"
#include "io/tiff_writer.h"

namespace {

// A processed grey image of the given values, as the pipeline leaves it.
void processed_grey(int w, int h, const std::vector<int>& levels, int data_min, int data_max)
{
    fresh_record("/nowhere/source.png");
    info.width = info.proc_width = w;
    info.height = info.proc_height = h;
    info.data_colour = info.colour = info.colour_processing = 0;
    info.channels = 1;
    info.data_min = data_min, info.data_max = data_max;
    info.raw_image = new int[w * h]();
    info.processed_image = new int[w * h];
    for (int i = 0; i < w * h; i++) info.processed_image[i] = levels[i] * 16;
}

struct tiff_tags {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, min = 0, max = 0;
    std::string description, page_name;
    std::vector<uint16_t> words;
};

tiff_tags read_tiff(const std::string& path)
{
    tiff_tags t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return t;
    for (const auto& [tag, to] : {std::pair<uint32_t, uint16_t*>{TIFFTAG_BITSPERSAMPLE, &t.bits},
                                  {TIFFTAG_MINSAMPLEVALUE, &t.min}, {TIFFTAG_MAXSAMPLEVALUE, &t.max}})
        TIFFGetField(tif, tag, to);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
    const char* text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text) t.description = text;
    if (TIFFGetField(tif, TIFFTAG_PAGENAME, &text) && text) t.page_name = text;
    std::vector<uint16_t> row(t.width);
    for (uint32_t y = 0; y < t.height; y++) {
        TIFFReadScanline(tif, row.data(), y, 0);
        t.words.insert(t.words.end(), row.begin(), row.end());
    }
    TIFFClose(tif);
    return t;
}

}  // namespace

TEST(TiffWriter, ScaledFormOffsetsAndFactors)
{
    // data min, max -> offset, stretch: 8 x 4095 = 32760 still below 32768; nothing above
    // zero means no stretch.
    const int cases[][4] = {{-1000, 3000, 1024, 16}, {0, 4095, 0, 16}, {-1, 40000, 1, 1},
                            {-2, -5, 2, 1},          {-3, 0, 4, 8192}};
    for (const auto& c : cases) {
        int o, s;
        tiff_scaling(c[0], c[1], o, s);
        EXPECT_EQ(std::make_pair(o, s), std::make_pair(c[2], c[3])) << c[0] << ".." << c[1];
    }

    // Range -1000 .. 3000 saved from "Save processed" as TIFF.
    processed_grey(3, 2, {-1000, 0, 3000, -2000, 5000, 7}, -1000, 3000);
    info.pixel_width = 0.5, info.pixel_height = 0.25;
    const std::string out = fresh_folder() + "scaled.tif";
    ASSERT_TRUE(save_processed_image(wxString(out), 2));
    const tiff_tags t = read_tiff(out);
    EXPECT_EQ(std::tie(t.bits, t.min, t.max, t.words),
              std::make_tuple(16, 384, 64384, std::vector<uint16_t>{384, 1024 * 16, 64384, 384, 64384, 1031 * 16}));

    // The loader reads it back with those limits as the window and its resolution.
    ASSERT_TRUE(open_image(out));
    EXPECT_EQ(std::tie(info.raw_image[1], info.window_centre), std::make_tuple(1024 * 16 * 16, (384 + 64384) / 2));
    EXPECT_NEAR(info.pixel_width, 0.5, 1e-6);
    EXPECT_NEAR(info.pixel_height, 0.25, 1e-6);
}

TEST(TiffWriter, CtAndDirectFormsRoundTrip)
{
    processed_grey(4, 1, {-1024, -1000, 40, 3071}, -1024, 3071);
    info.file_type = 0;  // DICOM data
    info.position[2] = 12.5;
    info.orientation_angles[1] = 90;
    const std::string ct = fresh_folder() + "ct.tif";
    ASSERT_EQ(unscaled_tiff_form(info.file_type, 0), tiff_form::ct);
    ASSERT_TRUE(save_processed_image_as_tiff(wxFileName(ct), tiff_form::ct));
    const tiff_tags t = read_tiff(ct);
    EXPECT_EQ(std::tie(t.description, t.page_name, t.min, t.max),
              std::make_tuple("Voxmira RMAR CT Data", "0.000,0.000,12.500,0.000,90.000,0.000", 32768 - 1024,
                              32768 + 3071));
    ASSERT_TRUE(open_image(ct));
    EXPECT_EQ(std::vector<int>(info.raw_image, info.raw_image + 4),
              (std::vector<int>{-1024 * 16, -1000 * 16, 640, 3071 * 16}));

    // A CT TIFF processed again keeps the CT form (the values stay negative).
    info.proc_width = 4, info.proc_height = 1;
    info.processed_image = new int[4]{-900 * 16, 0, 16, 32};
    const std::string again = fresh_folder() + "again.tif";
    ASSERT_EQ(unscaled_tiff_form(info.file_type, info.tiff_offset), tiff_form::ct);
    ASSERT_TRUE(save_processed_image_as_tiff(wxFileName(again), tiff_form::ct));
    ASSERT_TRUE(open_image(again));
    EXPECT_EQ(info.raw_image[0], -900 * 16);

    // Direct form for other data: values clamped to the data range.
    processed_grey(3, 1, {5, 700, 9000}, 10, 8000);
    info.file_type = -6;
    const std::string direct = fresh_folder() + "direct.tif";
    ASSERT_EQ(unscaled_tiff_form(info.file_type, 0), tiff_form::direct);
    ASSERT_TRUE(save_processed_image_as_tiff(wxFileName(direct), tiff_form::direct));
    const tiff_tags d = read_tiff(direct);
    EXPECT_EQ(std::tie(d.description, d.words), std::make_tuple("", std::vector<uint16_t>{10, 700, 8000}));
}

TEST(SaveProcessed, EightBitBinaryAndGreyPng)
{
    // A 12-bit image as PNG: no windowing, values above 255 clipped.
    processed_grey(4, 1, {0, 100, 255, 4095}, 0, 4095);
    const std::string dir = fresh_folder();
    ASSERT_TRUE(save_processed_image(wxString(dir + "grey.png"), 0));
    const std::vector<char> png = file_bytes(dir + "grey.png");
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png[25], 0) << "PNG colour type grey";
    ASSERT_TRUE(open_image(dir + "grey.png"));
    EXPECT_EQ(std::tie(info.data_colour, info.raw_image[1], info.raw_image[3]),
              std::make_tuple(0, 100 * 16, 255 * 16));

    // The binary dump keeps the int32 samples as they are.
    processed_grey(3, 2, {1, -2, 3, 4, 5, 6}, -2, 6);
    info.processed_image[0] = 17;  // a fraction of a level survives
    ASSERT_TRUE(save_processed_image(wxString(dir + "p.bin"), 5));
    const std::vector<char> bin = file_bytes(dir + "p.bin");
    EXPECT_EQ(bin, std::vector<char>((char*)info.processed_image, (char*)(info.processed_image + 6)));

    // Colour data processed as grey use the grey channel factor 0.577.
    processed_grey(2, 1, {100, 500}, 0, 500);
    info.data_colour = 1;
    ASSERT_TRUE(save_processed_image(wxString(dir + "fact.bmp"), 3));
    ASSERT_TRUE(open_image(dir + "fact.bmp"));
    EXPECT_EQ(std::tie(info.raw_image[0], info.raw_image[1]), std::make_tuple((int)(100 * 0.577 + 0.5) * 16, 255 * 16));
}

TEST(SaveProcessed, RgbAlphaAndTheRawLayoutReloaded)
{
    const std::string dir = fresh_folder();
    ASSERT_TRUE(open_data_set(wxString(image_fixture("colour.png")), 0));
    ASSERT_TRUE(save_processed_image(wxString(dir + "c.ppm"), 4));
    const auto samples = [](int n) { return std::vector<int>(info.raw_image, info.raw_image + n); };
    std::vector<int> original = samples(60);
    ASSERT_TRUE(open_image(dir + "c.ppm"));
    EXPECT_EQ(samples(60), original);

    // RGB Alpha keeps its alpha in PNG, loses it in JPEG.
    ASSERT_TRUE(open_data_set(wxString(image_fixture("alpha.png")), 0));
    ASSERT_EQ(info.colour_processing, 1);
    original = samples(48);
    ASSERT_TRUE(save_processed_image(wxString(dir + "a.png"), 0));
    ASSERT_TRUE(save_processed_image(wxString(dir + "a.jpg"), 1));
    ASSERT_TRUE(open_image(dir + "a.png"));
    EXPECT_EQ(std::make_tuple(info.data_colour, samples(48)), std::make_tuple(7, original));
    ASSERT_TRUE(open_image(dir + "a.jpg"));
    EXPECT_NE(info.data_colour, 7);

    // RAW Bayer data: 16-bit values as high bytes above low bytes, read back by the
    // "_RAW" rule.
    ASSERT_TRUE(open_data_set(wxString(image_fixture("scene_RAW.png")), 0));
    ASSERT_EQ(info.colour, 8);
    original = samples(16);
    ASSERT_TRUE(save_processed_image(wxString(dir + "out_RAW.png"), 0));
    ASSERT_TRUE(open_image(dir + "out_RAW.png"));
    EXPECT_EQ(std::make_tuple(info.data_colour, info.height, samples(16)), std::make_tuple(8, 2, original));
}

TEST(SaveGuard, NeverOverTheFilesBeingRead)
{
    const std::string dir = fresh_folder();
    copy_sequence(dir, 3, 5);
    ASSERT_TRUE(open_data_set(wxString(dir + "frame_0003.png"), 0));
    const std::vector<char> before = file_bytes(dir + "frame_0004.png");
    wxLogNull quiet;
    EXPECT_TRUE(is_source_file(wxString(dir + "frame_0005.png")));
    EXPECT_FALSE(is_source_file(wxString(dir + "frame_0006.png")));
    EXPECT_FALSE(save_processed_image(wxString(dir + "frame_0004.png"), 0));
    EXPECT_FALSE(save_display_image(wxString(dir + "frame_0003.png"), 0));
    EXPECT_EQ(file_bytes(dir + "frame_0004.png"), before);
    // "frame.png" would name frame_0000.png .. and frame_0002: none of them a source.
    EXPECT_EQ(save_sequence(wxString(dir + "frame.png"), 0, 0, nullptr), 3);
}

TEST(SaveSequence, EveryFrameSkippingAndAveraging)
{
    const std::string dir = fresh_folder();
    copy_sequence(dir, 3, 7);
    // The first sample of every file NAME_0000.EXT, NAME_0001.EXT ... written.
    auto values_of = [&](const std::string& name, const char* ext) {
        std::vector<int> v;
        for (int i = 0; wxFileName::FileExists(dir + name + wxString::Format("_%04i.", i) + ext); i++)
            v.push_back(wxImage(wxString(dir + name + wxString::Format("_%04i.", i) + ext)).GetData()[0]);
        return v;
    };
    ASSERT_TRUE(open_data_set(wxString(dir + "frame_0005.png"), 0));
    int calls = 0;
    EXPECT_EQ(save_sequence(wxString(dir + "all.png"), 0, 0, [&] { calls++; }), 5);
    // The last frame stays loaded.
    EXPECT_EQ(std::make_tuple(calls, info.frame, values_of("all", "png")),
              std::make_tuple(5, 7, std::vector<int>{10, 20, 30, 40, 50}));

    // Windowed: a value equal to the window centre becomes 127.
    info.window_centre = 30, info.window_range = 40;
    EXPECT_EQ(save_sequence(wxString(dir + "win.bmp"), 3, 0, nullptr), 5);
    const std::vector<int> win = values_of("win", "bmp");
    EXPECT_EQ(std::make_pair(win.at(0), win.at(2)), std::make_pair((int)((10 - 30) * 255.0 / 40 + 127 + 0.5), 127));

    // Sub-sampling 2 without the filter: frames 3, 5 and 7; with it the averages of (3, 4)
    // and (5, 6), frame 7 alone writing nothing.
    info.window_centre = 127, info.window_range = 255;
    info.subsample = 2, info.subsample_filter = 0;
    EXPECT_EQ(save_sequence(wxString(dir + "skip.png"), 0, 0, nullptr), 3);
    EXPECT_EQ(values_of("skip", "png"), (std::vector<int>{10, 30, 50}));
    info.subsample_filter = 1;
    EXPECT_EQ(save_sequence(wxString(dir + "avg.png"), 0, 0, nullptr), 2);
    EXPECT_EQ(values_of("avg", "png"), (std::vector<int>{15, 35}));
}
