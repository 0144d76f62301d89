#include "app/main_app.h"

#include <wx/filesys.h>
#include <wx/fs_inet.h>
#include <wx/image.h>

#include "commands/command_line.h"
#include "app/deferred_input.h"
#include "app/gui_ui.h"
#include "app/main_frame.h"
#include "core/memory.h"
#include "core/record.h"
#include "commands/startup.h"
#include "app/version.h"
#include "commands/metal_run.h"
#include "commands/open_data_set.h"
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <wx/log.h>
#include "app/gl_canvas.h"
#include "help/update_check.h"
#include "commands/pipeline.h"
#include "core/ui.h"


MyApp::MyApp() { setenv("GTK_OVERLAY_SCROLLING", "0", 0); }

bool MyApp::OnInit()
{
    // A write past a file-size limit then fails and the save reports it, rather than the
    // signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<wxString> args;
    for (int i = 1; i < argc; i++) args.push_back(argv[i]);
    if (start_up(args)) return true;
    // A finished batch run: OnRun reports its status instead of running the event loop.
    return batch_finished;
}

bool MyApp::OnExceptionInMainLoop()
{
    try {
        throw;
    } catch (const memory_refused&) {
    } catch (const std::bad_alloc&) {
        wxLogWarning(_("not enough memory for this command"));
    } catch (const std::length_error&) {
        wxLogWarning(_("not enough memory for this command"));
    }
    // Any other exception has left this function as the toolkit's default would.
    return true;
}

int MyApp::OnRun()
{
    if (batch_finished) return batch_status;
    return wxApp::OnRun();
}

bool MyApp::start_up(const std::vector<wxString>& args)
{
    batch_finished = false;
    batch_status = 0;
    static bool once = false;
    if (!once) {
        once = true;
        wxInitAllImageHandlers();
        keep_freed_memory();
        gui_install_ui_hooks();
        install_deferred_input();
        // Help and update pages are read through the file system.
        wxFileSystem::AddHandler(new wxInternetFSHandler);
    }

    // 1. Every array absent; the histogram has 256 bins.
    info.raw_image = info.sampled_image = info.aux_image = nullptr;
    info.noise_image = info.ref_image = info.processed_image = nullptr;
    info.display_image = nullptr;
    info.histogram_bins = 256;
    delete[] info.histogram;
    info.histogram = new int[info.histogram_bins]();

    // 2. Defaults.
    reset_info();

    // 3. Command line.
    const command_line_t cmd = parse_command_line(args);
    info.file_name = cmd.file_name;

    // 4-8. Load, derive the first view, size the canvas to the image.
    load_startup_file();
    derive_first_view();
    pair_reference();

    // 9. First pipeline run. A file too large to process here (the stage has said so)
    // leaves the window empty.
    try {
        sample_image();
        process_image();
    } catch (const std::bad_alloc&) {
        reset_info();
        derive_first_view();
    }

    // 10-11. The main window.
    const wxString title = wxString("Voxmira v") + VOXMIRA_VERSION;
    myframe = new MyFrame(title, wxDefaultPosition,
                          wxSize(ctrl_width + info.window_width + 70, info.window_height + 82));
    if (info.raw_image) myframe->remember_file(info.file_name);
    myframe->reset_controls();
    myframe->Show(true);

    // 12. Idle handler.
    Bind(wxEVT_IDLE, &MyApp::OnIdle, this);

    // 14. The update check runs in the background and never delays start-up; it speaks
    // only when a newer version exists.
    if (!cmd.batch && update_check_due(wxDateTime::Now())) start_background_update_check();

    // 15. Batch mode: correct every frame, then end.
    if (cmd.batch) {
        MyFrame* frame = myframe;
        frame->Refresh();
        frame->Update();
        const wxString refusal = mar_data_refusal();
        int written = 0;
        if (!refusal.empty())
            std::fprintf(stderr, "voxmira: cannot create MAR data from \"%s\": %s\n",
                         (const char*)cmd.file_name.utf8_str(), (const char*)refusal.utf8_str());
        else
            written = mdt_all_frames(nullptr);
        if (refusal.empty() && written == 0)
            std::fprintf(stderr, "voxmira: no corrected frame was written (%s)\n",
                         (const char*)ui_last_status(2).utf8_str());
        else if (written > 0)
            std::fprintf(stderr, "%s (%i frames)\n", (const char*)ui_last_status(2).utf8_str(), written);
        batch_finished = true;
        batch_status = written > 0 ? 0 : 1;
        // The close handler forgets the global frame and schedules its destruction.
        frame->Close(true);
        frame->Destroy();
        reset_info();
        return false;
    }
    return true;
}

int MyApp::OnExit()
{
    release_array(info.display_image);
    return wxApp::OnExit();
}

void MyApp::OnIdle(wxIdleEvent& event)
{
    event.Skip();
    if (key) return;
    key = 1;
    if (myframe && myframe->canvas) {
        MyGLCanvas* canvas = myframe->canvas;
        if (canvas->redraw_pending) {
            canvas->Refresh(false);
            canvas->Update();
            canvas->redraw_pending = false;
        }
        if (canvas->status_pending) {
            myframe->update_zoom_crop_status();
            canvas->status_pending = false;
        }
    }
    poll_background_update_check();
    key = 0;
    replay_deferred_input();
}
