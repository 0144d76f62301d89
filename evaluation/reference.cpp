#include "evaluation/reference.h"

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>

#include "app/record.h"
#include "evaluation/compare.h"
#include "io/checked_size.h"
#include "io/image_file.h"
#include "io/loader_chain.h"

bool load_ref_image_file(char* name)
{
    if (!name || !*name) return false;
    wxImage image;
    {
        register_image_handlers();
        wxLogNull quiet;
        const wxString path(name, wxConvLibc);
        if (!wxFileName::FileExists(path) || !image.LoadFile(path, wxBITMAP_TYPE_ANY) ||
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

double ref_range_for_reference(const wxString& loaded_name, const wxString& reference_name)
{
    if (!wxFileName(loaded_name).GetName().Contains("_all_noise")) return 1.0;
    const wxString name = wxFileName(reference_name).GetName();
    static const struct {
        const char* ending;
        double range;
    } table[] = {
        {"_001", 1 / 1.04}, {"_002", 1 / 1.08}, {"_004", 1 / 1.16}, {"_008", 1 / 1.32},
        {"_016", 1 / 1.64}, {"_032", 1 / 2.28}, {"_064", 1 / 3.56}, {"_128", 1 / 6.12},
        {"_16", 0.8},       {"_32", 0.6},       {"_64", 0.5},
    };
    for (const auto& row : table)
        if (name.EndsWith(row.ending)) return row.range;
    return 1.0;
}

bool open_reference(const wxString& path)
{
    info.ref_file_name = path;
    info.ref_range = 1.0;
    const std::string narrow(path.mb_str());
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
