// Discovery of the files of a DICOM data set.
#include "io/dicom_series.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>
#include <wx/string.h>

#include "core/path_buffer.h"
#include "core/ui.h"
#include "io/sequence_name.h"

namespace {

// Paths are limited to what the program's 1024-byte path buffer has always held.
const size_t path_buffer_size = 1024;

bool is_plain_file(const std::string& name)
{
    return name.size() < path_buffer_size && is_regular_file(name);
}

std::string folder_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The plain files of the path's folder (full names), sorted; false when the folder cannot
// be listed.
bool list_plain_files(const std::string& path, std::vector<std::string>& names)
{
    const std::string folder = folder_of(path);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    const std::string prefix = path.find('/') == std::string::npos ? "" : folder + "/";
    names.clear();
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        std::string name = prefix == "//" ? "/" + std::string(e->d_name) : prefix + e->d_name;
        if (is_plain_file(name)) names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

}  // namespace

std::string frame_file_name(const std::string& path, int file_type, int index)
{
    std::string name = path;
    if (file_type == FILE_DICOM_NUMBERED) {
        sequence_field field;
        if (find_sequence_field(name, field)) name = sequence_file_name(name, field, index);
        if (name.size() >= path_buffer_size) return std::string();
    } else if (file_type == FILE_DICOM_FOLDER) {
        std::vector<std::string> names;
        if (list_plain_files(name, names) && index >= 0 && (size_t)index < names.size())
            name = names[index];
    }
    return name;
}

frame_fields discover_frames(const std::string& path)
{
    frame_fields f;
    sequence_field field;
    if (!find_sequence_field(path, field)) return f;
    // Digits in a folder name do not make the files of numbered folders one series: the
    // file's own folder is listed instead.
    const size_t slash = path.rfind('/');
    const bool in_name = slash == std::string::npos || field.start > slash;
    ui_progress progress("Loading Dicom files", "Checking for a sequence of Dicom files", 102,
                         true);
    int pulses = 0;
    long first = field.number, count = 1;
    const bool finished = !in_name || find_sequence_range(
        path, field, is_plain_file, [&]() { return progress.update(++pulses % 102, wxString()); },
        first, count);
    f.file_type = FILE_DICOM_NUMBERED;
    f.first_frame = (int)std::min<long>(first, INT_MAX);
    f.frames = (int)std::min<long>(count, INT_MAX);
    f.frame = (int)std::min<long>(field.number, INT_MAX);
    std::vector<std::string> names;
    if ((count == 1 || !finished) && list_plain_files(path, names)) {
        f.file_type = FILE_DICOM_FOLDER;
        f.first_frame = 0;
        f.frames = (int)std::min<size_t>(names.size(), INT_MAX);
        f.frame = 0;
        for (size_t i = 0; i < names.size(); i++)
            if (names[i] == path) f.frame = (int)i;
        // Also find the file when it was opened by a path spelled differently (./a.dcm).
        if (f.frame == 0 && !names.empty() && names[0] != path) {
            struct stat a, b;
            if (::stat(path.c_str(), &a) == 0)
                for (size_t i = 0; i < names.size(); i++)
                    if (::stat(names[i].c_str(), &b) == 0 && a.st_ino == b.st_ino &&
                        a.st_dev == b.st_dev) {
                        f.frame = (int)i;
                        break;
                    }
        }
    }
    return f;
}

