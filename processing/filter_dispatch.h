// The "Filter" choice: which whole-image entry point each value runs.
#pragma once

// Number of entries in the filter choice, 0 "No filtering" to 12 "Bitonic filter".
enum { FILTER_KINDS = 13 };

// The choice's label for filter kind k (untranslated), or null outside 0..12.
const char* filter_label(int kind);

// Whether the current filter choice (with its mask) filters in this build; the others
// pass their input through and must not report a filtering time or a gain.
bool filter_available();

// Runs the filter of info.filter on sampled_image into processed_image; an unknown kind
// copies the input.
void run_filter();
