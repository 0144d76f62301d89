// The image-file loader: the libtiff grey path, the wxImage path, pages, sequences,
// grey detection, alpha and the "_RAW" layout, and damaged input.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>

#include "image_test_support.h"
#include "io/frame_writer.h"
#include "io/image_file.h"
#include "commands/loader_chain.h"
#include "io/save_image.h"

namespace {

bool open_image(const std::string& path)
{
    fresh_record(path);
    return load_with(load_image_file, path);
}

std::vector<int> raw_values()
{
    const size_t n = (size_t)info.width * info.height * (info.data_colour ? info.channels : 1);
    return std::vector<int>(info.raw_image, info.raw_image + n);
}

}  // namespace

TEST(ImageFileTiff, EightBitGreyWithResolutionInInches)
{
    ASSERT_TRUE(open_image(image_fixture("grey8_inch.tif")));
    EXPECT_EQ(info.width, 7);
    EXPECT_EQ(info.height, 5);
    EXPECT_EQ(info.file_type, -4);
    EXPECT_EQ(info.data_colour, 0);
    EXPECT_EQ(info.channels, 1);
    const std::vector<int> v = raw_values();
    for (int i = 0; i < 35; i++) ASSERT_EQ(v[i], i * 16) << i;
    EXPECT_EQ(info.data_min, 0);
    EXPECT_EQ(info.data_max, 34);
    EXPECT_EQ(info.window_centre, 127);
    EXPECT_EQ(info.window_range, 255);
    EXPECT_NEAR(info.pixel_width, 0.1, 1e-6);  // 254 pixels per inch
    EXPECT_NEAR(info.pixel_height, 0.1, 1e-6);
    EXPECT_EQ(info.tiff_output, 0);
}

TEST(ImageFileTiff, SixteenBitSampleLimitsSetTheWindow)
{
    ASSERT_TRUE(open_image(image_fixture("minmax16.tif")));
    EXPECT_EQ(info.width, 8);
    EXPECT_EQ(info.height, 6);
    EXPECT_EQ(info.window_centre, 2100);
    EXPECT_EQ(info.window_range, 4000);
    EXPECT_EQ(info.data_min, 100);
    EXPECT_EQ(info.data_max, 47 * 80 + 100);
    EXPECT_EQ(info.raw_image[9], (9 * 80 + 100) * 16);
    EXPECT_NEAR(info.pixel_width, 0.5, 1e-6);  // 20 pixels per centimetre
    EXPECT_EQ(info.tiff_output, 1);
    EXPECT_EQ(info.tiff_offset, 0);
}

TEST(ImageFileTiff, CtDataSetsCarryTheOffset)
{
    ASSERT_TRUE(open_image(image_fixture("ct16.tif")));
    EXPECT_EQ(info.tiff_offset, -32768);
    EXPECT_EQ(info.raw_image[0], -1000 * 16);  // stored word 31768
    EXPECT_EQ(info.raw_image[1], 0);
    EXPECT_EQ(info.raw_image[2], 1000 * 16);
    EXPECT_EQ(info.raw_image[5], 32767 * 16);
    EXPECT_EQ(info.data_min, -1000);
    EXPECT_EQ(info.data_max, 32767);
    // Limits 31768 .. 65535, centre lowered by the offset.
    EXPECT_EQ(info.window_centre, (31768 + 65535) / 2 - 32768);
    EXPECT_EQ(info.window_range, 65535 - 31768);
}

TEST(ImageFileTiff, PagesBecomeFramesAndTheSliderReloadsThem)
{
    const std::string path = image_fixture("pages16.tif");
    ASSERT_TRUE(open_image(path));
    EXPECT_EQ(info.file_type, -5);
    EXPECT_EQ(info.frames, 3);
    EXPECT_EQ(info.first_frame, 0);
    EXPECT_EQ(info.frame, 0);
    EXPECT_EQ(info.raw_image[0], 1000 * 16);
    EXPECT_EQ(info.raw_image[11], 1011 * 16);

    info.window_centre = 1234;
    info.window_range = 77;
    ASSERT_TRUE(reload_frame(2));
    EXPECT_EQ(info.frame, 2);
    EXPECT_EQ(info.raw_image[0], 3000 * 16);
    EXPECT_EQ(info.data_min, 3000);
    EXPECT_EQ(info.window_centre, 1234);  // the frame slider keeps the window
    EXPECT_EQ(info.window_range, 77);
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
    EXPECT_EQ(info.data_colour, 0);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.raw_image[7], 7 * 12 * 16);
    EXPECT_EQ(info.data_max, 19 * 12);
    EXPECT_EQ(info.window_centre, 127);
    EXPECT_EQ(info.window_range, 255);

    // The same colour pixels through PNG, BMP, PNM and the RGB TIFF that libtiff's grey
    // path declines.
    for (const char* name : {"colour.png", "colour.bmp", "colour.ppm", "rgb8.tif"}) {
        ASSERT_TRUE(open_image(image_fixture(name))) << name;
        EXPECT_EQ(info.data_colour, 1) << name;
        EXPECT_EQ(info.channels, 3) << name;
        EXPECT_EQ(info.width, 5) << name;
        EXPECT_EQ(info.height, 4) << name;
        const int* p = info.raw_image + 3 * (2 * 5 + 3);  // pixel (3, 2)
        EXPECT_EQ(p[0], 200 * 16) << name;
        EXPECT_EQ(p[1], 30 * 16) << name;
        EXPECT_EQ(p[2], 7 * 16) << name;
        EXPECT_EQ(info.data_min, 0) << name;
        EXPECT_EQ(info.data_max, 200) << name;
        EXPECT_NEAR(info.pixel_width, 0.1, 1e-12) << name;
    }
    ASSERT_TRUE(open_image(image_fixture("grey.jpg")));
    EXPECT_EQ(info.data_colour, 0);
}

TEST(ImageFileWx, AlphaAndTheRawHighLowLayout)
{
    ASSERT_TRUE(open_image(image_fixture("alpha.png")));
    EXPECT_EQ(info.data_colour, 7);
    EXPECT_EQ(info.channels, 4);
    const int alpha[4] = {0, 85, 170, 255};
    for (int x = 0; x < 4; x++) {
        EXPECT_EQ(info.raw_image[4 * x], 10 * 16);
        EXPECT_EQ(info.raw_image[4 * x + 2], 30 * 16);
        EXPECT_EQ(info.raw_image[4 * x + 3], alpha[x] * 16);
    }
    EXPECT_EQ(info.window_centre, 127);

    ASSERT_TRUE(open_image(image_fixture("scene_RAW.png")));
    EXPECT_EQ(info.data_colour, 8);
    EXPECT_EQ(info.channels, 4);
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.height, 2);  // half the stored height
    const int words[16] = {258, 65535, 0, 4095, 4096, 1, 300, 1000,
                           12345, 54321, 256, 255, 0, 0, 0, 0};
    for (int i = 0; i < 16; i++) EXPECT_EQ(info.raw_image[i], words[i] * 16) << i;
    EXPECT_EQ(info.data_min, 0);
    EXPECT_EQ(info.data_max, 65535);
    EXPECT_EQ(info.window_centre, 65535 / 2);
    EXPECT_EQ(info.window_range, 65535);
}

TEST(ImageFileSequence, NumberedFilesAreFramesAndGapsKeepThePixels)
{
    const std::string dir = fresh_folder();
    for (int k = 3; k <= 7; k++) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d.png", k);
        copy_file(image_fixture(std::string("seq/") + name), dir + name);
    }
    ASSERT_TRUE(open_image(dir + "frame_0005.png"));
    EXPECT_EQ(info.file_type, -4);
    EXPECT_EQ(info.first_frame, 3);
    EXPECT_EQ(info.frames, 5);
    EXPECT_EQ(info.frame, 5);
    EXPECT_EQ(info.raw_image[0], 30 * 16);

    ASSERT_TRUE(reload_frame(7));
    EXPECT_EQ(info.raw_image[0], 50 * 16);
    ASSERT_TRUE(reload_frame(3));
    EXPECT_EQ(info.raw_image[0], 10 * 16);

    std::remove((dir + "frame_0006.png").c_str());
    EXPECT_FALSE(reload_frame(6));
    EXPECT_EQ(info.raw_image[0], 10 * 16);
}

TEST(ImageFileDamaged, FailuresLeaveTheRecordAsItWas)
{
    ASSERT_TRUE(open_image(image_fixture("minmax16.tif")));
    const int* before = info.raw_image;
    const std::string dir = fresh_folder();
    wxLogNull quiet;

    // A TIFF cut off in the middle of its pixel data.
    std::vector<char> bytes = file_bytes(image_fixture("minmax16.tif"));
    const std::string cut = dir + "cut_1.tif";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), 40);
    EXPECT_FALSE(load_with(load_image_file, cut));

    // A TIFF header claiming 100000 x 100000 pixels.
    const unsigned char hostile[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0,
                                     0, 1, 4, 0, 1, 0, 0, 0, 0xA0, 0x86, 1, 0,
                                     1, 1, 4, 0, 1, 0, 0, 0, 0xA0, 0x86, 1, 0,
                                     2, 1, 3, 0, 1, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    const std::string big = dir + "big_2.tif";
    std::ofstream(big, std::ios::binary).write((const char*)hostile, sizeof hostile);
    EXPECT_FALSE(load_with(load_image_file, big));

    // Something that is no image at all, named like a sequence member.
    const std::string junk = dir + "scan_0001.dcm";
    std::ofstream(junk, std::ios::binary) << std::string(300, 'x');
    std::ofstream(dir + "scan_0002.dcm", std::ios::binary) << "y";
    EXPECT_FALSE(load_with(load_image_file, junk));
    EXPECT_FALSE(load_with(load_image_file, dir + "missing_7.png"));

    EXPECT_EQ(info.raw_image, before);
    EXPECT_EQ(info.width, 8);
    EXPECT_EQ(info.frames, 1);
    EXPECT_EQ(info.file_type, -4);
    EXPECT_EQ(info.window_centre, 2100);
}

// What the data-set run does for frame `index` of an image data set.
static bool write_frame_beside(const std::string& path, int index)
{
    data_set_run run = data_set_run::begun();
    return write_processed_frame(run, image_frame_path(path, index), index,
                                 unscaled_tiff_form(info.file_type, info.tiff_offset));
}

TEST(ImageFileWriting, FramesGoToTheProcFolderAndNeverOverTheSource)
{
    const std::string dir = fresh_folder();
    const std::string source = dir + "slice.tif";
    copy_file(image_fixture("minmax16.tif"), source);
    ASSERT_TRUE(open_image(source));
    info.proc_width = info.width;
    info.proc_height = info.height;
    info.processed_image = new int[48];
    for (int i = 0; i < 48; i++) info.processed_image[i] = (200 + i) * 16;

    info.metal_iteration = -1;
    EXPECT_TRUE(write_frame_beside(source, 0));
    EXPECT_TRUE(wxFileName::FileExists(dir + "proc/slice.tif"));

    // Without a sub-folder the output would replace the source: refused.
    const std::vector<char> original = file_bytes(source);
    info.metal_iteration = 0;
    info.metal_rmar = 0;
    {
        wxLogNull quiet;
        EXPECT_FALSE(write_frame_beside(source, 0));
    }
    EXPECT_EQ(file_bytes(source), original);

    // The written frame reads back through the loader (direct form: values kept).
    ASSERT_TRUE(open_image(dir + "proc/slice.tif"));
    EXPECT_EQ(info.raw_image[0], 200 * 16);
    EXPECT_EQ(info.raw_image[47], 247 * 16);

    // Pages of one file are written one file per page.
    const std::string pages = dir + "pages.tif";
    copy_file(image_fixture("pages16.tif"), pages);
    ASSERT_TRUE(open_image(pages));
    info.proc_width = 4;
    info.proc_height = 3;
    for (int page = 0; page < 3; page++) {
        ASSERT_TRUE(reload_frame(page));  // as process_all_frames moves to each frame
        info.processed_image = new int[12];
        for (int i = 0; i < 12; i++) info.processed_image[i] = info.raw_image[i];
        info.metal_iteration = -1;
        ASSERT_TRUE(write_frame_beside(pages, page));
        info.metal_iteration = 0;
    }
    ASSERT_TRUE(open_image(dir + "proc/pages_0002.tif"));
    EXPECT_EQ(info.raw_image[0], 3000 * 16);
    EXPECT_TRUE(wxFileName::FileExists(dir + "proc/pages_0000.tif"));
}

TEST(ImageFileDamaged, EveryTruncatedTiffFailsOrLoadsCleanly)
{
    wxLogNull quiet;
    const std::string dir = fresh_folder();
    for (const char* name : {"minmax16.tif", "pages16.tif", "ct16.tif"}) {
        const std::vector<char> whole = file_bytes(image_fixture(name));
        for (size_t n = 0; n < whole.size(); n += 3) {
            const std::string cut = dir + "cut.tif";
            std::ofstream(cut, std::ios::binary | std::ios::trunc).write(whole.data(), (std::streamsize)n);
            fresh_record(cut);
            if (!load_with(load_image_file, cut)) {
                EXPECT_EQ(info.raw_image, nullptr) << name << " cut at " << n;
            }
        }
    }
}

TEST(ImageFileDamaged, TruncatedPngIsRefusedWithAMessageAndTheRecordKept)
{
    const std::string sample = std::string(VOXMIRA_SAMPLES) + "/camera_all_noise_016.png";
    std::ifstream in(sample, std::ios::binary);
    std::vector<char> bytes(3000);
    in.read(bytes.data(), (std::streamsize)bytes.size());
    const std::string cut = ::testing::TempDir() + "cut_0001.png";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), (std::streamsize)in.gcount());

    reset_info();
    info.width = 7;
    info.raw_image = new int[7 * 1200]();
    int* before = info.raw_image;
    wxLog* old = wxLog::SetActiveTarget(nullptr);
    wxLogBuffer* buffer = new wxLogBuffer;
    wxLog::SetActiveTarget(buffer);
    std::vector<char> path(cut.begin(), cut.end());
    path.push_back('\0');
    EXPECT_FALSE(load_image_file(path.data(), -1));
    const wxString messages = buffer->GetBuffer();
    wxLog::SetActiveTarget(old);
    delete buffer;
    EXPECT_NE(messages.Find("damaged or truncated"), wxNOT_FOUND) << messages;
    EXPECT_EQ(info.raw_image, before);
    EXPECT_EQ(info.width, 7);
    reset_info();
    std::remove(cut.c_str());
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

    const wxBitmapType order[] = {wxBITMAP_TYPE_BMP, wxBITMAP_TYPE_JPEG, wxBITMAP_TYPE_PNG,
                                  wxBITMAP_TYPE_PNM, wxBITMAP_TYPE_TIFF};
    wxList::compatibility_iterator node = wxImage::GetHandlers().GetFirst();
    for (wxBitmapType t : order) {
        ASSERT_TRUE(node);
        EXPECT_EQ(static_cast<wxImageHandler*>(node->GetData())->GetType(), t);
        node = node->GetNext();
    }
    for (wxBitmapType t : {wxBITMAP_TYPE_GIF, wxBITMAP_TYPE_ICO, wxBITMAP_TYPE_XPM})
        EXPECT_TRUE(wxImage::FindHandler(t)) << t;

    const std::string xpm = folder + "picture.xpm";
    ASSERT_TRUE(picture.SaveFile(xpm, wxBITMAP_TYPE_XPM));
    ASSERT_TRUE(open_image(xpm));
    EXPECT_EQ(info.width, 6);
    EXPECT_EQ(info.height, 4);
    EXPECT_EQ(info.raw_image[23], 230 * 16);
}
