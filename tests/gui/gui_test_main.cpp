// GUI tests: the real MyApp and MyFrame in a real window (run under Xvfb by CTest).
// wx is started once; each test runs the program's start-up and closes its window.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/log.h>

#include "app/main_app.h"

wxIMPLEMENT_APP_NO_MAIN(MyApp);

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int wx_argc = 1;
    char name[] = "voxmira", *wx_argv[] = {name, nullptr};
    if (!wxEntryStart(wx_argc, wx_argv)) {
        std::fprintf(stderr, "cannot start wxWidgets (no display?)\n");
        return 1;
    }
    // Warnings go to stderr instead of blocking the run with a dialog.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    // Settings (Open Recent, help window) go to a file of this run, not the user's.
    const wxString settings = wxFileName::CreateTempFileName("voxmira_gui_settings");
    delete wxConfigBase::Set(new wxFileConfig("voxmira-gui-tests", "", settings, "", wxCONFIG_USE_LOCAL_FILE));
    const int result = RUN_ALL_TESTS();
    wxRemoveFile(settings);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
