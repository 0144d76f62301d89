#include "gui_harness.h"

#include <wx/app.h>
#include <wx/stopwatch.h>
#include <wx/utils.h>

#include "app/main_app.h"

bool start_program(const std::vector<wxString>& args) { return wxGetApp().start_up(args); }

bool pump_until(const std::function<bool()>& done, double seconds)
{
    wxStopWatch watch;
    while (!done() && watch.Time() < seconds * 1000) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
    return done();
}

void pump_for(double seconds)
{
    pump_until([] { return false; }, seconds);
}
