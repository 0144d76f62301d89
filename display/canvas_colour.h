// What the window needs to know about colour spaces: names, channel names, channel tints
// and channel factors, for the colour and channel choices, the status read-out, the probe
// grid and the profile curves. One place, so the window does not depend on how the
// colour-space table is stored.
#pragma once

#include <wx/string.h>

const int colour_space_count = 10;

// Name of colour space c ("Grey", "RGB", ... "YUVdG"); empty outside 0..9.
wxString colour_space_name(int c);
// Number of channels of colour space c: 1 for Grey, 4 for 7, 8, 9, else 3.
int colour_space_channels(int c);
// Name of channel k (0-based) of colour space c.
wxString colour_channel_name(int c, int k);
// Tint (red, green, blue in 0..1) of channel k (0-based) of colour space c.
void colour_channel_tint(int c, int k, double rgb[3]);
// Channel factors of colour space c for data of colour space `source` (one value for
// Grey, else 3 or 4).
void colour_channel_factors(int c, double* factors, int source);
