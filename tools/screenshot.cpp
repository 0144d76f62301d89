// Makes the README's picture: the real window on slice 6 of the bundled CT series with a
// profile line drawn by a Shift-drag and the histogram shown, then each control page.
// Writes shot_window.png (copy it to docs/screenshot.png), shot_canvas.png and
// shot_page0..3.png into the folder given (default: the current one).
// Build: cmake --build build --target voxmira_screenshot
// Run:   xvfb-run -a -s "-screen 0 1920x1200x24" build/tests/voxmira_screenshot [FOLDER]
// It drives the window with the GUI tests' helpers; `import` (ImageMagick) takes the shots.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <wx/app.h>
#include <wx/choice.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/splitter.h>

#include "app/gl_canvas.h"
#include "app/main_app.h"
#include "app/main_frame.h"
#include "core/record.h"
#include "gui/gui_data.h"
#include "gui/gui_events.h"
#include "gui/gui_harness.h"

wxIMPLEMENT_APP_NO_MAIN(MyApp);

namespace {

// The whole main window as the X server shows it, cropped from the root window.
bool save_window_shot(const std::string& path)
{
    const wxRect r = myframe->GetScreenRect();
    const std::string cmd = "import -window root -crop " + std::to_string(r.width) + "x" +
                            std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                            std::to_string(r.y) + " '" + path + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

bool take_shots(const std::string& folder)
{
    const wxString sample = VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0006.dcm";
    if (!start_program_shown({sample}) || info.raw_image == nullptr) {
        std::fprintf(stderr, "voxmira_screenshot: cannot open %s\n", (const char*)sample.utf8_str());
        return false;
    }
    myframe->splitter->SetSashPosition(620);
    set_canvas_size(620, 560);

    // A profile through both metal inserts, drawn as a user would, and the histogram.
    drag(wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 160, 287, 460, 287, true);
    press_key('H');
    mouse(wxEVT_MOTION, 330, 300);
    myframe->canvas->Refresh(false);
    pump_for(0.5);
    int w, h;
    std::vector<unsigned char> canvas = canvas_pixels(w, h);
    bool ok = wxImage(w, h, canvas.data(), true).SaveFile(folder + "/shot_canvas.png", wxBITMAP_TYPE_PNG);
    ok = save_window_shot(folder + "/shot_window.png") && ok;

    // Each control page, with the bitonic filter so that every Process row shows.
    choose(ID_FILTER, 12);
    for (int p = 0; p < 4; p++) {
        myframe->pages->SetSelection(p);
        pump_for(0.3);
        ok = save_window_shot(folder + "/shot_page" + std::to_string(p) + ".png") && ok;
    }
    close_program();
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    int wx_argc = 1;
    char name[] = "voxmira";
    char* wx_argv[] = {name, nullptr};
    if (!wxEntryStart(wx_argc, wx_argv)) {
        std::fprintf(stderr, "voxmira_screenshot: cannot start wxWidgets (no display?)\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    // Settings (Open Recent) go to a file of this run, not the user's.
    const wxString settings = wxFileName::CreateTempFileName("voxmira_screenshot_settings");
    delete wxConfigBase::Set(new wxFileConfig("voxmira-screenshot", "", settings, "", wxCONFIG_USE_LOCAL_FILE));
    const bool ok = take_shots(folder);
    wxRemoveFile(settings);
    if (!ok) std::fprintf(stderr, "voxmira_screenshot: a picture could not be written\n");
    wxTheApp->OnExit();
    wxEntryCleanup();
    return ok ? 0 : 1;
}
