#include "commands/open_data_set.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>
#include <wx/filename.h>

#include "core/record.h"
#include "commands/startup.h"
#include "display/display_image.h"
#include "evaluation/reference.h"
#include "commands/loader_chain.h"
#include "commands/pipeline.h"

const char* loader_for_filter(int filter_index)
{
    static const char* const names[OPEN_FILTERS] = {"image", "dicom", "sonix", "qct", "dfe", "rsq", "dicom"};
    return filter_index >= 0 && filter_index < OPEN_FILTERS ? names[filter_index] : nullptr;
}

int filter_for_open_data()
{
    if (!info.raw_image) return info.open_filter;
    switch (info.file_type) {
    case FILE_DICOM: case FILE_DICOM_NUMBERED: case FILE_DICOM_FOLDER: return OPEN_DICOM;
    case FILE_SONIX: case FILE_SONIX_TAGGED: return OPEN_SONIX;
    case FILE_QCT: return OPEN_QCT;
    case FILE_DXA: return OPEN_DXA;
    case FILE_MICRO_CT: return OPEN_MICRO_CT;
    default: return OPEN_IMAGE;
    }
}

int level_slider_maximum()
{
    if (info.data_max > 256) return info.data_max;
    return info.colour_processing ? 443 : 256;
}

bool open_data_set(const wxString& path, int filter_index, bool any_loader)
{
    // The data set that is open stays, untouched, unless the new one loads.
    held_record previous;
    hold_record(previous);
    reset_info();
    info.file_name = path;
    info.open_filter = filter_index;
    const char* loader = any_loader ? nullptr : loader_for_filter(filter_index);
    const std::string narrow = native_path(path);
    // A refused file is explained by its loader, or else here: never a silent dialog.
    if ((loader || any_loader) && !narrow.empty()) load_or_say_why(narrow, loader);
    if (!info.raw_image) {
        restore_record(previous);
        return false;
    }

    try {
        derive_default_window();
        resize_display(info.window_width, info.window_height);
        pair_reference();
        set_default_zoom();
        sample_image();
        process_image();
    } catch (const std::bad_alloc&) {
        // Loaded, but too large to process here: the data set that was open comes back.
        restore_record(previous);
        throw;
    }
    return info.raw_image != nullptr;
}

namespace {

bool try_reference(const wxFileName& opened, const wxString& name)
{
    wxFileName candidate(opened);
    candidate.SetName(name);
    const std::string narrow = native_path(candidate.GetFullPath());
    if (narrow.empty()) return false;
    std::vector<char> buffer = path_buffer(narrow);
    if (!load_ref_image_file(buffer.data())) return false;
    info.ref_file_name = candidate.GetFullPath();
    return true;
}

// Level and ref_range by the ending of the "_all_ref" name.
void apply_all_noise_level(const wxString& ref_name)
{
    const all_noise_row* row = all_noise_row_for(ref_name);
    if (!row) return;
    if (row->level) {
        info.level = row->level;
        info.use_level = 1;
    }
    info.ref_range = row->range;
}

// Level by the ISO ending of a NIND image name.
void apply_nind_level(const wxString& name)
{
    static const struct {
        const char* ending;
        int level;
    } table[] = {
        {"_ISO250", 25},  {"_ISO320", 27},  {"_ISO400", 30},  {"_ISO500", 32},  {"_ISO640", 35},
        {"_ISO800", 38},  {"_ISO1000", 42}, {"_ISO1250", 48}, {"_ISO1600", 60}, {"_ISO2000", 64},
        {"_ISO2500", 70}, {"_ISO3200", 80}, {"_ISO4000", 88}, {"_ISO5000", 100}, {"_ISO6400", 110},
        {"_ISOH1", 150},  {"_ISOH2", 200},  {"_ISOH3", 255},
    };
    for (const auto& row : table)
        if (name.EndsWith(row.ending)) {
            info.level = row.level;
            info.use_level = 1;
            return;
        }
}

}  // namespace

bool pair_reference()
{
    if (!info.raw_image || info.file_type != FILE_IMAGE) return false;
    info.ref_range = 1.0;
    info.ref_file_name.clear();
    const wxFileName opened(info.file_name);
    const wxString name = opened.GetName();
    bool last_loaded = false;
    bool any_loaded = false;

    if (name.Contains("_all_noise")) {
        wxString candidate = name;
        candidate.Replace("_all_noise", "_all_ref");
        last_loaded = try_reference(opened, candidate);
        if (last_loaded) apply_all_noise_level(candidate);
        any_loaded |= last_loaded;
    }
    if (name.Contains("NOISY_RAW") || name.Contains("NOISY_SRGB")) {
        wxString candidate = name;
        candidate.Replace("NOISY_", "GT_");
        last_loaded = try_reference(opened, candidate);
        any_loaded |= last_loaded;
    }
    if (name.Contains("NIND_") && name.Contains("_ISO")) {
        const wxString stem = name.Left(name.Find("_ISO"));
        last_loaded = try_reference(opened, stem + "_ISO100") ||
                      try_reference(opened, stem + "_ISO200");
        if (last_loaded) apply_nind_level(name);
        any_loaded |= last_loaded;
    }
    if (info.ref_range != 1.0) {
        info.window_centre = 127;
        info.window_range = (int)(info.ref_range * 255);
        info.default_centre = 127;
        info.default_range = 255;
    }
    if (!last_loaded && name.Contains("_noise")) {
        wxString candidate = name;
        candidate.Replace("_noise", "");
        last_loaded = try_reference(opened, candidate);
    }
    if (!last_loaded) {
        const int last = name.Find('_', true);
        if (last > 0) last_loaded = try_reference(opened, name.Left(last));
    }
    // A reference found by an earlier rule still counts when a later rule found none; a
    // candidate of the wrong size or kind drops it.
    if ((!last_loaded && !any_loaded) || !info.ref_image) {
        info.ref_file_name.clear();
        release_array(info.ref_image);
    }
    return info.ref_image != nullptr;
}

bool change_frame(int n)
{
    if (n == info.frame) return false;
    // A frame that does not load (warned by its loader) leaves the previous one shown.
    reload_frame(n);
    sample_image();
    process_image();
    info.metal_active = 0;
    info.metal_iteration = 0;
    return true;
}
