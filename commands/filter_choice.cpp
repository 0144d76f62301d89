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

namespace {

// noise transform, centile row, level row, mask row, rank pyramid, anisotropy
const filter_traits traits_table[FILTER_KINDS] = {
    /* FILTER_NONE               */ {false, false, false, false, false, false},
    /* FILTER_MEAN               */ {true, false, false, true, false, false},
    /* FILTER_GAUSSIAN           */ {true, false, true, false, false, false},
    /* FILTER_MEDIAN             */ {false, false, true, true, false, false},
    /* FILTER_OPENING            */ {false, true, true, true, true, false},
    /* FILTER_CLOSING            */ {false, true, true, true, true, false},
    /* FILTER_OCCO               */ {false, true, true, true, true, false},
    /* FILTER_GRAIN              */ {false, false, false, false, false, false},
    /* FILTER_OCCO_LEVELLING     */ {false, true, false, true, false, false},
    /* FILTER_GAUSSIAN_LEVELLING */ {true, false, false, false, false, false},
    /* FILTER_GUIDED             */ {true, false, true, false, false, false},
    /* FILTER_ANISOTROPIC        */ {true, true, true, false, false, true},
    /* FILTER_BITONIC            */ {false, true, true, true, true, false},
};

}  // namespace

const filter_traits& filter_traits_of(int kind)
{
    return traits_table[kind >= 0 && kind < FILTER_KINDS ? kind : FILTER_NONE];
}

void follow_filter_choice(int filter, int mask, choice_fields& f)
{
    const filter_traits& t = filter_traits_of(filter);
    if (t.rank_pyramid) {
        for (int* d : {&f.first_divisor, &f.later_divisor})
            if (*d == 30) *d = 24;
        if (f.centile_alt == 5) f.centile_alt = 6;
        if (mask == MASK_VARYING) {
            if (f.centile == 8) f.centile = 4;
        } else if (f.centile == 4) {
            f.centile = 8;
        }
    } else if (t.anisotropy) {
        for (int* d : {&f.first_divisor, &f.later_divisor})
            if (*d == 24) *d = 30;
        if (f.centile_alt == 6) f.centile_alt = 5;
    }
}

filter_rows apply_filter_choice()
{
    const filter_traits& t = filter_traits_of(info.filter);
    choice_fields f{info.centile, info.centile_alt, pyramid_first_divisor(), pyramid_later_divisor()};
    follow_filter_choice(info.filter, info.mask, f);
    info.centile = f.centile;
    info.centile_alt = f.centile_alt;
    pyramid_first_divisor() = f.first_divisor;
    pyramid_later_divisor() = f.later_divisor;
    filter_rows rows{t.centile_row, t.level_row, t.mask_row, " ", 0};
    if (t.centile_row) {
        rows.centile_label = t.anisotropy ? "Filter anisotropy:" : "Mask centile:";
        rows.centile_value = t.anisotropy ? info.centile_alt : info.centile;
    }
    return rows;
}
