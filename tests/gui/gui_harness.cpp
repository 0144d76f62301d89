#include "gui_harness.h"

#include <wx/app.h>
#include <wx/stopwatch.h>
#include <wx/utils.h>

#include "app/main_app.h"
#include "core/record.h"

bool start_program(const std::vector<wxString>& args)
{
    // Start-up takes the record's arrays as absent, as at a real program start; free what
    // an earlier run in this process left behind.
    reset_info();
    release_array(info.display_image);
    return wxGetApp().start_up(args);
}

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
