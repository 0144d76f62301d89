// Helpers for driving the real program in GUI tests.
#pragma once

#include <functional>
#include <vector>
#include <wx/string.h>

// Runs the program's start-up with these arguments (after the program name).
bool start_program(const std::vector<wxString>& args);

// Processes pending events until `done` returns true or `seconds` pass; returns done().
bool pump_until(const std::function<bool()>& done, double seconds = 5.0);

// Processes pending events for a while.
void pump_for(double seconds);
