// The application object: start-up, the idle handler and batch mode.
#pragma once

#include <vector>
#include <wx/app.h>

class MyApp : public wxApp {
public:
    // Runs before the toolkit starts: scrollbars stay drawn (GTK hides overlay scrollbars
    // until the pointer finds them, so a clipped control page looked as if it could not
    // scroll).
    MyApp();
    bool OnInit() override;
    // Start-up with the arguments after the program name: returns true when the main
    // window is open and the event loop should run, false when batch mode has finished.
    // OnInit calls it; the GUI tests call it again for each program run they simulate.
    bool start_up(const std::vector<wxString>& args);
    int OnExit() override;
    int OnRun() override;
    // An allocation failure that leaves an event handler: the stage it struck has undone
    // its work and said so (or is named here); the program goes on with the data it had.
    bool OnExceptionInMainLoop() override;
    // Set when start-up ran a batch correction: its exit status (0 when frames were written).
    bool batch_finished = false;
    int batch_status = 0;
    void OnIdle(wxIdleEvent& event);
};

wxDECLARE_APP(MyApp);
