// The DICOM reader against files made by DCMTK, GDCM and pydicom: every encoding loads
// with exactly the values the peers decode, header fields land in the record, and the
// frames of multi-frame files, numbered series and folders are found.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "dicom_test_support.h"
#include "commands/pipeline.h"
#include "display/display_image.h"
#include "display/interpolation.h"
#include "commands/loader_chain.h"

using namespace dicom_test;

// Each line of expected.txt: name, frame (-1: as opened), width, height, channels, data
// min and max, the samples' checksum (hex), and the first, middle and last sample.
TEST(DicomReader, EveryFixtureLoadsWithThePeersValues)
{
    const std::vector<char> text = read_file(fixture("expected.txt"));
    std::istringstream lines(std::string(text.begin(), text.end()));
    int checked = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        std::string name, sum;
        int frame, w, h, channels, lo, hi, first, middle, last;
        s >> name >> frame >> w >> h >> channels >> lo >> hi >> sum >> first >> middle >> last;
        SCOPED_TRACE(name + " frame " + std::to_string(frame));
        ASSERT_TRUE(open(fixture(name)));
        if (frame != -1) { ASSERT_TRUE(reload_frame(frame)); }
        const size_t n = (size_t)w * h * channels;
        EXPECT_EQ(std::tie(info.width, info.height, info.channels, info.data_colour, info.data_min, info.data_max),
                  std::make_tuple(w, h, channels, channels == 3 ? 1 : 0, lo, hi));
        EXPECT_EQ(std::tie(info.raw_image[0], info.raw_image[n / 2], info.raw_image[n - 1]),
                  std::make_tuple(first, middle, last));
        EXPECT_EQ(samples_checksum(), std::stoull(sum, nullptr, 16));
        checked++;
    }
    EXPECT_GE(checked, 40);
}

TEST(DicomReader, CtHeaderFieldsReachTheRecord)
{
    // Explicit little endian, explicit big endian, and a bare implicit data set without
    // preamble or meta group all carry the same header.
    for (const char* name : {"ct_s16.dcm", "ct_s16_big.dcm", "bare_implicit.dcm"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(fixture(name)));
        // "40\400": the first value
        EXPECT_EQ(std::tie(info.window_centre, info.window_range, info.pixel_width, info.pixel_height,
                           info.slice_thickness, info.slice_location, info.position[0], info.position[1],
                           info.position[2]),
                  std::make_tuple(40, 400, 0.7, 0.8, 2.5, -12.5, -120.0, -110.5, -12.5));
        for (double a : info.orientation_angles) EXPECT_DOUBLE_EQ(a, 0.0);
        // Stored -30 with intercept -1024: (-30 - 1024) x 16.
        EXPECT_EQ(std::tie(info.raw_image[5 * 40 + 7], info.data_min, info.dicom_output, info.tiff_output),
                  std::make_tuple(-16864, -1054, 1, 0));
    }
}

TEST(DicomReader, WindowDefaultsAndOddText)
{
    // Width 0 proposes no window (range 1); slope 0.5 and intercept -100.25 on word 0
    // give trunc(-100.25 x 16) = -1604.
    ASSERT_TRUE(open(fixture("slope_u16.dcm")));
    EXPECT_EQ(std::tie(info.window_range, info.raw_image[0], info.data_min), std::make_tuple(1, -1604, -100));

    // A 1500-character window centre is skipped, the width still read; an undefined-length
    // sequence holding a nested sequence with Rows 999 is passed over.
    ASSERT_TRUE(open(fixture("long_text_sequence.dcm")));
    EXPECT_EQ(std::tie(info.window_centre, info.window_range, info.height, info.width),
              std::make_tuple(0, 50, 4, 6));
}

// Planar configuration 1 stores the red plane, then green, then blue: the same picture
// must arrive, not its planes read as interleaved pixels.
TEST(DicomReader, ColourByPlaneArrivesAsTheSamePixels)
{
    ASSERT_TRUE(open(fixture("rgb8.dcm")));
    const size_t n = (size_t)info.width * info.height;
    const std::vector<int> interleaved(info.raw_image, info.raw_image + n * 3);
    std::vector<char> bytes = read_file(fixture("rgb8.dcm"));
    patch(bytes, std::string("\x28\x00\x06\x00US\x02\x00\x00\x00", 10), 8, "\x01");
    // The pixel data are the last n x 3 bytes: rewrite them plane by plane.
    const size_t first = bytes.size() - n * 3;
    const std::vector<char> pixels(bytes.begin() + first, bytes.end());
    for (size_t i = 0; i < n; i++)
        for (int c = 0; c < 3; c++) bytes[first + c * n + i] = pixels[i * 3 + c];
    const std::string path = ::testing::TempDir() + "rgb8_planar.dcm";
    write_file(path, bytes);
    ASSERT_TRUE(open(path));
    EXPECT_EQ(std::vector<int>(info.raw_image, info.raw_image + n * 3), interleaved);
}

// MONOCHROME1 keeps its stored values and shows them inverted: the display of the same
// samples is 255 minus that of MONOCHROME2.
TEST(DicomReader, MonochromeOneShowsInverted)
{
    auto shown = [](const std::string& path, std::vector<int>& raw) {
        EXPECT_TRUE(open(path));
        raw.assign(info.raw_image, info.raw_image + (size_t)info.width * info.height);
        resize_display(info.width, info.height);
        info.zoom = 1;
        info.centre = {(short)(info.width / 2), (short)(info.height / 2)};
        select_interpolation(INTERP_NEAREST);
        sample_image();
        process_image();
        return std::vector<unsigned char>(info.display_image, info.display_image + (size_t)info.width * info.height * 3);
    };
    std::vector<int> raw2, raw1;
    std::vector<unsigned char> two = shown(fixture("ct_s16.dcm"), raw2);
    EXPECT_EQ(info.invert_grey, 0);
    std::vector<char> bytes = read_file(fixture("ct_s16.dcm"));
    patch(bytes, "MONOCHROME2", 10, "1");
    const std::string path = ::testing::TempDir() + "ct_monochrome1.dcm";
    write_file(path, bytes);
    const std::vector<unsigned char> one = shown(path, raw1);
    EXPECT_EQ(info.invert_grey, 1);
    EXPECT_EQ(raw1, raw2) << "the stored values stay";
    for (unsigned char& v : two) v = 255 - v;
    EXPECT_EQ(one, two);
}

TEST(DicomReader, CapabilityFlagsFollowTheEncoding)
{
    struct {
        const char* name;
        int dicom, tiff;
    } cases[] = {{"ct_s16.dcm", 1, 0},     {"ll_ct_s16.dcm", 0, 1}, {"ll_p3_12.dcm", 0, 1},
                 {"rle_s16.dcm", 0, 1},    {"ll_p1_8.dcm", 0, 0},   {"rgb8.dcm", 0, 0},
                 {"j2k_s16.dcm", 0, 0},    {"jpeg_baseline.dcm", 0, 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(open(fixture(c.name)));
        EXPECT_EQ(std::tie(info.dicom_output, info.tiff_output), std::make_tuple(c.dicom, c.tiff)) << c.name;
    }
    reset_info();
    info.subsample = 2;  // sub-sampled data are not writable
    ASSERT_TRUE(load(fixture("ct_s16.dcm"), -1));
    EXPECT_EQ(info.dicom_output, 0);
}

TEST(DicomReader, MultiFrameFilesCountFramesFromOne)
{
    for (const char* name : {"mf_u16.dcm", "mf_jpegll.dcm"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(open(fixture(name)));
        EXPECT_EQ(std::tie(info.file_type, info.frames, info.first_frame, info.frame),
                  std::make_tuple(FILE_DICOM, 4, 1, 0));
        const uint64_t first = samples_checksum();
        ASSERT_TRUE(reload_frame(1));
        EXPECT_EQ(samples_checksum(), first);
        ASSERT_TRUE(reload_frame(4));
        EXPECT_EQ(std::make_tuple(info.frame, samples_checksum() != first), std::make_tuple(4, true));
    }
}

TEST(DicomReader, NumberedSeriesIsDiscoveredAndFramesReadByNumber)
{
    const std::string dir = digit_free_folder("numbered");
    // img005 .. img012, the slices' values 10, 20, 30 repeating.
    for (int n = 5; n <= 12; n++)
        copy_file(fixture("series/slice_000" + std::to_string(n % 3 + 1) + ".dcm"),
                  dir + (n < 10 ? "/img00" : "/img0") + std::to_string(n) + ".dcm");
    ASSERT_TRUE(open(dir + "/img007.dcm"));
    // 7 % 3 + 1 = 2
    EXPECT_EQ(std::tie(info.file_type, info.first_frame, info.frames, info.frame, info.raw_image[0]),
              std::make_tuple(FILE_DICOM_NUMBERED, 5, 8, 7, 20 * 16));
    ASSERT_TRUE(reload_frame(10));  // img010.dcm: 10 % 3 + 1 = 2
    EXPECT_EQ(std::tie(info.frame, info.raw_image[0]), std::make_tuple(10, 20 * 16));
    ASSERT_TRUE(reload_frame(12));  // 12 % 3 + 1 = 1
    EXPECT_EQ(std::tie(info.raw_image[0], info.slice_location), std::make_tuple(10 * 16, 2.0));

    // A member of another kind (colour) is refused; the previous image and frame stay.
    copy_file(fixture("rgb8.dcm"), dir + "/img013.dcm");
    ASSERT_TRUE(open(dir + "/img012.dcm"));
    EXPECT_EQ(info.frames, 9);
    int* before = info.raw_image;
    wxLog::EnableLogging(false);
    EXPECT_FALSE(reload_frame(13));
    wxLog::EnableLogging(true);
    EXPECT_EQ(std::tie(info.frame, info.raw_image, info.channels, info.raw_image[0]),
              std::make_tuple(12, before, 1, 10 * 16));

    // Digits only in the folder's name: the folder's files, not numbered folders.
    const std::string numbered = dir + "/scan7";
    ::mkdir(numbered.c_str(), 0700);
    ::mkdir((dir + "/scan8").c_str(), 0700);
    copy_file(fixture("ct_s16.dcm"), numbered + "/slice.dcm");
    copy_file(fixture("rgb8.dcm"), dir + "/scan8/slice.dcm");
    ASSERT_TRUE(open(numbered + "/slice.dcm"));
    EXPECT_EQ(std::tie(info.file_type, info.frames), std::make_tuple(FILE_DICOM_FOLDER, 1));
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(DicomReader, LoneNumberedFileFallsBackToTheFolder)
{
    const std::string dir = digit_free_folder("folder");
    copy_file(fixture("series/slice_0003.dcm"), dir + "/a1.dcm");
    for (int k = 0; k < 29; k++)  // ba .. bz, baz .. bcz
        copy_file(fixture("series/slice_0001.dcm"), dir + "/b" + (char)('a' + k % 26) + (k >= 26 ? "z" : "") + ".dcm");
    ::mkdir((dir + "/sub").c_str(), 0700);  // folders are not frames
    ASSERT_TRUE(open(dir + "/a1.dcm"));
    // "a1.dcm" sorts first
    EXPECT_EQ(std::tie(info.file_type, info.first_frame, info.frames, info.frame, info.raw_image[0]),
              std::make_tuple(FILE_DICOM_FOLDER, 0, 30, 0, 30 * 16));
    ASSERT_TRUE(reload_frame(5));
    EXPECT_EQ(info.raw_image[0], 10 * 16);

    // A name without digits: one file.
    copy_file(fixture("series/slice_0002.dcm"), dir + "/scan.dcm");
    ASSERT_TRUE(open(dir + "/scan.dcm"));
    EXPECT_EQ(std::tie(info.file_type, info.frames, info.raw_image[0]), std::make_tuple(FILE_DICOM, 1, 20 * 16));
    ASSERT_TRUE(reload_frame(0));  // a reload of the only frame reads it again
    EXPECT_EQ(info.raw_image[0], 20 * 16);
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(DicomReader, OrientationAngles)
{
    struct {
        double o[6];
        double a[3];
    } cases[] = {
        {{1, 0, 0, 0, 1, 0}, {0, 0, 0}},
        {{0, 1, 0, 0, 0, -1}, {90, 0, -90}},   // sagittal
        {{0, 0, -1, 0, 1, 0}, {0, 90, 0}},     // row along -z
        {{0, 0, 1, 1, 0, 0}, {0, -90, -90}},   // row along +z
        {{1, 0, 0, 0, 0, -1}, {0, 0, -90}},    // coronal
    };
    for (const auto& c : cases) {
        std::copy(c.o, c.o + 6, info.orientation);
        double a[3];
        convert_orientation(&a[0], &a[1], &a[2]);
        for (int i = 0; i < 3; i++) EXPECT_NEAR(a[i], c.a[i], 1e-9) << i;
    }
}
