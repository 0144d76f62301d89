// The seam between the core and whichever program hosts it.
//
// The core never creates a window. It reports status text, progress and yields through
// these calls; the desktop program installs hooks that drive the status bar, progress
// dialogs and wxSafeYield, and the batch tool installs console hooks. Warnings are not
// part of the seam: they go through wxLogWarning, which the GUI shows as a dialog and
// the batch tool prints to stderr.
#pragma once

#include <wx/string.h>

struct ui_hooks {
    // Text for status-bar field 0 (messages, comparison), 1 (zoom, crop, windowing) or
    // 2 (timings, pixel read-out).
    void (*status)(int field, const wxString& text) = nullptr;
    // Starts a progress report of `maximum` steps; `can_cancel` offers a Cancel button.
    void (*progress_begin)(const wxString& title, const wxString& message, int maximum,
                           bool can_cancel) = nullptr;
    // Reports step `value` (0..maximum); returns false when the user asked to cancel.
    bool (*progress_update)(int value, const wxString& message) = nullptr;
    // Ends the current progress report (safe when none is running).
    void (*progress_end)() = nullptr;
    // Lets the host process pending events during a long operation.
    void (*yield)() = nullptr;
    // Shows a result that is still being built (sampled_image): the host runs the
    // pipeline on it and repaints.
    void (*redraw)() = nullptr;
    // Repaints the display image as it stands (a long run rebuilt it).
    void (*repaint)() = nullptr;
};

// Installs the hooks; null members fall back to the console behaviour.
void ui_install(const ui_hooks& hooks);

void ui_status(int field, const wxString& text);
// The last text set for a status field (for the batch tool's reports and the tests).
wxString ui_last_status(int field);
void ui_progress_begin(const wxString& title, const wxString& message, int maximum,
                       bool can_cancel);
bool ui_progress_update(int value, const wxString& message = wxString());
void ui_progress_end();
void ui_yield();
void ui_redraw();
void ui_repaint();

// A long run in the core (metal-artefact reduction, reconstruction) that yields to the
// event loop: while one is active the host holds back input that would change or free
// what it uses, as it does while the pipeline runs.
bool ui_long_run_active();
class ui_long_run {
public:
    ui_long_run();
    ~ui_long_run();
    ui_long_run(const ui_long_run&) = delete;
    ui_long_run& operator=(const ui_long_run&) = delete;
};

// Scoped progress report: ends the report however the scope is left.
class ui_progress {
public:
    ui_progress(const wxString& title, const wxString& message, int maximum, bool can_cancel)
    {
        ui_progress_begin(title, message, maximum, can_cancel);
    }
    ~ui_progress() { ui_progress_end(); }
    bool update(int value, const wxString& message = wxString())
    {
        return ui_progress_update(value, message);
    }
    ui_progress(const ui_progress&) = delete;
    ui_progress& operator=(const ui_progress&) = delete;
};

// A run the user may cancel (the filtering of the view): while one is active, the host may
// ask for it to stop (a newer slider value, the Escape key). The run's row bands notice at
// their next check and unwind with ui_cancelled; the run then leaves the record as it was.
// Runs whose result is about to be written (saving, whole data sets) are not cancellable.
struct ui_cancelled {};
class ui_cancellable_run {
public:
    ui_cancellable_run();
    ~ui_cancellable_run();
    ui_cancellable_run(const ui_cancellable_run&) = delete;
    ui_cancellable_run& operator=(const ui_cancellable_run&) = delete;
};
// Whether a cancellable run is active, and for how many milliseconds it has been.
bool ui_cancellable_active();
long long ui_cancellable_elapsed_ms();
// Asks the active cancellable run to stop (nothing when none is active). Any thread.
void ui_request_cancel();
// Throws ui_cancelled when the active cancellable run was asked to stop. Any thread.
void ui_check_cancel();
