// Helpers for driving the real program in GUI tests.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <wx/log.h>
#include <wx/string.h>

#include "app/version.h"

// The main window's title for `rest` (empty, or ": 'name'..." as the frame writes it).
inline wxString titled(const char* rest = "") { return wxString("Voxmira v") + VOXMIRA_VERSION + rest; }

// Runs the program's start-up with these arguments (after the program name).
bool start_program(const std::vector<wxString>& args);
// start_program, then waits until the main window is on the screen.
bool start_program_shown(const std::vector<wxString>& args);
// Closes the main window and waits until it is gone.
void close_program();

// Processes pending events until `done` returns true or `seconds` pass; returns done().
bool pump_until(const std::function<bool()>& done, double seconds = 5.0);
void pump_for(double seconds);

// Real input through the X server: whether xdotool is installed, one xdotool command
// (true when it succeeded), and the screen position of canvas pixel (x, y).
bool have_xdotool();
bool xdo(const std::string& args);
std::string canvas_at(int x, int y);
// In the background: once the modal file dialog titled `title` shows, types `path` into it
// and confirms; true when the helper started.
bool answer_file_dialog(const std::string& title, const std::string& path);

std::string temp_folder(const char* stem);        // a new empty folder under the temporary one
std::vector<char> file_bytes(const wxString& path);  // none when it cannot be read
wxString status(int field);                       // the main window's status bar field

// Collects what is logged while it lives, instead of showing it.
class log_capture : public wxLog {
public:
    std::vector<std::string> messages;
    log_capture() : previous(wxLog::SetActiveTarget(this)) {}
    ~log_capture() override { wxLog::SetActiveTarget(previous); }

protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString& text) override { messages.push_back(text.ToStdString()); }

private:
    wxLog* previous;
};
