// Helpers shared by the DICOM tests: loading through the reader, checksums of the record's
// samples, temporary folders without digits in their names, and a log catcher.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <wx/log.h>

#include "image_test_support.h"
#include "io/dicom_reader.h"

namespace dicom_test {

inline std::string fixture(const std::string& name) { return std::string(VOXMIRA_FIXTURES) + "/dicom/" + name; }

inline bool load(const std::string& path, int index) { return load_with(load_dicom_file, path, index); }

// Opens a data set afresh, as Open does.
inline bool open(const std::string& path)
{
    fresh_record(path);
    return load(path, -1);
}

// FNV-1a 64 over the record's samples as little-endian int32.
inline uint64_t samples_checksum()
{
    uint64_t h = 0xcbf29ce484222325ull;
    const size_t n = (size_t)info.width * info.height * info.channels;
    for (size_t i = 0; i < n; i++) {
        const uint32_t v = (uint32_t)info.raw_image[i];
        for (int b = 0; b < 4; b++) {
            h ^= (v >> (8 * b)) & 0xFF;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

inline std::vector<char> read_file(const std::string& path) { return file_bytes(path); }

// `bytes` with `value` written `offset` bytes after the first occurrence of `tag`.
inline void patch(std::vector<char>& bytes, const std::string& tag, size_t offset, const std::string& value)
{
    const size_t at = std::string(bytes.begin(), bytes.end()).find(tag);
    ASSERT_NE(at, std::string::npos) << "tag not found";
    std::copy(value.begin(), value.end(), bytes.begin() + (long)(at + offset));
}

// A fresh folder whose path has no digits, so the folder name never forms a sequence field.
inline std::string digit_free_folder(const std::string& tag)
{
    static int serial = 0;
    std::string letters;
    for (unsigned v = (unsigned)getpid() * 64u + (unsigned)serial++; v; v /= 26)
        letters += (char)('a' + v % 26);
    const std::string dir = "/tmp/voxmira_dicom_" + tag + "_" + letters;
    if (std::system(("rm -rf '" + dir + "'").c_str()) == 0) ::mkdir(dir.c_str(), 0700);
    return dir;
}

// Collects warnings logged while it lives.
class log_catcher : public wxLog {
public:
    log_catcher() { previous_ = wxLog::SetActiveTarget(this); }
    ~log_catcher() override { wxLog::SetActiveTarget(previous_); }
    std::string text;

protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString& msg) override { text += std::string(msg.utf8_str()) + "\n"; }

private:
    wxLog* previous_;
};

}  // namespace dicom_test
