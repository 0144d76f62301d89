// The element list of File > DICOM information against values the fixtures were made with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "dicom_test_support.h"
#include "io/dicom_elements.h"

using dicom_test::fixture;

TEST(DicomElements, ListsTheFixturesValuesInEveryEncoding)
{
    const struct {
        const char* file;
        uint16_t group, element;
        int depth;
        const char* vr;
        const char* value;
    } cases[] = {
        {"ct_s16.dcm", 0x0028, 0x0010, 0, "US", "32"},
        {"ct_s16.dcm", 0x0028, 0x1050, 0, "DS", "40.0\\400.0"},
        {"ct_s16.dcm", 0x0008, 0x0060, 0, "CS", "CT"},
        {"ct_s16.dcm", 0x0002, 0x0010, 0, "UI", "1.2.840.10008.1.2.1"},
        {"ct_s16_big.dcm", 0x0028, 0x0011, 0, "US", "40"},
        {"bare_implicit.dcm", 0x0028, 0x0011, 0, "US", "40"},  // VR from the dictionary
        {"bare_implicit.dcm", 0x0010, 0x0010, 0, "PN", "Fixture^Test"},
        {"j2k_icon.dcm", 0x0088, 0x0200, 0, "SQ", "(sequence)"},
        {"j2k_icon.dcm", 0x0028, 0x0010, 2, "US", "8"},  // the thumbnail, inside its item
        {"j2k_icon.dcm", 0x0028, 0x0010, 0, "US", "32"},
        {"j2k_icon.dcm", 0x7FE0, 0x0010, 0, "OB", "(compressed, 1 fragments)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.group) + "," + std::to_string(c.element));
        std::vector<dicom_element_row> rows;
        std::string why;
        ASSERT_TRUE(list_dicom_elements(fixture(c.file), rows, why)) << why;
        const auto r = std::find_if(rows.begin(), rows.end(), [&](const dicom_element_row& r) {
            return r.group == c.group && r.element == c.element && r.depth == c.depth;
        });
        ASSERT_NE(r, rows.end());
        EXPECT_EQ(std::tie(r->vr, r->value), std::make_tuple(c.vr, c.value));
    }
    EXPECT_STREQ(dicom_element_name(0x0028, 0x0010), "Rows");
}

TEST(DicomElements, CutFilesListWhatCameBeforeAndSaySo)
{
    const std::vector<char> whole = file_bytes(fixture("long_text_sequence.dcm"));
    ASSERT_GT(whole.size(), 300u);
    const std::string path = testing::TempDir() + "cut_elements.dcm";
    std::vector<dicom_element_row> rows;
    std::string why;
    for (size_t cut = 133; cut < whole.size(); cut += 1 + cut / 30) {
        write_file(path, std::vector<char>(whole.begin(), whole.begin() + (long)cut));
        rows.clear();
        if (list_dicom_elements(path, rows, why)) { EXPECT_FALSE(rows.empty()) << cut; }
    }
    EXPECT_FALSE(list_dicom_elements(fixture("expected.txt"), rows, why));
    EXPECT_EQ(why, "the file is not DICOM");
    std::remove(path.c_str());
}
