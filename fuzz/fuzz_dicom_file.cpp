// Fuzzes the DICOM reader on a whole file: the input is written to a file whose path has
// no digits (so no series search runs) and opened as a first open, then, for a multi-frame
// result, its last frame is loaded too; the element list of the DICOM information window
// is made of it as well.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>
#include <wx/app.h>
#include <wx/log.h>

#include "core/record.h"
#include "io/dicom_elements.h"
#include "io/dicom_reader.h"

static std::string scratch_path()
{
    static std::string path;
    if (path.empty()) {
        std::string letters;
        for (unsigned v = (unsigned)getpid(); v; v /= 26) letters += (char)('a' + v % 26);
        path = "/dev/shm/voxmira_fuzz_dicom_" + letters + ".dcm";
    }
    return path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer wx_init;
    wxLog::EnableLogging(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = scratch_path();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    reset_info();
    if (load_dicom_file(buffer.data(), -1) && info.file_type == FILE_DICOM && info.frames > 1) {
        const int last = info.first_frame + (info.frames < 64 ? info.frames : 64) - 1;
        info.frame = last;
        load_dicom_file(buffer.data(), last);
    }
    std::vector<dicom_element_row> rows;
    std::string why;
    list_dicom_elements(path, rows, why, 5000);
    return 0;
}
