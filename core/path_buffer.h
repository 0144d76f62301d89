// Paths between the toolkit's strings and the loaders' char* interface.
#pragma once

#include <string>
#include <sys/stat.h>
#include <vector>
#include <wx/string.h>

// A private, NUL-terminated copy of a path for the loaders' char* interface.
inline std::vector<char> path_buffer(const std::string& path)
{
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return buffer;
}

// The bytes the file system knows a path by. The toolkit's file-name conversion is used
// in both directions (not the locale's, which in the C locale cannot hold a "ü" and would
// turn the path into an empty string).
inline std::string native_path(const wxString& path) { return std::string(path.fn_str()); }
inline wxString path_text(const std::string& path) { return wxString(path.c_str(), *wxConvFileName); }

// True for a regular file; false for folders, fifos, devices and missing names. Asked
// before a file is opened, so that a fifo is never opened and read.
inline bool is_regular_file(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
