// The filter settings of a call, as the keyword arguments give them (names already turned
// into numbers by the package): -1 where a setting was not given.
#pragma once

#include "commands/filter_run.h"
#include "module_support.h"

struct filter_settings {
    int filter = 0;
    int size = 3;
    int centile = -1;      // the window's default (4, or 8 for a fixed mask)
    int level = 256;
    int use_level = 1;
    int levelling = 0;     // level "auto"
    int multires = -1;     // pyramid levels; -1 no pyramid
    int mask = 2;
    int angle = 0;
    int noise = 0;
    int anisotropy = -1;   // the anisotropic filter's slider (centile_alt)
    int colour = -1;       // processing colour space; -1 the data's own
    int subsample = 1;
    int subsample_filter = 1;
};

// Reads and range-checks the settings (TypeError, ValueError).
void settings_of(const py::dict& d, filter_settings& s);

// The filter parameters and pyramid settings the window would have for these settings on
// data of layout `data_colour` (colour, channels, colour_processing and data_max are the
// caller's).
filter_params params_of(const filter_settings& s, int data_colour, pyramid_params& pyramid);
