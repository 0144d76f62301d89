#include "gui_harness.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <wx/filename.h>
#include <wx/statusbr.h>
#include <wx/stopwatch.h>

#include "app/gl_canvas.h"
#include "app/main_app.h"
#include "app/main_frame.h"
#include "core/record.h"

bool start_program(const std::vector<wxString>& args)
{
    // Start-up takes the record's arrays as absent: free what an earlier run left behind.
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

void pump_for(double seconds) { pump_until([] { return false; }, seconds); }

bool start_program_shown(const std::vector<wxString>& args)
{
    return start_program(args) && pump_until([] { return myframe && myframe->IsShownOnScreen(); });
}

void close_program()
{
    if (myframe) myframe->Close(true);
    pump_until([] { return myframe == nullptr && wxTopLevelWindows.IsEmpty(); });
}

bool have_xdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

bool xdo(const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

std::string canvas_at(int x, int y)
{
    const wxPoint p = myframe->canvas->GetScreenPosition() + wxPoint(x, y);
    return std::to_string(p.x) + " " + std::to_string(p.y);
}

bool answer_file_dialog(const std::string& title, const std::string& path)
{
    return std::system(("(xdotool search --sync --onlyvisible --name '" + title +
                        "' windowfocus --sync; sleep 0.5; xdotool type --delay 20 '" + path +
                        "'; sleep 0.3; xdotool key Return) >/dev/null 2>&1 &").c_str()) == 0;
}

std::vector<char> file_bytes(const wxString& path)
{
    std::ifstream in(path.ToStdString(), std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

wxString status(int field) { return myframe->GetStatusBar()->GetStatusText(field); }

std::string temp_folder(const char* stem)
{
    const wxString dir = wxFileName::CreateTempFileName(stem);
    wxRemoveFile(dir);
    wxFileName::Mkdir(dir);
    return std::string(dir.utf8_str());
}
