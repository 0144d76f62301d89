#include "evaluation/reference.h"

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>

#include "core/record.h"
#include "evaluation/compare.h"
#include "core/checked_size.h"
#include "io/image_file.h"
#include "core/path_buffer.h"

bool load_ref_image_file(char* name)
{
    if (!name || !*name) return false;
    wxImage image;
    {
        register_image_handlers();
        wxLogNull quiet;
        const wxString path = path_text(name);
        if (!wxFileName::FileExists(path) || !pnm_header_fault(name).empty() || !image.LoadFile(path, wxBITMAP_TYPE_ANY) ||
            !image.IsOk())
            return false;
    }
    if (image.GetWidth() != info.width || image.GetHeight() != info.height) {
        release_array(info.ref_image);
        return false;
    }
    release_array(info.ref_image);
    const unsigned char* rgb = image.GetData();
    const size_t n = (size_t)info.width * info.height;
    int kind = 0;
    for (size_t i = 0; i < n; i++)
        if (rgb[3 * i] != rgb[3 * i + 1] || rgb[3 * i] != rgb[3 * i + 2]) {
            kind = 1;
            break;
        }
    if (kind != info.data_colour) return false;
    info.ref_image = new_samples_checked(info.width, info.height, kind ? 3 : 1);
    if (!info.ref_image) return false;
    if (kind)
        for (size_t i = 0; i < 3 * n; i++) info.ref_image[i] = rgb[i] * 16;
    else
        for (size_t i = 0; i < n; i++) info.ref_image[i] = rgb[3 * i] * 16;
    return true;
}

const all_noise_row* all_noise_row_for(const wxString& reference_name)
{
    // Noise sigma 1 .. 128 in 8-bit levels: ref_range 1 / (1 + 0.04 sigma), the level
    // that suits it; the three coarse endings keep the level.
    static const all_noise_row table[] = {
        {"_001", 6, 25.0 / 26},   {"_002", 13, 25.0 / 27}, {"_004", 30, 25.0 / 29},
        {"_008", 62, 25.0 / 33},  {"_016", 100, 25.0 / 41}, {"_032", 142, 25.0 / 57},
        {"_064", 184, 25.0 / 89}, {"_128", 214, 25.0 / 153}, {"_16", 0, 0.8},
        {"_32", 0, 0.6},          {"_64", 0, 0.5},
    };
    const wxString name = wxFileName(reference_name).GetName();
    for (const all_noise_row& row : table)
        if (name.EndsWith(row.ending)) return &row;
    return nullptr;
}

double ref_range_for_reference(const wxString& loaded_name, const wxString& reference_name)
{
    if (!wxFileName(loaded_name).GetName().Contains("_all_noise")) return 1.0;
    const all_noise_row* row = all_noise_row_for(reference_name);
    return row ? row->range : 1.0;
}

bool open_reference(const wxString& path)
{
    // A name that is no file gets its own word: "not the same size" would send the user
    // looking at the wrong thing.
    if (!wxFileName::FileExists(path)) {
        wxLogWarning("Cannot open the reference %s: there is no such file.", path);
        return false;
    }
    info.ref_file_name = path;
    info.ref_range = 1.0;
    const std::string narrow = native_path(path);
    std::vector<char> buffer = path_buffer(narrow);
    if (narrow.empty() || !info.raw_image || !load_ref_image_file(buffer.data())) {
        wxLogWarning("This reference is either not the same size or colour as the loaded image");
        // No reference remains, so none is named.
        release_array(info.ref_image);
        info.ref_file_name.clear();
        return false;
    }
    info.ref_range = ref_range_for_reference(info.file_name, path);
    compare_to_ref(0, 0, info.proc_width, info.proc_height);
    return true;
}
