// The window's view of the colour-space table of the processing code.
#include "display/canvas_colour.h"

#include "processing/colour.h"

namespace {

bool valid(int c) { return c >= 0 && c < colour_space_count; }

}  // namespace

wxString colour_space_name(int c) { return valid(c) ? colour_info[c].name : wxString(); }

int colour_space_channels(int c) { return valid(c) ? colour_channels((colour_t)c) : 3; }

wxString colour_channel_name(int c, int k)
{
    if (!valid(c) || k < 0 || k > 3) return wxString();
    return colour_info[c].channel_names[k];
}

void colour_channel_tint(int c, int k, double rgb[3])
{
    rgb[0] = rgb[1] = rgb[2] = 1.0;
    if (!valid(c) || k < 0 || k > 3) return;
    for (int i = 0; i < 3; i++) rgb[i] = colour_info[c].channel_colours[k][i];
}

void colour_channel_factors(int c, double* factors, int source)
{
    channel_factor((colour_t)c, factors, (colour_t)source);
}
