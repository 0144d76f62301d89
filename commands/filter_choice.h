// What the filter and colour choices change in the record beyond their own field, the
// same for the window and the batch tool.
#pragma once

// Whether colour space `colour` may be chosen for data of layout `data_colour`: RGB data
// any space but the layouts RGB Alpha, RAW Bayer and YUVdG; RGB Alpha data Grey or itself;
// RAW Bayer data Grey, itself or YUVdG; grey data only Grey; other layouts any space.
bool colour_allowed(int data_colour, int colour);

// What each "Filter" choice is and uses, one entry per filter_kind.
struct filter_traits {
    bool noise_transform;  // its input goes through the sensor-noise transform first
    bool centile_row;      // shows the centile slider
    bool level_row;        // shows data level, automatic level and multi-resolution
    bool mask_row;         // shows the mask choice
    bool rank_pyramid;     // a rank filter whose pyramid divisors and mask centile follow the mask
    bool anisotropy;       // the centile slider holds the filter anisotropy (centile_alt)
};

// The traits of filter kind k; FILTER_NONE's (all false) outside 0..12.
const filter_traits& filter_traits_of(int kind);

// The rows of the Process page a filter choice uses.
struct filter_rows {
    bool centile;               // the centile slider, labelled centile_label
    bool level;                 // data level, automatic level, multi-resolution
    bool mask;                  // the mask choice (and its orientation for line and ellipse)
    const char* centile_label;  // "Mask centile:", "Filter anisotropy:" or " "
    int centile_value;          // the field the centile slider shows
};

// The fields that follow the filter choice: the mask centile, the anisotropy (centile_alt)
// and the pyramid's two divisors.
struct choice_fields {
    int centile, centile_alt, first_divisor, later_divisor;
};
// Brings `f` in line with filter kind `filter` and mask kind `mask`, as below.
void follow_filter_choice(int filter, int mask, choice_fields& f);

// Brings the filter-dependent fields of the record in line with info.filter: the
// anisotropic filter's pyramid divisors (dev_values[3], [4]) are 30 for the anisotropic
// filter and 24 for the rank filters, its anisotropy centile_alt 5 or 6, and the rank
// filters' mask centile 4 for the varying mask and 8 for the others when it holds the
// other's default. Returns the rows the choice shows.
filter_rows apply_filter_choice();
