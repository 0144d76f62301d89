// The record rules of the filter and colour choices.
#include "commands/filter_choice.h"

#include "core/record.h"
#include "processing/colour.h"

bool colour_allowed(int data_colour, int colour)
{
    if (colour < 0 || colour >= COLOUR_SPACES) return false;
    switch (data_colour) {
    case COLOUR_GREY: return colour == COLOUR_GREY;
    case COLOUR_RGB: return colour != COLOUR_RGBA && colour != COLOUR_RAW && colour != COLOUR_YUVDG;
    case COLOUR_RGBA: return colour == COLOUR_GREY || colour == COLOUR_RGBA;
    case COLOUR_RAW: return colour == COLOUR_GREY || colour == COLOUR_RAW || colour == COLOUR_YUVDG;
    default: return true;
    }
}

filter_rows apply_filter_choice()
{
    filter_rows rows{false, false, false, " ", 0};
    switch (info.filter) {
    case 1: rows.mask = true; break;
    case 2: case 10: rows.level = true; break;
    case 3: rows.level = rows.mask = true; break;
    case 4: case 5: case 6: case 12:
        for (int k : {3, 4})
            if (info.dev_values[k] == 30) info.dev_values[k] = 24;
        if (info.centile_alt == 5) info.centile_alt = 6;
        if (info.mask == 1) {
            if (info.centile == 8) info.centile = 4;
        } else if (info.centile == 4) {
            info.centile = 8;
        }
        rows.centile = rows.level = rows.mask = true;
        rows.centile_label = "Mask centile:";
        rows.centile_value = info.centile;
        break;
    case 8:
        rows.centile = rows.mask = true;
        rows.centile_label = "Mask centile:";
        rows.centile_value = info.centile;
        break;
    case 11:
        for (int k : {3, 4})
            if (info.dev_values[k] == 24) info.dev_values[k] = 30;
        if (info.centile_alt == 6) info.centile_alt = 5;
        rows.centile = rows.level = true;
        rows.centile_label = "Filter anisotropy:";
        rows.centile_value = info.centile_alt;
        break;
    default: break;  // 0, 7, 9: no centile, level or mask rows
    }
    return rows;
}
