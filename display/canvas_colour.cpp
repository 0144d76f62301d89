// Until the colour-space table of the processing code is part of the build, the window
// keeps its own copy of the names, tints and factors it shows.
#include "display/canvas_colour.h"

#include <wx/translation.h>

namespace {

struct space_row {
    const char* name;
    const char* channels[4];
    double tints[4][3];
    double factors[4];
};

const space_row spaces[colour_space_count] = {
    {"Grey", {"Grey", "None", "None", "None"}, {{1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {0.577, 0, 0, 0}},
    {"RGB", {"Red", "Green", "Blue", "None"}, {{1, 0.3, 0.3}, {0.1, 1, 0.1}, {0.6, 0.6, 1}, {0, 0, 0}}, {1, 1, 1, 0}},
    {"HSV", {"Hue", "Saturation", "Value", "None"}, {{0.1, 1, 0.6}, {1, 0.5, 0.2}, {1, 1, 1}, {0, 0, 0}}, {0.5, 1.26, 0.75, 0}},
    {"YCbCr", {"Luminance", "Red Chroma", "Blue Chroma", "None"}, {{1, 1, 1}, {1, 0.3, 0.3}, {0.6, 0.6, 1}, {0, 0, 0}}, {0.574, 0.547, 0.577, 0}},
    {"CIE XYZ", {"Cone response", "Luminance", "Blue", "None"}, {{1, 0.5, 0.5}, {1, 1, 1}, {0.6, 0.6, 1}, {0, 0, 0}}, {0.575, 0.75, 0.958, 0}},
    {"CIE L*a*b", {"Lightness", "Red/Green", "Yellow/Blue", "None"}, {{1, 1, 1}, {1, 0.5, 0.2}, {0.7, 0.4, 1}, {0, 0, 0}}, {0.474, 0.513, 0.507, 0}},
    {"CIE L*C*h", {"Lightness", "Chroma", "Hue", "None"}, {{1, 1, 1}, {1, 0.5, 0.2}, {0.1, 1, 0.6}, {0, 0, 0}}, {0.474, 0.336, 0.5, 0}},
    {"RGB Alpha", {"Red", "Green", "Blue", "Alpha"}, {{1, 0.3, 0.3}, {0.1, 1, 0.1}, {0.6, 0.6, 1}, {1, 1, 1}}, {1, 1, 1, 1}},
    {"RAW Bayer", {"Red", "Green 1", "Blue", "Green 2"}, {{1, 0.3, 0.3}, {0.1, 1, 0.1}, {0.6, 0.6, 1}, {0.1, 1, 0.1}}, {1, 1, 1, 1}},
    {"YUVdG", {"Luminance", "Red Chroma", "Blue Chroma", "Delta Green"}, {{1, 1, 1}, {1, 0.3, 0.3}, {0.6, 0.6, 1}, {0.1, 1, 0.1}},
     {0.5037783375314862, 0.6265664160401002, 0.5154639175257733, 0.7072135785007072}},
};

bool valid(int c) { return c >= 0 && c < colour_space_count; }

}  // namespace

wxString colour_space_name(int c) { return valid(c) ? wxGetTranslation(spaces[c].name) : wxString(); }

int colour_space_channels(int c) { return c == 0 ? 1 : (c >= 7 && c <= 9 ? 4 : 3); }

wxString colour_channel_name(int c, int k)
{
    if (!valid(c) || k < 0 || k > 3) return wxString();
    return wxGetTranslation(spaces[c].channels[k]);
}

void colour_channel_tint(int c, int k, double rgb[3])
{
    rgb[0] = rgb[1] = rgb[2] = 1.0;
    if (!valid(c) || k < 0 || k > 3) return;
    for (int i = 0; i < 3; i++) rgb[i] = spaces[c].tints[k][i];
}

void colour_channel_factors(int c, double* factors, int source)
{
    if (c == 0) {
        factors[0] = (source == 8 || source == 9) ? 0.5 : 0.577;
        return;
    }
    const int n = colour_space_channels(c);
    for (int k = 0; k < n; k++) factors[k] = valid(c) ? spaces[c].factors[k] : 1.0;
}
