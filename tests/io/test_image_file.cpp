// The image-file loader: the libtiff grey path, the wxImage path, pages, sequences,
// grey detection, alpha and the "_RAW" layout, and damaged input.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "commands/loader_chain.h"
#include "commands/open_data_set.h"
#include "commands/save_sequence.h"
#include "dicom_test_support.h"
#include "io/frame_writer.h"
#include "io/save_image.h"

// The libtiff grey path: size, window from the sample limits (less the CT offset of the
// data sets this program writes), resolution and the 16-bit capability flag.
TEST(ImageFileTiff, GreyFilesWithTheirWindowResolutionAndOffset)
{
    struct {
        const char* name;
        int width, height, centre, range, data_min, data_max;
        double pixel_width;
        int tiff_output, tiff_offset, at, value;
    } cases[] = {
        // 254 pixels per inch; values 0 .. 34.
        {"grey8_inch.tif", 7, 5, 127, 255, 0, 34, 0.1, 0, 0, 34, 34},
        // 20 pixels per centimetre; the limit tags give the window.
        {"minmax16.tif", 8, 6, 2100, 4000, 100, 47 * 80 + 100, 0.5, 1, 0, 9, 9 * 80 + 100},
        // Stored word 31768 is -1000; limits 31768 .. 65535.
        {"ct16.tif", 3, 2, (31768 + 65535) / 2 - 32768, 65535 - 31768, -1000, 32767, 0.1, 1, -32768, 0, -1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(open_image(image_fixture(c.name)));
        EXPECT_EQ(std::tie(info.width, info.height, info.file_type, info.channels, info.window_centre,
                           info.window_range, info.data_min, info.data_max),
                  std::make_tuple(c.width, c.height, FILE_IMAGE, 1, c.centre, c.range, c.data_min, c.data_max));
        EXPECT_NEAR(info.pixel_width, c.pixel_width, 1e-6);
        EXPECT_NEAR(info.pixel_height, c.pixel_width, 1e-6);
        EXPECT_EQ(std::tie(info.tiff_output, info.tiff_offset, info.raw_image[c.at]),
                  std::make_tuple(c.tiff_output, c.tiff_offset, c.value * 16));
    }
    // Every sample of the 8-bit file, and the CT file's words either side of zero.
    ASSERT_TRUE(open_image(image_fixture("grey8_inch.tif")));
    for (int i = 0; i < 35; i++) ASSERT_EQ(info.raw_image[i], i * 16) << i;
    ASSERT_TRUE(open_image(image_fixture("ct16.tif")));
    EXPECT_EQ(std::tie(info.raw_image[0], info.raw_image[1], info.raw_image[2], info.raw_image[5]),
              std::make_tuple(-1000 * 16, 0, 1000 * 16, 32767 * 16));
}

TEST(ImageFileTiff, PagesBecomeFramesAndTheSliderReloadsThem)
{
    const std::string path = image_fixture("pages16.tif");
    ASSERT_TRUE(open_image(path));
    EXPECT_EQ(std::tie(info.file_type, info.frames, info.first_frame, info.frame, info.raw_image[0],
                       info.raw_image[11]),
              std::make_tuple(FILE_IMAGE_PAGES, 3, 0, 0, 1000 * 16, 1011 * 16));

    info.window_centre = 1234, info.window_range = 77;
    ASSERT_TRUE(reload_frame(2));  // the frame slider keeps the window
    EXPECT_EQ(std::tie(info.frame, info.raw_image[0], info.data_min, info.window_centre, info.window_range),
              std::make_tuple(2, 3000 * 16, 3000, 1234, 77));
    ASSERT_TRUE(reload_frame(1));
    EXPECT_EQ(info.raw_image[5], 2005 * 16);
    // A page that does not exist leaves the frame in place.
    EXPECT_FALSE(load_with(load_image_file, path, 7));
    EXPECT_EQ(info.raw_image[5], 2005 * 16);
}

TEST(ImageFileWx, GreyDetectionAndColourLayouts)
{
    // A colour PNG whose pixels are all grey loads as one grey channel.
    ASSERT_TRUE(open_image(image_fixture("grey_as_rgb.png")));
    EXPECT_EQ(std::tie(info.data_colour, info.channels, info.raw_image[7], info.data_max, info.window_centre,
                       info.window_range),
              std::make_tuple(0, 1, 7 * 12 * 16, 19 * 12, 127, 255));

    // The same colour pixels through PNG, BMP, PNM and the RGB TIFF that libtiff's grey
    // path declines.
    for (const char* name : {"colour.png", "colour.bmp", "colour.ppm", "rgb8.tif"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open_image(image_fixture(name)));
        const int* p = info.raw_image + 3 * (2 * 5 + 3);  // pixel (3, 2)
        EXPECT_EQ(std::tie(info.data_colour, info.channels, info.width, info.height, p[0], p[1], p[2],
                           info.data_min, info.data_max),
                  std::make_tuple(1, 3, 5, 4, 200 * 16, 30 * 16, 7 * 16, 0, 200));
        EXPECT_NEAR(info.pixel_width, 0.1, 1e-12);
    }
    ASSERT_TRUE(open_image(image_fixture("grey.jpg")));
    EXPECT_EQ(info.data_colour, 0);
}

TEST(ImageFileWx, AlphaAndTheRawHighLowLayout)
{
    ASSERT_TRUE(open_image(image_fixture("alpha.png")));
    EXPECT_EQ(std::tie(info.data_colour, info.channels, info.window_centre), std::make_tuple(7, 4, 127));
    for (int x = 0; x < 4; x++)  // alpha 0, 85, 170, 255
        EXPECT_EQ(std::tie(info.raw_image[4 * x], info.raw_image[4 * x + 2], info.raw_image[4 * x + 3]),
                  std::make_tuple(10 * 16, 30 * 16, 85 * x * 16));

    ASSERT_TRUE(open_image(image_fixture("scene_RAW.png")));  // half the stored height
    EXPECT_EQ(std::tie(info.data_colour, info.channels, info.width, info.height), std::make_tuple(8, 4, 2, 2));
    const int words[16] = {258, 65535, 0, 4095, 4096, 1, 300, 1000, 12345, 54321, 256, 255, 0, 0, 0, 0};
    for (int i = 0; i < 16; i++) EXPECT_EQ(info.raw_image[i], words[i] * 16) << i;
    EXPECT_EQ(std::tie(info.data_min, info.data_max, info.window_centre, info.window_range),
              std::make_tuple(0, 65535, 65535 / 2, 65535));
}

TEST(ImageFileSequence, NumberedFilesAreFramesAndGapsKeepThePixels)
{
    const std::string dir = fresh_folder();
    copy_sequence(dir, 3, 7);
    ASSERT_TRUE(open_image(dir + "frame_0005.png"));
    EXPECT_EQ(std::tie(info.file_type, info.first_frame, info.frames, info.frame, info.raw_image[0]),
              std::make_tuple(FILE_IMAGE, 3, 5, 5, 30 * 16));

    for (int frame : {7, 3}) {
        ASSERT_TRUE(reload_frame(frame));
        EXPECT_EQ(info.raw_image[0], (frame - 2) * 10 * 16);
    }
    std::remove((dir + "frame_0006.png").c_str());
    EXPECT_FALSE(reload_frame(6));
    EXPECT_EQ(info.raw_image[0], 10 * 16);
}

TEST(ImageFileDamaged, FailuresLeaveTheRecordAsItWas)
{
    ASSERT_TRUE(open_image(image_fixture("minmax16.tif")));
    const int* before = info.raw_image;
    const std::string dir = fresh_folder();
    // A PNG cut after 3000 bytes: refused with a message.
    const std::vector<char> png = file_bytes(std::string(VOXMIRA_SAMPLES) + "/camera_all_noise_016.png");
    write_file(dir + "cut_0001.png", std::vector<char>(png.begin(), png.begin() + 3000));
    {
        dicom_test::log_catcher log;
        EXPECT_FALSE(load_with(load_image_file, dir + "cut_0001.png"));
        EXPECT_NE(log.text.find("damaged or truncated"), std::string::npos) << log.text;
    }

    wxLogNull quiet;
    // A TIFF cut in its pixel data, a TIFF header claiming 100000 x 100000 pixels, and
    // something that is no image, named like a sequence member.
    const std::vector<char> tiff = file_bytes(image_fixture("minmax16.tif"));
    write_file(dir + "cut_1.tif", std::vector<char>(tiff.begin(), tiff.begin() + 40));
    const std::vector<char> hostile = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0, 0, 1, 4, 0, 1, 0, 0, 0, '\xA0', '\x86', 1, 0,
                                       1, 1, 4, 0, 1, 0, 0, 0, '\xA0', '\x86', 1, 0, 2, 1, 3, 0, 1, 0, 0, 0, 16, 0,
                                       0, 0, 0, 0, 0, 0};
    write_file(dir + "big_2.tif", hostile);
    write_file(dir + "scan_0001.dcm", std::vector<char>(300, 'x'));
    write_file(dir + "scan_0002.dcm", {'y'});
    for (const char* name : {"cut_1.tif", "big_2.tif", "scan_0001.dcm", "missing_7.png"})
        EXPECT_FALSE(load_with(load_image_file, dir + name)) << name;

    EXPECT_EQ(std::tie(info.raw_image, info.width, info.frames, info.file_type, info.window_centre),
              std::make_tuple(before, 8, 1, FILE_IMAGE, 2100));
}

// 16-bit TIFF data sets written by the data-set run: into proc/ beside each source, one
// file per page of a multi-page file, never over the source.
TEST(ImageFileWriting, FramesGoToTheProcFolderAndNeverOverTheSource)
{
    const std::string dir = fresh_folder();
    copy_file(image_fixture("minmax16.tif"), dir + "slice.tif");
    copy_file(image_fixture("pages16.tif"), dir + "pages.tif");
    // Each pixel takes its right neighbour's value: within the data range, unlike the source.
    const auto shifted = [] {
        const int n = info.proc_width * info.proc_height;
        for (int i = 0; i < n; i++) info.processed_image[i] = info.raw_image[(i + 1) % n];
    };
    ASSERT_TRUE(open_data_set(wxString(dir + "slice.tif"), 0));
    EXPECT_EQ(process_data_set(shifted), 1);
    ASSERT_TRUE(open_data_set(wxString(dir + "pages.tif"), 0));
    EXPECT_EQ(process_data_set(shifted), 3);
    // Read back through the loader (direct form: values kept).
    ASSERT_TRUE(open_image(dir + "proc/slice.tif"));
    EXPECT_EQ(std::tie(info.raw_image[0], info.raw_image[47]), std::make_tuple(180 * 16, 100 * 16));
    for (int page = 0; page < 3; page++) {
        ASSERT_TRUE(open_image(dir + "proc/pages_000" + std::to_string(page) + ".tif"));
        EXPECT_EQ(info.raw_image[0], (1000 * (page + 1) + 1) * 16);
    }

    // Without a sub-folder (no metal method, not a processing run) the output would
    // replace the source: refused.
    const std::vector<char> original = file_bytes(dir + "slice.tif");
    ASSERT_TRUE(open_data_set(wxString(dir + "slice.tif"), 0));
    info.metal_iteration = info.metal_rmar = 0;
    data_set_run run;
    wxLogNull quiet;
    EXPECT_FALSE(write_processed_frame(run, dir + "slice.tif", 0, tiff_form::direct));
    EXPECT_EQ(std::make_tuple(run.failed, file_bytes(dir + "slice.tif")), std::make_tuple(true, original));
}

// The loader puts its five handlers first without dropping the others wx registered, so
// an XPM still opens after an image was loaded and another saved.
TEST(ImageHandlers, LoaderOrderKeepsTheOtherHandlers)
{
    ASSERT_TRUE(wxImage::FindHandler(wxBITMAP_TYPE_GIF));
    ASSERT_TRUE(open_image(image_fixture("grey8_inch.tif")));
    wxImage picture(6, 4);
    for (int i = 0; i < 24; i++) picture.SetRGB(i % 6, i / 6, i * 10, i * 10, i * 10);
    const std::string folder = fresh_folder();
    ASSERT_TRUE(save_with_handler(picture, folder + "saved.png", 0, false));
    for (wxBitmapType t : {wxBITMAP_TYPE_GIF, wxBITMAP_TYPE_ICO, wxBITMAP_TYPE_XPM})
        EXPECT_TRUE(wxImage::FindHandler(t)) << t;

    const std::string xpm = folder + "picture.xpm";
    ASSERT_TRUE(picture.SaveFile(xpm, wxBITMAP_TYPE_XPM));
    ASSERT_TRUE(open_image(xpm));
    EXPECT_EQ(std::tie(info.width, info.height, info.raw_image[23]), std::make_tuple(6, 4, 230 * 16));
}
