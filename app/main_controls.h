// The control pages as data: one row per control (page, id, kind, labels, range, record
// field, handler). The pages are built from this table and reset_controls walks it for
// values and ranges; only the genuinely special rules are code.
#pragma once

#include <vector>

class MyFrame;
class wxCommandEvent;

enum class control_kind { check, slider, choice, button };

// What the common handler re-runs after storing a control's value.
enum class control_redo {
    none,     // taken up by the next reconstruction or metal-artefact run
    display,  // rebuild the display image
    process,  // filter again
    sample,   // sub-sample and filter again
};

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
    void (*store)(long long); // stores a new value; null when `handler` does it
    control_redo redo;        // what the common handler re-runs after storing
    bool resets;              // the value shows or hides other rows: reset_controls first
    bool only_changes;        // an event repeating the stored value does nothing
    void (MyFrame::*handler)(wxCommandEvent&);  // a control with its own rules, or null
    bool joins_previous;      // shares the sizer row of the row before
};

const std::vector<control_row>& control_table();
const control_row* find_control_row(int id);

// Names of the four pages.
extern const char* const control_page_names[4];
