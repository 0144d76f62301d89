// What the filter and colour choices change in the record beyond their own field, the
// same for the window and the batch tool.
#pragma once

// Whether colour space `colour` may be chosen for data of layout `data_colour`: RGB data
// any space but the layouts RGB Alpha, RAW Bayer and YUVdG; RGB Alpha data Grey or itself;
// RAW Bayer data Grey, itself or YUVdG; grey data only Grey; other layouts any space.
bool colour_allowed(int data_colour, int colour);

// The rows of the Process page a filter choice uses.
struct filter_rows {
    bool centile;               // the centile slider, labelled centile_label
    bool level;                 // data level, automatic level, multi-resolution
    bool mask;                  // the mask choice (and its orientation for line and ellipse)
    const char* centile_label;  // "Mask centile:", "Filter anisotropy:" or " "
    int centile_value;          // the field the centile slider shows
};

// Brings the filter-dependent fields of the record in line with info.filter: the
// anisotropic filter's pyramid divisors (dev_values[3], [4]) are 30 for the anisotropic
// filter and 24 for the rank filters, its anisotropy centile_alt 5 or 6, and the rank
// filters' mask centile 4 for the varying mask and 8 for the others when it holds the
// other's default. Returns the rows the choice shows.
filter_rows apply_filter_choice();
