// The control pages as data: one row per control (page, id, kind, labels, range, record
// field, handler). The pages are built from this table and reset_controls walks it for
// values and ranges; only the genuinely special rules are code.
#pragma once

#include <vector>

class MyFrame;
class wxCommandEvent;

enum class control_kind { check, slider, choice, button };

// Pages: 0 "Display", 1 "Process", 2 "CT Recon", 3 "CT Metal", 4 below the pages.
struct control_row {
    int page;
    int id;
    control_kind kind;
    const char* prefix;       // static label left of the control, or null
    const char* text;         // text on a check box or button, or null
    int lo, hi;               // slider range (initial; some follow the data in reset_controls)
    const char* const* items; // choice items, null-terminated; null when filled at run time
    long long (*value)();     // the record field shown, null for buttons
    void (MyFrame::*handler)(wxCommandEvent&);  // null: bound by hand (frame slider)
    bool joins_previous;      // shares the sizer row of the row before
};

const std::vector<control_row>& control_table();
const control_row* find_control_row(int id);

// Names of the four pages.
extern const char* const control_page_names[4];
// The eight interpolation names, in interp_t order.
extern const char* const interp_names[];
