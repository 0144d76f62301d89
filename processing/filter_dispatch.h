// The "Filter" choice: which whole-image entry point each value runs.
#pragma once

#include "core/codes.h"

// The choice's label for filter kind k (untranslated), or null outside 0..12.
const char* filter_label(int kind);

// Whether the current filter choice is one this version runs (every entry of the
// choice); a choice that did not would pass its input through and must then report no
// filtering time and no gain.
bool filter_available();

// Runs the filter of info.filter on sampled_image into processed_image; an unknown kind
// copies the input.
void run_filter();
