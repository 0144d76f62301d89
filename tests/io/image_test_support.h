// Helpers shared by the image-file, pairing, vendor and saving tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <wx/image.h>

#include "core/record.h"
#include "io/image_file.h"

inline std::string image_fixture(const std::string& name) { return std::string(VOXMIRA_FIXTURES) + "/images/" + name; }
inline std::string vendor_fixture(const std::string& name) { return std::string(VOXMIRA_FIXTURES) + "/vendor/" + name; }

// A fresh empty folder for one test, ending in '/'.
inline std::string fresh_folder()
{
    std::string pattern = ::testing::TempDir() + "voxmira_XXXXXX";
    const char* made = mkdtemp(pattern.data());
    return made ? std::string(made) + "/" : std::string();
}

// Offers `path` as a first open (or frame `index`) to a loader taking (char*, int).
template <typename Loader>
bool load_with(Loader loader, std::string path, int index = -1)
{
    return loader(path.data(), index);
}

// A fresh record holding `path` as its file name.
inline void fresh_record(const std::string& path = std::string())
{
    reset_info();
    info.file_name = wxString(path.c_str(), wxConvLibc);
}

// Opens `path` afresh through `loader` (the image loader when none is named).
template <typename Loader>
bool open_with(Loader loader, const std::string& path)
{
    fresh_record(path);
    return load_with(loader, path);
}
inline bool open_image(const std::string& path) { return open_with(load_image_file, path); }

// A w x h PNG, grey with value v (or with R, G, B = v, v + 1, v + 2 when colour).
inline void write_png(const std::string& path, int w, int h, int v, bool colour = false)
{
    wxImage image(w, h);
    for (int i = 0; i < w * h; i++) image.SetRGB(i % w, i / w, v, colour ? v + 1 : v, colour ? v + 2 : v);
    image.SaveFile(wxString(path.c_str(), wxConvLibc), wxBITMAP_TYPE_PNG);
}

inline std::vector<char> file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

inline void copy_file(const std::string& from, const std::string& to) { write_file(to, file_bytes(from)); }

// The fixture sequence frame_0003.png .. frame_0007.png (values 10, 20 .. 50) from `first`
// to `last` into `dir`.
inline void copy_sequence(const std::string& dir, int first, int last)
{
    for (int k = first; k <= last; k++) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d.png", k);
        copy_file(image_fixture(std::string("seq/") + name), dir + name);
    }
}
