// A private, NUL-terminated copy of a path for the loaders' char* interface.
#pragma once

#include <string>
#include <vector>

// The copy, so that no loader can alter the caller's string.
inline std::vector<char> path_buffer(const std::string& path)
{
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return buffer;
}
