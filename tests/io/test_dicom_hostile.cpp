// Damaged, truncated and hostile DICOM input: a clear warning, false, and the previous
// image left in place; never a crash, an overrun or an allocation the file cannot back.
#include <gtest/gtest.h>

#include <tuple>

#include "commands/loader_chain.h"
#include "dicom_test_support.h"

using namespace dicom_test;

namespace {

// What a failed load must leave as it was.
auto snapshot()
{
    return std::make_tuple(info.raw_image, info.width, info.height, info.frames, info.first_frame,
                           info.file_type, info.frame, info.data_min, info.data_max, info.window_centre,
                           info.window_range, samples_checksum());
}
using record_snapshot = decltype(snapshot());

}  // namespace

// Damaged files and headers that disagree with their data (the fixture with bytes written
// after a tag): refused with a warning naming the reason, the previous image kept.
TEST(DicomHostile, DamagedFilesFailWithAWarningAndKeepThePreviousImage)
{
    const char* const unsupported = "This DICOM file contains compressed data, but in an unsupported format.";
    struct edit {
        std::string tag;
        size_t offset;
        std::string value;
    };
    struct {
        const char* name;
        std::vector<edit> edits;
        const char* warning;
    } cases[] = {
        {"trunc_pixels.dcm", {}, "truncated"},
        {"trunc_header.dcm", {}, "ends before its pixel data"},
        {"trunc_fragment.dcm", {}, "truncated or corrupt"},
        {"huge_frame.dcm", {}, "65535 x 65535"},
        {"corrupt_huffman.dcm", {}, "lossless JPEG data are damaged: a Huffman table's code lengths cannot form a code"},
        {"bad_restart.dcm", {}, unsupported},
        {"rle_bad_offset.dcm", {}, unsupported},
        // Three samples promised over a one-component JPEG 2000 codestream (read three
        // times past the decoded plane once).
        {"j2k_s16.dcm", {{std::string("\x28\x00\x02\x00US\x02\x00\x01\x00", 10), 8, "\x03"}}, "JPEG 2000"},
        // Rows and Columns 30000 and a pixel data length of 0xFFFFFFF0: a 900 MB frame over
        // 1.5 kB, refused as truncated before any allocation.
        {"ex_le_u8.dcm",
         {{std::string("\x28\x00\x10\x00US", 6), 8, "\x30\x75"},
          {std::string("\x28\x00\x11\x00US", 6), 8, "\x30\x75"},
          {std::string("\xe0\x7f\x10\x00OB", 6), 8, "\xF0\xFF\xFF\xFF"}},
         "truncated"},
        // 32-bit values whose rescaled x 16 form leaves the record's ints: never wrapped.
        {"dose32.dcm", {{std::string("\x28\x00\x53\x10" "DS\x04\x00", 8), 8, "1000"}}, "32-bit values"},
        // A JPEG-LS codestream no decoder recognises (frame marker spoilt): the encoding is named.
        {"jpegls_s16.dcm", {{std::string("\xFF\xD8\xFF\xF7", 4), 3, "\xF9"}}, "1.2.840.10008.1.2.4.80, JPEG-LS lossless"},
    };
    const std::string path = digit_free_folder("damaged") + "/damaged.dcm";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> bytes = read_file(fixture(c.name));
        for (const edit& e : c.edits) patch(bytes, e.tag, e.offset, e.value);
        write_file(path, bytes);
        ASSERT_TRUE(open(fixture("series/slice_0001.dcm")));
        const record_snapshot before = snapshot();
        log_catcher log;
        EXPECT_FALSE(load(path, -1));
        EXPECT_NE(log.text.find(c.warning), std::string::npos) << log.text;
        EXPECT_EQ(snapshot(), before);
    }
    std::system(("rm -rf '" + path.substr(0, path.rfind('/')) + "'").c_str());
}

// Files that are no DICOM fail silently; an overlong path is refused with a reason.
TEST(DicomHostile, NonDicomFilesAndMissingFilesFailSilentlyOverlongPathsNot)
{
    const std::string dir = digit_free_folder("silent");
    std::vector<char> junk(5000);
    for (size_t i = 0; i < junk.size(); i++) junk[i] = (char)(i * 7 + (i >> 3));
    write_file(dir + "/junk.bin", junk);
    write_file(dir + "/empty.bin", {});
    for (const std::string& name : {dir + "/junk.bin", dir + "/empty.bin", dir + "/none.dcm", dir}) {
        log_catcher log;
        EXPECT_FALSE(load(name, -1)) << name;
        EXPECT_EQ(log.text, "") << name;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    log_catcher log;
    EXPECT_FALSE(load("/tmp/" + std::string(1100, 'a'), -1));
    EXPECT_NE(log.text.find("too long"), std::string::npos);
}

TEST(DicomHostile, FramesTheFileDoesNotHoldAreNotOffered)
{
    // The uncompressed file claims 4 frames; cut to 2 it offers 2, and frame 4 asked for
    // anyway (a record that still counts 4) is refused with a warning.
    const std::string dir = digit_free_folder("frames");
    std::vector<char> bytes = read_file(fixture("mf_u16.dcm"));
    bytes.resize(bytes.size() - 2 * 16 * 12 * 2);  // two frames of 16 x 12 words
    write_file(dir + "/short.dcm", bytes);
    ASSERT_TRUE(open(dir + "/short.dcm"));
    EXPECT_EQ(info.frames, 2);
    ASSERT_TRUE(reload_frame(2));
    info.frames = 4;
    log_catcher log;
    EXPECT_FALSE(reload_frame(4));
    EXPECT_NE(log.text.find("truncated"), std::string::npos) << log.text;

    // The same for encapsulated data: three of four fragments.
    bytes = read_file(fixture("mf_jpegll.dcm"));
    const size_t last_item = std::string(bytes.begin(), bytes.end()).rfind(std::string("\xfe\xff\x00\xe0", 4));
    ASSERT_NE(last_item, std::string::npos);
    bytes.resize(last_item);
    write_file(dir + "/short_ll.dcm", bytes);
    ASSERT_TRUE(open(dir + "/short_ll.dcm"));
    EXPECT_EQ(info.frames, 3);
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(DicomHostile, EveryTruncationAndManyCorruptionsAreSafe)
{
    // Each fixture cut at many lengths and with bytes overwritten: whatever happens, a
    // failed load leaves the record as it was, and a successful one is self-consistent.
    const std::string dir = digit_free_folder("cuts");
    const std::string path = dir + "/cut.dcm";
    wxLog::EnableLogging(false);
    for (const char* name : {"ct_s16.dcm", "ct_s16_big.dcm", "bare_implicit.dcm", "ll_p7_16.dcm",
                             "ll_rgb.dcm", "rle_rgb.dcm", "rle_s16.dcm", "j2k_s16.dcm",
                             "mf_jpegll.dcm", "jpeg_baseline.dcm", "long_text_sequence.dcm",
                             "jpeg_rgb.dcm", "ybr_422.dcm", "palette16.dcm", "deflated.dcm",
                             "bits1_mf.dcm", "dose32.dcm", "jpegls_s16.dcm", "jpegls_nl_rgb.dcm",
                             "j2k_icon.dcm", "j2k_rgb.dcm", "jpeg12_ct.dcm", "rle_dose32.dcm",
                             "j2k_jp2_box.dcm", "jpeg_rgb_nomarker.dcm"}) {
        SCOPED_TRACE(name);
        const std::vector<char> whole = read_file(fixture(name));
        for (size_t cut = 0; cut < whole.size(); cut += 1 + cut / 40) {
            ASSERT_TRUE(open(fixture("ex_le_u8.dcm")));
            const record_snapshot before = snapshot();
            write_file(path, std::vector<char>(whole.begin(), whole.begin() + cut));
            if (!load(path, -1)) { EXPECT_EQ(snapshot(), before); }
        }
        uint32_t seed = 12345;
        for (int trial = 0; trial < 150; trial++) {
            std::vector<char> bytes = whole;
            for (int k = 0; k < 4; k++) {
                seed = seed * 1103515245u + 12345u;
                bytes[(seed >> 8) % bytes.size()] = (char)(seed >> 24);
            }
            write_file(path, bytes);
            ASSERT_TRUE(open(fixture("ex_le_u8.dcm")));
            const record_snapshot before = snapshot();
            if (load(path, -1)) {
                ASSERT_NE(info.raw_image, nullptr);
                EXPECT_GE(info.data_max, info.data_min);
            } else {
                EXPECT_EQ(snapshot(), before);
            }
        }
    }
    wxLog::EnableLogging(true);
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Each loader speaks only of its own files: a DICOM file whose preamble reads as a TIFF
// header loads through the start-up chain without the image reader's warning.
TEST(DicomHostile, DualTiffPreambleBelongsToTheDicomReader)
{
    std::vector<char> bytes = read_file(fixture("ct_s16.dcm"));
    const char tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::copy(tiff, tiff + 8, bytes.begin());
    const std::string dir = digit_free_folder("preamble");
    write_file(dir + "/dual.dcm", bytes);
    log_catcher log;
    fresh_record(dir + "/dual.dcm");
    EXPECT_TRUE(load_with_chain(dir + "/dual.dcm", -1));
    EXPECT_EQ(std::make_tuple(info.file_type, log.text), std::make_tuple(FILE_DICOM, std::string()));
    std::system(("rm -rf '" + dir + "'").c_str());
}
