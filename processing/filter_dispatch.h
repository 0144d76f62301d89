// The "Filter" choice: which whole-image entry point each value runs.
#pragma once

#include "core/codes.h"
#include "processing/filter_entries.h"

// The choice's label for filter kind k (untranslated), or null outside 0..12.
const char* filter_label(int kind);

// Runs filter p.filter on img (centile p.centile); an unknown kind copies the input.
void run_filter(const filter_image& img, const filter_params& p);
