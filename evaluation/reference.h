// The noise-free reference image: loading, checking and the "Open reference" command.
#pragma once

#include <wx/string.h>

// Loads `name` with the image handlers as ref_image (samples x 16, same layout as the
// loaded image: one grey value or R, G, B per pixel). Fails, leaving the old reference,
// when the file cannot be loaded; fails and drops the old reference when its size
// differs from width x height or its kind (grey or RGB) from data_colour.
bool load_ref_image_file(char* name);

// The "_all_noise" series: by the ending of the reference's name, the level to filter
// with (0: keep the current one) and ref_range. Null for other endings.
struct all_noise_row {
    const char* ending;
    int level;
    double range;
};
const all_noise_row* all_noise_row_for(const wxString& reference_name);

// ref_range for a reference file name while the loaded image's name contains
// "_all_noise": 1 / (1 + 0.04 k) for the endings "_001" .. "_128", 0.8, 0.6, 0.5 for
// "_16", "_32", "_64"; 1.0 otherwise.
double ref_range_for_reference(const wxString& loaded_name, const wxString& reference_name);

// The "Open reference" command without its dialog: stores the path, loads and checks the
// reference (warning "This reference is either not the same size or colour as the loaded
// image" on failure), sets ref_range by name and runs the comparison over the whole
// image. Returns true when the reference is loaded.
bool open_reference(const wxString& path);
