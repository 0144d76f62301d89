// "Process DICOM/TIFF": new DICOM files that differ from their source only in the pixel
// data and the identities, in every sample format; the TIFF form of compressed 16-bit data;
// new UIDs; refusals and write errors that leave nothing behind.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <set>
#include <sys/resource.h>
#include <wx/dir.h>
#include <wx/filename.h>

#include "../io/dicom_test_support.h"
#include "commands/open_data_set.h"
#include "commands/save_sequence.h"
#include "core/ui.h"
#include "io/dicom_writer.h"
#include "io/image_file.h"

using namespace dicom_test;

namespace {

// Opens `path` as the Open command does and writes its data set with every processed
// value replaced by the loaded value of the next pixel (the last pixel takes the first):
// a result the file's own sample format can hold exactly, and that differs from the source.
int write_shifted(const std::string& path)
{
    if (!open_data_set(wxString(path.c_str(), wxConvLibc), 1)) return -1;
    return process_data_set([] {
        const size_t n = (size_t)info.proc_width * info.proc_height;
        for (size_t i = 0; i < n; i++) info.processed_image[i] = info.raw_image[(i + 1) % n];
    });
}

// The loaded samples of frame `frame` of `path`.
std::vector<int> frame_values(const std::string& path, int frame)
{
    if (!open(path)) return {};
    if (frame >= 0 && frame != info.frame && !load(path, frame)) return {};
    return std::vector<int>(info.raw_image, info.raw_image + (size_t)info.width * info.height);
}

// Every position of `text` in `bytes`.
std::vector<size_t> occurrences(const std::vector<char>& bytes, const std::string& text)
{
    std::vector<size_t> at;
    const std::string all(bytes.begin(), bytes.end());
    for (size_t p = all.find(text); p != std::string::npos; p = all.find(text, p + 1)) at.push_back(p);
    return at;
}

// The UID of tag (gggg,eeee) in a little-endian explicit file meta or data set, found by
// its tag bytes and "UI".
std::string uid_at(const std::vector<char>& bytes, uint16_t group, uint16_t element)
{
    const char tag[6] = {(char)group, (char)(group >> 8), (char)element, (char)(element >> 8), 'U', 'I'};
    const std::string all(bytes.begin(), bytes.end());
    const size_t p = all.find(std::string(tag, 6));
    if (p == std::string::npos) return std::string();
    std::string uid = all.substr(p + 8, (unsigned char)all[p + 6] | (unsigned char)all[p + 7] << 8);
    while (!uid.empty() && uid.back() == '\0') uid.pop_back();
    return uid;
}

// The Rescale Slope element of slope_u16.dcm (4 bytes of value follow).
const std::string rescale_slope("\x28\x00\x53\x10" "DS" "\x04\x00", 8);

}  // namespace

TEST(DataSet, NumberedSeriesBecomesANewSeriesOfTheProcessedValues)
{
    const std::string dir = digit_free_folder("series") + "/";
    // ct_phantom_0001.dcm .. ct_phantom_0010.dcm as img001 .. img010.
    const auto digits = [](int k) { return std::string(k < 10 ? "00" : "0") + std::to_string(k); };
    for (int k = 1; k <= 10; k++)
        copy_file(std::string(VOXMIRA_SAMPLES) + "/ct_phantom/ct_phantom_0" + digits(k) + ".dcm",
                  dir + "img" + digits(k) + ".dcm");
    ASSERT_TRUE(open_data_set(wxString(dir + "img004.dcm"), 1));
    ASSERT_EQ(info.frames, 10);
    // The processed image is the loaded one plus 7 HU, with -1100 HU in the first pixel:
    // signed samples under intercept -1024 store -76 there.
    EXPECT_EQ(process_data_set([] {
                  const size_t n = (size_t)info.proc_width * info.proc_height;
                  for (size_t i = 0; i < n; i++) info.processed_image[i] = info.raw_image[i] + 7 * 16;
                  info.processed_image[0] = -1100 * 16;
              }),
              10);
    EXPECT_TRUE(ui_last_status(2).StartsWith("Processed in ")) << ui_last_status(2);
    EXPECT_TRUE(ui_last_status(2).EndsWith(" secs: 10 files in proc/")) << ui_last_status(2);
    ASSERT_EQ(current_data_set_run().files.size(), 10u);

    std::set<std::string> instances, series;
    const std::regex uid_syntax("(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))*");
    for (int k = 1; k <= 10; k++) {
        const std::string name = "img" + digits(k);
        const std::string source = dir + name + ".dcm", output = dir + "proc/" + name + "_proc.dcm";
        const std::vector<char> a = read_file(source), b = read_file(output);
        ASSERT_EQ(a.size(), b.size()) << output;

        // Bytes differ only within the pixel data (the last element) and the old UIDs.
        const std::string old_instance = uid_at(a, 0x0008, 0x0018), old_series = uid_at(a, 0x0020, 0x000E);
        const size_t pixels = a.size() - (size_t)info.width * info.height * 2;
        std::vector<std::pair<size_t, size_t>> allowed{{pixels, a.size()}};
        for (const std::string& uid : {old_instance, old_series})
            for (size_t p : occurrences(a, uid)) allowed.push_back({p, p + uid.size()});
        for (size_t at = 0; at < a.size(); at++) {
            bool inside = a[at] == b[at];
            for (auto& r : allowed) inside = inside || (at >= r.first && at < r.second);
            EXPECT_TRUE(inside) << output << " differs at byte " << at;
        }

        // New identities: valid, of the old length, the file meta following the instance.
        const std::string instance = uid_at(b, 0x0008, 0x0018), s = uid_at(b, 0x0020, 0x000E);
        EXPECT_TRUE(std::regex_match(instance, uid_syntax)) << instance;
        EXPECT_EQ(std::make_tuple(instance.size(), uid_at(b, 0x0002, 0x0003)),
                  std::make_tuple(old_instance.size(), instance));
        instances.insert({instance, old_instance});
        series.insert(s);
        EXPECT_NE(s, old_series);

        // Read back by the reader: the processed values in CT units.
        const std::vector<int> in = frame_values(source, -1), out = frame_values(output, -1);
        ASSERT_EQ(in.size(), out.size());
        EXPECT_EQ(out[0], -1100 * 16);
        for (size_t i = 1; i < in.size(); i++) ASSERT_EQ(out[i], in[i] + 7 * 16) << output << " at " << i;
    }
    EXPECT_EQ(instances.size(), 20u) << "every instance is new and distinct";
    EXPECT_EQ(series.size(), 1u) << "one new series";
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Every uncompressed sample format: each written frame reads back as the values given.
TEST(DataSet, EverySampleFormatAndEveryFrameOfAMultiFrameFile)
{
    struct format_case {
        const char* fixture;
        std::vector<int> frames;      // -1: the single frame
        const char* slope = nullptr;  // a Rescale Slope put in place of the file's
    };
    // A slope of 0.3 loads values that truncation would not turn back into the samples.
    const format_case cases[] = {
        {"ct_s16.dcm", {-1}},        {"ct_s16_big.dcm", {-1}},        {"ex_le_u8.dcm", {-1}},
        {"imp_le_s8.dcm", {-1}},     {"slope_u16.dcm", {-1}, "0.3 "}, {"mf_u16.dcm", {1, 2, 3, 4}},
    };
    for (const format_case& c : cases) {
        const std::string dir = digit_free_folder("formats") + "/";
        const std::string source = dir + c.fixture;
        std::vector<char> bytes = read_file(fixture(c.fixture));
        if (c.slope) patch(bytes, rescale_slope, 8, c.slope);
        write_file(source, bytes);
        const std::vector<char> original = read_file(source);
        EXPECT_EQ(write_shifted(source), (int)c.frames.size()) << c.fixture;
        EXPECT_EQ(read_file(source), original) << c.fixture;
        std::string output = source;
        output.replace(output.rfind('/'), 1, "/proc/");
        output.insert(output.rfind('.'), "_proc");
        ASSERT_EQ(current_data_set_run().files, std::vector<std::string>{output}) << c.fixture;
        EXPECT_EQ(read_file(output).size(), original.size()) << c.fixture;
        for (int frame : c.frames) {
            const std::vector<int> in = frame_values(source, frame), out = frame_values(output, frame);
            ASSERT_FALSE(in.empty());
            ASSERT_EQ(in.size(), out.size()) << c.fixture;
            for (size_t i = 0; i < in.size(); i++)
                ASSERT_EQ(out[i], in[(i + 1) % in.size()]) << c.fixture << " frame " << frame << " at " << i;
        }
        std::system(("rm -rf '" + dir + "'").c_str());
    }
}

// 16-bit lossless JPEG becomes CT-form TIFF that the image loader reads back in CT units;
// data that can be written neither way are refused before anything is made. Names that are
// not ASCII (from the Open dialog, drops, Open Recent) reach the loaders whatever the locale.
TEST(DataSet, TiffForCompressedSixteenBitAndRefusalsWriteNothing)
{
    const std::string dir = digit_free_folder("tiff") + "/";
    write_file(dir + "ll_ct_s16.dcm", read_file(fixture("ll_ct_s16.dcm")));
    ASSERT_TRUE(open_data_set(wxString(dir + "ll_ct_s16.dcm"), 1));
    ASSERT_TRUE(info.tiff_output && !info.dicom_output);
    const std::vector<int> loaded(info.raw_image, info.raw_image + (size_t)info.width * info.height);
    EXPECT_EQ(process_data_set(nullptr), 1);
    ASSERT_TRUE(open_image(dir + "proc/ll_ct_s16_proc.tiff"));
    for (size_t i = 0; i < loaded.size(); i++) ASSERT_EQ(info.raw_image[i] / 16, loaded[i] / 16) << i;

    wxLogNull quiet;
    for (const char* name : {"rle_u8.dcm", "rgb8.dcm", "jpeg_baseline.dcm"}) {
        const std::string source = dir + "\xC3\xBC" + name;
        write_file(source, read_file(fixture(name)));
        ASSERT_TRUE(open_data_set(wxString::FromUTF8(source), 1)) << name;
        EXPECT_FALSE(data_set_refusal().empty()) << name;
        EXPECT_EQ(process_data_set(nullptr), 0) << name;
    }
    // A rescale slope of 0 cannot be inverted: refused, nothing made.
    std::vector<char> zero = read_file(fixture("slope_u16.dcm"));
    patch(zero, rescale_slope, 8, "0   ");
    write_file(dir + "zero.dcm", zero);
    ASSERT_TRUE(open_data_set(wxString(dir + "zero.dcm"), 1));
    EXPECT_EQ(process_data_set(nullptr), 0);
    EXPECT_EQ(current_data_set_run().skipped, 1);
    EXPECT_FALSE(wxFileName::FileExists(dir + "proc/zero_proc.dcm"));
    EXPECT_EQ(ui_last_status(2), "Nothing was written");
    std::system(("rm -rf '" + dir + "'").c_str());
}

// A write error (files limited to 100 kB, as a full disk would cut them) stops the run,
// removes what it began, sources untouched, and reports no success.
TEST(DataSet, WriteErrorStopsTheRunAndLeavesNoPartialFile)
{
    const std::string dir = digit_free_folder("full") + "/";
    const std::string samples = std::string(VOXMIRA_SAMPLES) + "/ct_phantom/";
    for (const char* name : {"ct_phantom_0001.dcm", "ct_phantom_0002.dcm", "ct_phantom_0003.dcm"})
        write_file(dir + name, read_file(samples + name));
    const std::vector<char> source = read_file(dir + "ct_phantom_0001.dcm");
    ASSERT_TRUE(open_data_set(wxString(dir + "ct_phantom_0001.dcm"), 1));
    ASSERT_EQ(info.frames, 3);

    struct rlimit limit;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const struct rlimit small = {100000, limit.rlim_max};
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    wxLog::EnableLogging(false);
    const int written = process_data_set(nullptr);
    wxLog::EnableLogging(true);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(std::make_tuple(written, current_data_set_run().failed, current_data_set_run().files.empty()),
              std::make_tuple(0, true, true));
    wxArrayString left;  // nor a temporary
    wxDir::GetAllFiles(dir + "proc", &left, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN);
    EXPECT_TRUE(left.empty()) << left.size();
    EXPECT_EQ(read_file(dir + "ct_phantom_0001.dcm"), source);
    EXPECT_TRUE(ui_last_status(2).StartsWith("Stopped")) << ui_last_status(2);
    std::system(("rm -rf '" + dir + "'").c_str());
}

// New UIDs keep the root, keep the length, stay valid and never repeat a source's.
TEST(DataSet, NewUidsAreValidUniqueAndOfTheSameLength)
{
    const std::regex syntax("(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))*");
    const uint64_t stamp = 1796644716215170ull;
    const char* const uids[] = {
        "1.2.826.0.1.3680043.8.498.11581004454862755688679997859455280767",  // 64
        "1.2.840.113619.2.55.3.604688119.969.1268071029.320",
        "1.3.12.2.1107.5.1.4.1007.30000013121306400537500000003",  // sequential
        "1.3.12.2.1107.5.1.4.1007.30000013121306400537500000004",
        "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.0.9",  // a 0 component at the cut
        "1.02.3.4",                                       // invalid root
        "1.2.3", "1.2",
    };
    std::set<std::string> seen(std::begin(uids), std::end(uids));
    unsigned serial = 1;
    for (const char* old : uids) {
        const std::string fresh = new_uid(old, stamp, serial++);
        EXPECT_EQ(fresh.size(), std::string(old).size()) << old;
        EXPECT_TRUE(std::regex_match(fresh, syntax) && valid_uid(fresh)) << old << " -> " << fresh;
        EXPECT_TRUE(seen.insert(fresh).second) << old << " -> " << fresh;
        if (std::string(old).size() > 30) { EXPECT_EQ(fresh.substr(0, 14), std::string(old).substr(0, 14)); }
    }
    EXPECT_EQ(new_uid("1.2.3.4", stamp, 1).substr(0, 2), "1.");
    EXPECT_EQ(new_uid("12", stamp, 1), "");
    for (const char* bad : {"", "1..2", "1.02", ".1", "1.2.", "1.a", "01"}) EXPECT_FALSE(valid_uid(bad)) << bad;
    EXPECT_FALSE(valid_uid(std::string(65, '1')));
}
